#include "slot/PortDlg.h"

#include "dialogs/CountText.h"
#include "dialogs/StatusDlg.h"
#include "res/Resource.h"
#include "ui/DataExchange.h"
#include "ui/MessageBox.h"
#include "ui/SpinButton.h"

namespace {
// The text a widget shows for `bytes`: bytes that are not UTF-8 become replacement characters.
std::string shownText(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toStdString();
}
}  // namespace

CPortDlg::CPortDlg() : ui::CDialog(IDD_PORT_PANEL) {
  onCommand(IDC_ACTIVE, &CPortDlg::onToggle);
  onCommand(IDC_SETTINGS, &CPortDlg::onSettings);
  onCommand(IDC_CONFIRM, &CPortDlg::onConfirm);
}

CPortDlg::~CPortDlg() {
  // A panel going away must not leave the shared dialog pointing at it.
  if (settingsDialog) settingsDialog->release(this);
  repeater.setListener(nullptr);  // the widgets below go before the repeater does
}

void CPortDlg::doDataExchange(ui::CDataExchange& dx) {
  ui::ddxText(dx, IDC_COUNT, countText);
  ui::ddxText(dx, IDC_FORWARD_PORT, forwardPortText);
  // Shown only: the label holds the host as text, and a host that is not UTF-8 would come
  // back changed. The host's bytes are taken from the settings dialog alone.
  if (!dx.saveAndValidate) ui::ddxText(dx, IDC_FORWARD_HOST, forwardHost);
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
  // A slot saved as ON is validated and started now, during launch; a refusal is shown, but
  // it is not the user switching off, so the file keeps ACT for the next launch.
  const std::string refusal = startSlot();
  countText = std::to_string(connectionCount);
  forwardPortText = std::to_string(forwardPort);
  showListenCaption();
  setItemText(IDC_ACTIVE, act ? "ON" : "OFF");
  updateData(false);
  // Several panels may refuse at launch, before the window shows: each names its slot.
  if (!refusal.empty()) ui::messageBox(sectionName() + ": " + refusal, this);
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
  // Only a setting the user changed is written; the others keep their text in the file
  // ("0080", a host in another encoding, PORT=abc).
  auto take = [this](int& setting, int value, const char* key) {
    if (setting != value) setting = value, markChanged(key);
  };
  take(listenPort, dialog.listenPortSpin->pos(), "PORT");
  showListenCaption();
  if (dialog.host != shownText(forwardHost)) {
    forwardHost = dialog.host;
    markChanged("FORWARDHOST");
  }
  take(forwardPort, dialog.destinationPortSpin->pos(), "FORWARDPORT");
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

std::vector<std::string> CPortDlg::totalsLines() {
  const SlotTotals t = totals();
  return {"TCP:" + std::to_string(listenPort) + " ON以降の累計",
          "処理した接続: " + thousands(t.served),
          "拒否した接続: " + thousands(t.refused),
          "失敗した接続: " + thousands(t.failed),
          "受信: " + thousands(t.fromClient) + " バイト",
          "送信: " + thousands(t.toClient) + " バイト"};
}
