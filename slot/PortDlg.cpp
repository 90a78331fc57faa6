#include "slot/PortDlg.h"

#include <QMenu>

#include "dialogs/AccessDlg.h"
#include "dialogs/StatusDlg.h"
#include "res/Resource.h"
#include "ui/DataExchange.h"
#include "ui/MessageBox.h"
#include "ui/SpinButton.h"

namespace {
constexpr int kMaxPort = 65535;
}

CPortDlg::CPortDlg() : ui::CDialog(IDD_PORT_PANEL) {
  onCommand(IDC_ACTIVE, &CPortDlg::onToggle);
  onCommand(IDC_SETTINGS, &CPortDlg::onSettings);
  onCommand(IDC_CONFIRM, &CPortDlg::onConfirm);
  onCommand(ID_PANEL_ACCESS, &CPortDlg::onAccess);
}

CPortDlg::~CPortDlg() {
  // A panel going away must not leave the shared dialog pointing at it.
  if (settingsDialog) settingsDialog->release(this);
  repeater.setListener(nullptr);  // the widgets below go before the repeater does
}

void CPortDlg::doDataExchange(ui::CDataExchange& dx) {
  ui::ddxText(dx, IDC_COUNT, countText);
  ui::ddxText(dx, IDC_FORWARD_PORT, forwardPortText);
  ui::ddxText(dx, IDC_FORWARD_HOST, forwardHost);
  ui::ddxCheck(dx, IDC_ACTIVE, act);
}

std::optional<QColor> CPortDlg::controlColor(int id, res::ControlKind kind) const {
  using K = res::ControlKind;
  if (kind == K::PushButton || kind == K::CheckBox) return kBackground;
  if (kind != K::Static && kind != K::GroupBox) return std::nullopt;
  if (id == IDC_FORWARD_PORT || id == IDC_FORWARD_HOST || id == IDC_LISTEN_GROUP) return kValue;
  if (id == IDC_COUNT) return connectionCount > 0 ? kActive : kValue;
  return kBackground;
}

void CPortDlg::showListenCaption() {
  setItemText(IDC_LISTEN_GROUP, "TCP:" + std::to_string(listenPort));
}

void CPortDlg::initSlot() {
  connectionCount = 0;
  loadSettings();
  countText = std::to_string(connectionCount);
  forwardPortText = std::to_string(forwardPort);
  showListenCaption();
  updateData(false);
  onToggle();  // as if clicked: a slot saved as ON is validated, started and saved now
}

void CPortDlg::refuseSwitchOn(const std::string& message) {
  ui::messageBox(message, this);
  act = 0;
  updateData(false);
}

void CPortDlg::onToggle() {
  updateData(true);
  if (const std::string refusal = toggleSlot(act); !refusal.empty()) {
    refuseSwitchOn(refusal);
    return;
  }
  setItemText(IDC_ACTIVE, act ? "ON" : "OFF");
}

void CPortDlg::onSettings() {
  updateData(true);
  if (act != 0) {
    ui::messageBox(kPortInUse, this);
    return;
  }
  if (!settingsDialog || !settingsDialog->isFree()) {
    ui::messageBox(kSettingBusy, this);
    return;
  }
  if (!settingsDialog->isCreated()) settingsDialog->create(window());
  settingsDialog->beginEdit(this);
  fillSettingsDialog(*settingsDialog);
  settingsDialog->show();  // modeless: the panel stays usable
  settingsDialog->raise();
  settingsDialog->activateWindow();
}

void CPortDlg::fillSettingsDialog(CSettingDlg& dialog) {
  dialog.listenPortSpin->setRange(0, kMaxPort);
  dialog.listenPortSpin->setPos(listenPort);
  dialog.host = forwardHost;
  dialog.destinationPortSpin->setRange(0, kMaxPort);
  dialog.destinationPortSpin->setPos(forwardPort);
  const bool local = CSettingDlg::isLocalHostName(forwardHost);
  dialog.localhost = local ? 1 : 0;
  dialog.enableItem(IDC_HOST_EDIT, !local);
  editFilter = filter;
  dialog.filterCopy = &editFilter;
  dialog.updateData(false);
}

void CPortDlg::onSettingOk() {
  CSettingDlg& dialog = *settingsDialog;
  dialog.updateData(true);
  listenPort = dialog.listenPortSpin->pos();
  showListenCaption();
  forwardHost = dialog.host;
  forwardPort = dialog.destinationPortSpin->pos();
  forwardPortText = std::to_string(forwardPort);
  filter = editFilter;
  updateData(false);
  saveSettings();
}

void CPortDlg::notifyOnConnectionCount(int count) {
  CPortSlot::notifyOnConnectionCount(count);
  countText = std::to_string(count);
  updateData(false);  // also recolours the count field
}

void CPortDlg::onConfirm() {
  if (connectionCount <= 0) {
    ui::messageBox(kNoConnections, this);
    return;
  }
  CStatusDlg status;
  status.repeater = &repeater;
  status.doModal(window());
}

void CPortDlg::addContextEntries(QMenu& menu) const {
  menu.addAction(QString::fromUtf8(kAccessEntry))->setData(ID_PANEL_ACCESS);
  QAction* refused = menu.addAction(QString::fromUtf8(kRefusedEntry).arg(repeater.refusedCount()));
  refused->setData(ID_PANEL_REFUSED);
  refused->setEnabled(false);  // a count to read, nothing to do
}

void CPortDlg::onAccess() {
  updateData(true);
  if (act != 0) {
    ui::messageBox(kPortInUse, this);
    return;
  }
  // The working copies; an open settings dialog of this panel holds the same filter copy and,
  // on its OK, finds it equal to the live filter again.
  editFilter = filter;
  editListenHost = listenHost;
  CAccessDlg dialog(editFilter, editListenHost);
  if (dialog.doModal(window()) != IDOK) return;
  filter = editFilter;
  listenHost = editListenHost;
  saveAccessSettings();
}
