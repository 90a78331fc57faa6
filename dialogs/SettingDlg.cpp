#include "dialogs/SettingDlg.h"

#include <QString>

#include "res/Resource.h"
#include "ui/DataExchange.h"
#include "ui/MessageBox.h"
#include "ui/SpinButton.h"

CSettingDlg::CSettingDlg() : ui::CDialog(IDD_SETTING) { onCommand(IDC_LOCALHOST, &CSettingDlg::onLocalhost); }

CSettingDlg::~CSettingDlg() = default;

bool CSettingDlg::isLocalHostName(const std::string& host) {
  const QString upper = QString::fromStdString(host).toUpper();
  return upper == QLatin1String("LOCALHOST") || upper == QLatin1String(kLocalAddress);
}

void CSettingDlg::doDataExchange(ui::CDataExchange& dx) {
  ui::ddxControl(dx, IDC_FORWARD_PORT_SPIN, destinationPortSpin);
  ui::ddxControl(dx, IDC_LISTEN_PORT_SPIN, listenPortSpin);
  ui::ddxText(dx, IDC_HOST_EDIT, host);
  ui::ddxCheck(dx, IDC_LOCALHOST, localhost);
}

void CSettingDlg::beginEdit(CSettingDlgListener* newListener) {
  free = 0;
  listener = newListener;
  centerOn(centreWidget_);
  centrePending_ = !isVisible();
}

void CSettingDlg::showEvent(QShowEvent* event) {
  ui::CDialog::showEvent(event);
  if (!centrePending_) return;
  centrePending_ = false;
  centerOn(centreWidget_);
}

void CSettingDlg::release(CSettingDlgListener* owner) {
  if (owner && listener == owner) onCancel();
}

void CSettingDlg::finishEdit(int result) {
  listener = nullptr;
  filterCopy = nullptr;  // it belongs to the panel that just let go
  endDialog(result);     // modeless: this only hides the window
}

void CSettingDlg::onOK() {
  // The listener pulls the controls itself; free first, so it could reserve the dialog again.
  free = 1;
  if (listener) listener->onSettingOk();
  finishEdit(IDOK);
}

void CSettingDlg::onCancel() {
  free = 1;
  finishEdit(IDCANCEL);
}

void CSettingDlg::onLocalhost() {
  updateData(true);
  if (localhost == 0) {
    enableItem(IDC_HOST_EDIT, true);
    return;
  }
  if (isLocalHostName(host)) return;  // already local; the edit box keeps its state
  if (ui::askYesNo(kLocalhostQuestion, this) != ui::IDYES) return;
  host = kLocalAddress;
  enableItem(IDC_HOST_EDIT, false);
  updateData(false);
}
