#pragma once
// The faults of one slot (障害シミュレーション): each direction's every fault, a field per key of
// the faults' text form, empty for none. Run modally by the port panel on a working copy of the
// slot's live faults: OK checks every field by the text form's own ranges (a message naming the
// first bad field and what it takes, the dialog staying open) and only then writes the copy;
// Cancel, Escape and the close box leave it as it was. すべてクリア empties every field.
#include <array>
#include <string>

#include "net/Faults.h"
#include "ui/Dialog.h"

class CFaultDlg : public ui::CDialog {
  Q_OBJECT
public:
  // %1 the field's label, %2 the text typed, %3 what the field takes.
  static constexpr const char* kBadValue = "「%1」の値「%2」は使えません (%3)";
  using Fields = std::array<std::string, net::kFaultKeys>;  // as typed, in the text form's order

  explicit CFaultDlg(net::Faults& working);  // the caller's, outliving the dialog
  ~CFaultDlg() override;

  Fields up, down;  // bound to the controls

  // The field's label, as the message names it: "上り" or "下り" and the row's words.
  static std::string label(bool downward, std::size_t key);

protected:
  void doDataExchange(ui::CDataExchange& dx) override;
  bool onInitDialog() override;
  void onOK() override;

private:
  void onClear();
  // Reads one direction's fields into `set`; false after the message for the first bad one.
  bool take(bool downward, const Fields& fields, net::FaultSet& set);

  net::Faults& working_;  // not owned
};
