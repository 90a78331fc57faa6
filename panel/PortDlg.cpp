#include "panel/PortDlg.h"

#include <QMenu>

#include "dialogs/AccessDlg.h"
#include "dialogs/AdvancedDlg.h"
#include "dialogs/CountText.h"
#include "dialogs/FaultDlg.h"
#include "dialogs/StatusDlg.h"
#include "dialogs/TrafficDlg.h"
#include "panel/PanelTooltip.h"
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

CPortDlg::CPortDlg(CPortSlot& shown) : ui::CDialog(IDD_PORT_PANEL), slot(shown) {
  slot.onConnectionCount = [this](int count) { notifyOnConnectionCount(count); };
  onCommand(IDC_ACTIVE, &CPortDlg::onToggle);
  onCommand(IDC_SETTINGS, &CPortDlg::onSettings);
  onCommand(IDC_CONFIRM, &CPortDlg::onConfirm);
  onCommand(ID_PANEL_ACCESS, &CPortDlg::onAccess);
  onCommand(ID_PANEL_TOTALS, &CPortDlg::onTotals);
  onCommand(ID_PANEL_ADVANCED, &CPortDlg::onAdvanced);
  onCommand(ID_PANEL_CAPTURE, &CPortDlg::onCapture);
  onCommand(ID_PANEL_TRAFFIC, &CPortDlg::onTraffic);
  onCommand(ID_PANEL_FAULTS, &CPortDlg::onFaults);
}

CPortDlg::~CPortDlg() {
  // A panel going away must not leave the shared dialog pointing at it.
  if (settingsDialog) settingsDialog->release(this);
  slot.onConnectionCount = nullptr;  // the slot lives on; the widgets do not
}

void CPortDlg::doDataExchange(ui::CDataExchange& dx) {
  ui::ddxText(dx, IDC_COUNT, countText);
  ui::ddxText(dx, IDC_FORWARD_PORT, forwardPortText);
  // Shown only: the label holds the host as text, and a host that is not UTF-8 would come
  // back changed. The host's bytes are taken from the settings dialog alone.
  if (!dx.saveAndValidate) ui::ddxText(dx, IDC_FORWARD_HOST, slot.forwardHost);
  ui::ddxCheck(dx, IDC_ACTIVE, slot.act);
}

std::optional<QColor> CPortDlg::controlColor(int id, res::ControlKind kind) const {
  using K = res::ControlKind;
  if (kind == K::PushButton || kind == K::CheckBox) return kBackground;
  if (kind != K::Static && kind != K::GroupBox) return std::nullopt;
  if (id == IDC_FORWARD_PORT || id == IDC_FORWARD_HOST || id == IDC_LISTEN_GROUP) return kValue;
  if (id == IDC_COUNT) return slot.connectionCount > 0 ? kActive : kValue;
  return kBackground;
}

void CPortDlg::showListenCaption() { setItemText(IDC_LISTEN_GROUP, slot.listenCaption()); }

void CPortDlg::showTooltips() {
  const QString tip = QString::fromStdString(panel_tooltip::text(slot));
  for (int id : {IDC_FORWARD_HOST, IDC_FORWARD_PORT, IDC_LISTEN_GROUP})
    if (QWidget* control = item(id)) control->setToolTip(tip);
}

void CPortDlg::initSlot(const std::string& refusal) {
  countText = std::to_string(slot.connectionCount);
  forwardPortText = std::to_string(slot.forwardPort);
  showListenCaption();
  setItemText(IDC_ACTIVE, slot.act ? "ON" : "OFF");
  showName();
  updateData(false);
  showTooltips();
  if (!refusal.empty()) ui::messageBox(slot.sectionName() + ": " + refusal, this);
}

void CPortDlg::refuseSwitchOn(const std::string& message) {
  ui::messageBox(message, this);
  slot.act = 0;
  updateData(false);
}

