#pragma once
// The traffic view (通信内容) of one slot's capture: the connections held, and the chosen one's
// pieces in time order, each headed by its direction and time, as hex and text or as text decoded
// as UTF-8 or Shift-JIS. While it is open a timer reads the capture again and appends only what
// came since; a connection the capture no longer holds is said to be gone rather than shown as it
// was. The chosen connection or the whole capture is saved as a pcapng or pcap file.
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/PcapWriter.h"
#include "dialogs/TrafficText.h"
#include "ui/Dialog.h"

class CaptureStore;
class QPlainTextEdit;
namespace ui {
class CListView;
}

class CTrafficDlg : public ui::CDialog {
  Q_OBJECT
public:
  static constexpr int kRefreshMs = 250;
  static constexpr const char* kNothingCaptured =
      "通信内容は記録されていません。記録をONにすると、それ以降の接続が記録されます。";
  static constexpr const char* kNoConnection = "記録された接続はまだありません。";
  static constexpr const char* kGone = "接続 #%1 の記録はもうありません（記録の上限を超えると古い接続から消えます）。";
  static constexpr const char* kSaveTitle = "通信内容を保存";
  static constexpr const char* kSaveFailed = "通信内容を保存できませんでした: %1";
  static constexpr const char* kPcapngFilter = "pcapng (*.pcapng)";  // the file dialog's first choice
  static constexpr const char* kPcapFilter = "pcap (*.pcap)";

  // `capture` is asked again at every refresh (null: nothing captured) and what it gives must
  // outlive the call; `serial` is the connection shown first (0: the newest).
  explicit CTrafficDlg(std::function<const CaptureStore*()> capture, std::uint64_t serial = 0);
  ~CTrafficDlg() override;

  ui::CListView* list() const;   // control 1150
  QPlainTextEdit* text() const;  // control 1156
  std::uint64_t shownSerial() const { return serial_; }
  // Reads the capture again: the list, then the pieces that came since; the timer calls it.
  void refresh();
  // The connection shown (or, with `all`, every one held) written to `path`; a failure is told
  // in a box.
  bool exportTo(const std::string& path, bool all, PcapFormat format);

protected:
  bool onInitDialog() override;

private:
  void insertColumns();
  void syncList(const CaptureStore* store);
  void setCells(int row, const CapturedConnection& c);
  void selectShown();
  void onRowChosen(int row);
  void onLayoutChosen();
  void showPieces(const CaptureStore* store);
  void showMessage(const QString& message);
  void appendText(const std::string& more);
  void onSave(bool all);

  std::function<const CaptureStore*()> capture_;
  std::uint64_t serial_;                             // the connection chosen; 0 until there is one
  const CaptureStore* store_ = nullptr;              // the one the list and the view were read from
  std::unique_ptr<traffic::Transcript> transcript_;  // null while no connection's bytes are shown
  QString message_;                                  // what the view says instead of bytes
  traffic::Layout layout_ = traffic::Layout::hex;
  traffic::Encoding encoding_ = traffic::Encoding::utf8;
  std::vector<std::uint64_t> rowSerials_;  // the connection of each row, by its serial
  std::vector<bool> rowEnded_;             // an ended connection's row is final
  QTimer timer_;
};
