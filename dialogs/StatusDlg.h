#pragma once
// The table of one slot's relayed connections: the client side and the outgoing side of every
// pair, with addresses, ports, peak buffer use, bytes each way and age. Run modally; while it is
// open it reads the table again once a second, so ended pairs go and new ones come, and the
// selected connections stay selected while they live. A click on a heading sorts by that column
// (again: the other way) and the order holds through the refreshes; Ctrl+C and the context menu
// copy the selected rows, and the menu closes the selected connections.
#include <QTimer>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "dialogs/ConnectionTable.h"
#include "ui/Dialog.h"

struct CTcpStreamPair;
class CUdpSession;
namespace ui {
class CListView;
}

class CStatusDlg : public ui::CDialog {
  Q_OBJECT
public:
  static constexpr int kRefreshMs = 1000;
  static constexpr const char* kCopyItem = "コピー";
  static constexpr const char* kCloseItem = "接続を切断";
  static constexpr const char* kTrafficItem = "通信内容...";

  CStatusDlg();
  ~CStatusDlg() override;

  ui::CListView* list = nullptr;  // control 1029, bound by data exchange
  // The walk over a slot's pairs (position from 0, null after the last); what it walks must
  // outlive the dialog's run.
  std::function<CTcpStreamPair*(int& position)> nextPair;
  // A UDP slot's walk over its sessions, listed after the pairs beside the address its listening
  // socket is bound to; may be empty.
  std::function<void(const std::function<void(const CUdpSession&)>& visit)> forEachSession;
  std::string listenAddress;
  int listenPort = 0;
  // Ends one live connection in order on both sides: a pair by its serial, or with `session` a
  // UDP session by its own; may be empty, and the menu's close item is then disabled.
  std::function<bool(std::uint64_t serial, bool session)> closeConnection;
  // Shows what the current row's connection carried (its serial, a session's too); may be
  // empty, and the menu's traffic item is then disabled.
  std::function<void(std::uint64_t serial)> showTraffic;

  // Reads the connection table into the list; the timer calls it while the dialog is open.
  void refresh();
  // The selected rows, headings first, as tab-separated lines onto the clipboard.
  void copySelection();
  // Ends every selected connection (closeConnection), then reads the table again.
  void closeSelection();
  // showTraffic for the current row.
  void showCurrentTraffic();

protected:
  void doDataExchange(ui::CDataExchange& dx) override;
  bool onInitDialog() override;
  bool eventFilter(QObject* watched, QEvent* event) override;  // Ctrl+C on the list

private:
  void insertColumns();
  void enableSorting();
  void showMenu(const QPoint& at);
  std::vector<connection_table::Row> readRows() const;
  void showRows(const std::vector<connection_table::Row>& rows);
  std::set<std::uint64_t> selectedSerials() const;
  std::uint64_t currentSerial() const;
  void reselect(const std::set<std::uint64_t>& keep, std::uint64_t current);

  QTimer refreshTimer;
  std::vector<std::uint64_t> rowSerials;  // the connection behind each row, by its serial
  int sortColumn = -1;                    // -1: the table's own order
  bool descending = false;
  void widenAddressColumns();
};
