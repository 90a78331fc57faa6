#pragma once
// Who may connect to one slot, and the local address it listens on. Run modally by the port
// panel on the slot's working copies of its filter and listen address: they are written only
// by OK, so Cancel, Escape and the close box leave them as they were.
#include <string>
#include <vector>

#include "ui/Dialog.h"

class CIpFilter;

class CAccessDlg : public ui::CDialog {
  Q_OBJECT
public:
  static constexpr const char* kBadRule = "ルール「%1」を解釈できません。\n例: 192.168.1.0/24、2001:db8::/32";
  static constexpr const char* kTooManyRules = "ルールは10個までです";
  static constexpr const char* kBadListenHost = "待ち受けアドレス「%1」はIPアドレスではありません";

  // Both are the caller's and must outlive the dialog.
  CAccessDlg(CIpFilter& workingFilter, std::string& workingListenHost);
  ~CAccessDlg() override;

  int mode = 0;            // radio group 1030..1033, in the filter's mode order
  std::string listenHost;  // edit box 1042

  // The rules the list box shows, top to bottom.
  std::vector<std::string> rules(int listId) const;

protected:
  void doDataExchange(ui::CDataExchange& dx) override;
  bool onInitDialog() override;
  void onOK() override;

private:
  bool addRule(int editId, int listId);
  void removeRule(int listId);
  void fillList(int listId, const std::string* entries, int count);
  int takeList(int listId, std::string* entries, int oldCount) const;

  CIpFilter& filter_;        // not owned
  std::string& listenHost_;  // not owned
};
