#pragma once
// The table of one slot's relayed connections: the client side and the outgoing side of every
// pair, with addresses, ports, peak buffer use, bytes each way and age. Run modally; while it is
// open it reads the table again once a second, so ended pairs go and new ones come, and the
// selected connection stays selected while it lives.
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

  // Reads the connection table into the list; the timer calls it while the dialog is open.
  void refresh();

protected:
  void doDataExchange(ui::CDataExchange& dx) override;
  bool onInitDialog() override;

private:
  void insertColumns();
  std::uint64_t selectedSerial() const;

  QTimer refreshTimer;
  std::vector<std::uint64_t> rowSerials;  // the pair behind each row, by its serial
  void widenAddressColumns();
};