void CPortDlg::onToggle() {
  updateData(true);
  if (const std::string refusal = slot.toggleSlot(slot.act); !refusal.empty()) {
    refuseSwitchOn(refusal);
    return;
  }
  setItemText(IDC_ACTIVE, slot.act ? "ON" : "OFF");
}

std::string CPortDlg::switchFromOutside(bool on) {
  const std::string refusal = slot.toggleSlot(on ? 1 : 0);
  setItemText(IDC_ACTIVE, slot.act ? "ON" : "OFF");
  updateData(false);
  return refusal;
}

void CPortDlg::onSettings() {
  updateData(true);
  if (slot.act != 0) {
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
  dialog.listenPortSpin->setRange(0, CPortSlot::kMaxPort);
  dialog.listenPortSpin->setPos(slot.listenPort);
  dialog.host = slot.forwardHost;
  dialog.destinationPortSpin->setRange(0, CPortSlot::kMaxPort);
  dialog.destinationPortSpin->setPos(slot.forwardPort);
  const bool local = CSettingDlg::isLocalHostName(slot.forwardHost);
  dialog.localhost = local ? 1 : 0;
  dialog.enableItem(IDC_HOST_EDIT, !local);
  slot.editFilter = slot.filter;
  dialog.filterCopy = &slot.editFilter;
  dialog.updateData(false);
}

void CPortDlg::onSettingOk() {
  CSettingDlg& dialog = *settingsDialog;
  dialog.updateData(true);
  // Only a setting the user changed is written; the others keep their text in the file
  // ("0080", a host in another encoding, PORT=abc).
  auto take = [this](int& setting, int value, const char* key) {
    if (setting != value) setting = value, slot.markChanged(key);
  };
  take(slot.listenPort, dialog.listenPortSpin->pos(), "PORT");
  showListenCaption();
  if (dialog.host != shownText(slot.forwardHost)) {
    slot.forwardHost = dialog.host;
    slot.markChanged("FORWARDHOST");
  }
  take(slot.forwardPort, dialog.destinationPortSpin->pos(), "FORWARDPORT");
  forwardPortText = std::to_string(slot.forwardPort);
  slot.filter = slot.editFilter;
  updateData(false);
  showTooltips();
  slot.saveSettings();
}

void CPortDlg::notifyOnConnectionCount(int count) {
  countText = std::to_string(count);
  updateData(false);  // also recolours the count field
}

void CPortDlg::onConfirm() {
  if (slot.connectionCount <= 0) {
    ui::messageBox(kNoConnections, this);
    return;
  }
  CStatusDlg status;
  status.nextPair = [this](int& position) { return slot.nextPair(position); };
  status.forEachSession = [this](const std::function<void(const CUdpSession&)>& visit) { slot.forEachSession(visit); };
  slot.listenName(status.listenAddress, status.listenPort);
  status.closeConnection = [this](std::uint64_t serial, bool session) { return slot.closeBySerial(serial, session); };
  if (slot.capture()) status.showTraffic = [this](std::uint64_t serial) { showTraffic(serial); };
  status.create(window());
  // The table's heading has no room for it: the slot's name goes after the title.
  if (!slot.options.name.empty())
    status.setWindowTitle(status.windowTitle() + QStringLiteral(" - ") + QString::fromStdString(slot.options.name));
  status.doModal(window());
}

std::vector<CTotalsDlg::Row> CPortDlg::totalsRows() {
  const SlotTotals t = slot.totals();
  if (slot.isUdp())
    return {{"処理したセッション", thousands(t.served)},
            {"拒否したデータグラム", thousands(t.refused)},
            {"失敗したセッション", thousands(t.failed)},
            {"受信", thousands(t.datagramsFromClient) + " 個 " + thousands(t.fromClient) + " バイト"},
            {"送信", thousands(t.datagramsToClient) + " 個 " + thousands(t.toClient) + " バイト"},
            {"破棄したデータグラム", thousands(t.dropped)}};
  return {{"処理した接続", thousands(t.served)},
          {"拒否した接続", thousands(t.refused)},
          {"失敗した接続", thousands(t.failed)},
          {"受信", thousands(t.fromClient) + " バイト"},
          {"送信", thousands(t.toClient) + " バイト"}};
}

void CPortDlg::addContextEntries(QMenu& menu) {
  QAction* access = menu.addAction(QString::fromUtf8(kAccessEntry));
  access->setData(ID_PANEL_ACCESS);
  access->setEnabled(slot.act == 0);  // refused while ON: greyed before the click
  QAction* advanced = menu.addAction(QString::fromUtf8(kAdvancedEntry));
  advanced->setData(ID_PANEL_ADVANCED);
  advanced->setEnabled(slot.act == 0);  // the settings of a running slot stay as they run
  menu.addAction(QString::fromUtf8(kTotalsEntry))->setData(ID_PANEL_TOTALS);
  QAction* capture = menu.addAction(QString::fromUtf8(kCaptureEntry));
  capture->setData(ID_PANEL_CAPTURE);
  capture->setCheckable(true);
  capture->setChecked(slot.capturing());
  QAction* traffic = menu.addAction(QString::fromUtf8(kTrafficEntry));
  traffic->setData(ID_PANEL_TRAFFIC);
  traffic->setEnabled(slot.capture() != nullptr);
  QAction* faults = menu.addAction(QString::fromUtf8(kFaultEntry));
  faults->setData(ID_PANEL_FAULTS);
  faults->setEnabled(!slot.isUdp());
}

void CPortDlg::onCapture() {
  slot.setCapturing(!slot.capturing());
  slot.saveSettings();
}

void CPortDlg::onTraffic() { showTraffic(0); }

// The capture is asked for again at each refresh: a reload or a new bound may replace it.
void CPortDlg::showTraffic(std::uint64_t serial) {
  CTrafficDlg view([this] { return slot.capture(); }, serial);
  view.create(window());
  if (!slot.options.name.empty())
    view.setWindowTitle(view.windowTitle() + QStringLiteral(" - ") + QString::fromStdString(slot.options.name));
  view.doModal(window());
}

// Faults change while the slot runs: the live pairs get them at once, and the keys are saved.
void CPortDlg::onFaults() {
  if (slot.isUdp()) return;  // the entry is greyed; a command from elsewhere changes nothing
  net::Faults working = slot.faults.live;
  CFaultDlg dialog(working);
  if (dialog.doModal(window()) != IDOK || slot.isUdp()) return;
  slot.setFaults(working, true);
  slot.saveSettings();
}

void CPortDlg::onTotals() {
  CTotalsDlg totals;
  totals.heading = slot.listenCaption() + " ON以降の累計";
  totals.read = [this] { return totalsRows(); };
  totals.doModal(window());
}

void CPortDlg::onAccess() {
  updateData(true);
  if (slot.act != 0) {
    ui::messageBox(kPortInUse, this);
    return;
  }
  // The working copies; an open settings dialog of this panel holds the same filter copy and,
  // on its OK, finds it equal to the live filter again.
  slot.editFilter = slot.filter;
  slot.editListenHost = slot.listenHost;
  CAccessDlg dialog(slot.editFilter, slot.editListenHost);
  if (dialog.doModal(window()) != IDOK) return;
  slot.takeAccess(slot.editFilter, slot.editListenHost);
  showTooltips();
  slot.saveSettings();
}

// The panel's own tooltip: the user's name for the slot (none without one).
void CPortDlg::showName() { setToolTip(QString::fromStdString(slot.options.name)); }

void CPortDlg::onAdvanced() {
  updateData(true);
  if (slot.act != 0) {
    ui::messageBox(kPortInUse, this);
    return;
  }
  advanced::Settings working = advanced::read(slot);
  CAdvancedDlg dialog(working);
  if (dialog.doModal(window()) != IDOK) return;
  if (slot.act != 0) {  // switched on from outside while the dialog was open
    ui::messageBox(kPortInUse, this);
    return;
  }
  advanced::apply(slot, working);
  showListenCaption();  // TCP or UDP
  showName();
  slot.saveSettings();
}
