#pragma once
// The advanced settings of one slot (詳細設定): its name, protocol, buffer size and time bounds,
// limits, source address, further destinations with their balance, and the PROXY header. Run
// modally by the port panel on a working copy of the slot's values: OK checks every field by the
// settings file's own rules (a message naming the first bad field, the dialog staying open) and
// only then writes the copy; Cancel, Escape and the close box leave it as it was.
#include <string>

#include "slot/AdvancedSettings.h"
#include "ui/Dialog.h"

class CAdvancedDlg : public ui::CDialog {
  Q_OBJECT
public:
  // %1 the field's label, %2 the text typed, %3 what the field takes.
  static constexpr const char* kBadValue = "「%1」の値「%2」は使えません (%3)";

  explicit CAdvancedDlg(advanced::Settings& working);  // the caller's, outliving the dialog
  ~CAdvancedDlg() override;

  advanced::Settings edited;  // bound to the controls
  int protocol = 0;           // radio group 1102..1103: 0 TCP, 1 UDP
  int acceptProxy = 0;        // check box 1117

protected:
  void doDataExchange(ui::CDataExchange& dx) override;
  bool onInitDialog() override;
  void onOK() override;

private:
  void groupRadios(int firstId, int count);
  void refuse(const advanced::Problem& problem);

  advanced::Settings& working_;  // not owned
};
