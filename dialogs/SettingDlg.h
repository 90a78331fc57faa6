#pragma once
// The one settings dialog all port panels share (modeless). A panel reserves it with beginEdit,
// fills it and shows it; OK or Cancel hides and frees it again, and OK tells the reserving panel,
// which then reads the values out of the members below. The dialog validates and stores nothing.
#include <QPointer>
#include <string>

#include "dialogs/SettingDlgListener.h"
#include "ui/Dialog.h"

class CIpFilter;
namespace ui {
class CSpinButton;
}

class CSettingDlg : public ui::CDialog {
  Q_OBJECT
public:
  static constexpr const char* kLocalhostQuestion = "localhost(同じPC内)への転送に変更しますか？";
  static constexpr const char* kLocalAddress = "127.0.0.1";

  CSettingDlg();
  ~CSettingDlg() override;

  // The window beginEdit centres the dialog on (the main window); not owned. Without one the
  // dialog is centred on the screen.
  void setCentreWidget(QWidget* widget) { centreWidget_ = widget; }

  // Reserves the dialog for `listener` and centres it. The caller fills and shows it.
  void beginEdit(CSettingDlgListener* listener);
  bool isFree() const { return free != 0; }
  // A panel that goes away while it holds the dialog takes its reservation back (as Cancel).
  void release(CSettingDlgListener* owner);

  // "localhost" in any mixture of case, or the loopback address: forwarding stays on this PC.
  static bool isLocalHostName(const std::string& host);

  // Bound to the controls by data exchange (valid once the window is created).
  ui::CSpinButton* destinationPortSpin = nullptr;  // 1026; its position is the destination port
  ui::CSpinButton* listenPortSpin = nullptr;       // 1027; its position is the listen port
  std::string host;                                // edit box 1022, as typed
  int localhost = 0;                               // check box 1023
  int free = 1;                                    // 1 = not reserved by any panel
  CSettingDlgListener* listener = nullptr;         // the reserving panel; not owned
  CIpFilter* filterCopy = nullptr;                 // the reserving panel's editFilter; not owned

protected:
  void doDataExchange(ui::CDataExchange& dx) override;
  void onOK() override;
  void onCancel() override;
  void showEvent(QShowEvent* event) override;

private:
  void onLocalhost();
  void finishEdit(int result);

  QPointer<QWidget> centreWidget_;
  bool centrePending_ = false;  // a hidden window has no frame yet; centre again once shown
};
