#pragma once
// The table of one slot's relayed connections as they stood when the dialog opened: the
// client side and the outgoing side of every pair, with addresses, ports and peak buffer use.
// Run modally; filled once and never refreshed.
#include "ui/Dialog.h"

class CTcpRepeater;
namespace ui {
class CListView;
}

class CStatusDlg : public ui::CDialog {
  Q_OBJECT
public:
  CStatusDlg();
  ~CStatusDlg() override;

  ui::CListView* list = nullptr;     // control 1029, bound by data exchange
  CTcpRepeater* repeater = nullptr;  // read only while the list is filled; not owned

protected:
  void doDataExchange(ui::CDataExchange& dx) override;
  bool onInitDialog() override;

private:
  void insertColumns();
  void fillRows();
  void widenAddressColumns();
};
