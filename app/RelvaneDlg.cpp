#include "app/RelvaneDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <algorithm>

#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/Composition.h"
#include "app/HomePage.h"
#include "app/PanelLayout.h"
#include "app/ProgramLog.h"
#include "app/RelvaneApp.h"
#include "app/RunServices.h"
#include "app/SignalPipe.h"
#include "dialogs/LogDlg.h"
#include "dialogs/SettingDlg.h"
#include "log/EventLog.h"
#include "log/LogLines.h"
#include "net/Trace.h"
#include "panel/PortDlg.h"
#include "res/Resource.h"
#include "slot/SaveReport.h"
#include "slot/SlotSet.h"
#include "ui/MessageBox.h"

namespace {
const char mainWindowTitle[] = "レルベイン Tiv.";
const char logEntry[] = "ログ";
}  // namespace

CRelvaneDlg::CRelvaneDlg(std::string path, int panelCount)
    : ui::CDialog(IDD_RELVANE_DIALOG), icon(applicationIcon()), iniPath(std::move(path)), configuredSlots(panelCount) {
  saveReport = std::make_unique<CSaveReport>([this](const std::string& text) {
    // While closing (a signal, a logout) a box would hold the exit up: the terminal gets it.
    if (closing) writeNow(evlog::saveFailedLine(iniPath, text), chosenLogFormat("", &allSlots->globals()));
    else
      ui::messageBox(text, this);
  });
  allSlots = std::make_unique<CSlotSet>(this->iniPath, saveReport.get());
  onCommand(IDC_HOMEPAGE_LINK, [] { openHomePage(); });
  onCommand(ID_OPEN_MAINWINDOW, [this] { openMainWindow(); });
  onCommand(ID_EXIT_APP, [this] { exitApp(); });
  onCommand(ID_VIEW_LOG, [this] { openLogWindow(); });
  connect(this, &QDialog::finished, this, &CRelvaneDlg::onFinished);
  evlog::addSink(&logRing);  // before the panels start, so their first lines are kept
}

CRelvaneDlg::~CRelvaneDlg() {
  destroyPortPanels();
  delete logDialog;
  evlog::removeSink(&logRing);
  if (mainDialog == this) mainDialog = nullptr;  // nobody may reach an ended window
}

int CRelvaneDlg::runModal() {
  running = true;
  create();
  // A close that came while the window was being set up (a signal during a message box
  // of a panel's launch) has ended it already; exec would show it again and wait.
  if (!ended) {
    setWindowModality(Qt::ApplicationModal);
    exec();
  }
  running = false;
  destroyPortPanels();  // only now is no handler of a panel left waiting on the stack
  return result();
}

bool CRelvaneDlg::onInitDialog() {
  trace("CRelvaneDlg::onInitDialog()\n");
  buildWindowMenu();
  setWindowIcon(icon);

  initMainSettings();
  createSettingsDialog();

  const QSize frame = frameGeometry().size() - geometry().size();
  frameWidth = frame.width();
  frameHeight = frame.height();

  createPortPanels();
  layoutPanels();
  centerOn(nullptr);
  reportSettingProblems();
  openServices();
  if (showOnStart == 1) showMainWindow(true);
  setWindowTitle(QString::fromUtf8(mainWindowTitle));
  composition::queryComposition(&glassEnabled);
  applyGlassFrame();
  return true;
}

void CRelvaneDlg::initMainSettings() {
  allSlots->open(configuredSlots);
  slotCount = allSlots->size();
  showOnStart = 1;
}

void CRelvaneDlg::buildWindowMenu() {
  // The desktop offers no window menu of our own, so the entries go on the context menu.
  systemMenu = new QMenu(this);
  addSlotAction = systemMenu->addAction(QString::fromUtf8(kAddSlot));
  addSlotAction->setData(ID_ADD_SLOT);
  removeSlotAction = systemMenu->addAction(QString::fromUtf8(kRemoveSlot));
  removeSlotAction->setData(ID_REMOVE_SLOT);
  systemMenu->addAction(QString::fromUtf8(logEntry))->setData(ID_VIEW_LOG);
  const char* label = res::findString(IDS_ABOUTBOX);
  if (!label || !*label) return;
  systemMenu->addSeparator();
  QAction* about = systemMenu->addAction(QString::fromUtf8(label));
  about->setData(ID_SYS_ABOUT);
}

void CRelvaneDlg::createSettingsDialog() {
  settingsDialog = new CSettingDlg;
  settingsDialog->create(this);
  settingsDialog->setCentreWidget(this);
  settingsDialog->hide();
}

CPortDlg* CRelvaneDlg::createPanel(CPortSlot& slot, const std::string& refusal) {
  auto* panel = new CPortDlg(slot);
  panel->create(this);
  // A right click on a panel reaches the window's own menu, which then offers the panel's
  // own entry too.
  panel->setContextMenuPolicy(Qt::NoContextMenu);
  panel->settingsDialog = settingsDialog;
  panels.push_back(panel);
  panel->initSlot(refusal);
  panelRect = panel->frameGeometry();
  return panel;
}

void CRelvaneDlg::createPortPanels() {
  // Slots saved as ON start now, during launch; each refusal is shown by its panel. A signal to
  // close stops the launch before the next port opens, and the window then closes.
  int started = 0;
  allSlots->startAll([this, &started](CPortSlot& slot, const std::string& refusal) {
    createPanel(slot, refusal);
    started += slot.started() ? 1 : 0;
    return !CSignalPipe::closeAsked(debugMode, false);
  });
  if (CSignalPipe::closeAsked(debugMode, false))
    QMetaObject::invokeMethod(this, &CRelvaneDlg::closeInOrder, Qt::QueuedConnection);
  else
    evlog::post(evlog::startLine(productVersion(), iniPath, allSlots->size(), started));
}

void CRelvaneDlg::openServices() {
  service::ControlHooks hooks;
  // The window's settings may hold edits the file does not have: reading the file again is a
  // new start of the window, never done behind the user's back.
  hooks.noReload =
      "ウィンドウ版は編集中の設定を保持しているため読み直しません。ファイルを読み直すにはウィンドウを閉じて起動し直して"
      "ください";
  hooks.switchSlot = [this](int n, bool on) { return switchSlot(n, on); };
  services = std::make_unique<CRunServices>(*allSlots, std::move(hooks));
  // Not a box: the window works without them, and the log window keeps the reason.
  services->open(iniPath, [](const std::string& text) {
    trace("CRelvaneDlg: %s\n", text.c_str());
    evlog::post(evlog::serviceFailedLine(text));
  });
}

std::string CRelvaneDlg::switchSlot(int n, bool on) {
  for (CPortDlg* panel : panels)
    if (panel->slot.slotIndex == n) return panel->switchFromOutside(on);
  return "no panel shows slot " + std::to_string(n);
}

void CRelvaneDlg::reportSettingProblems() {
  std::string text;
  for (const std::string& problem : allSlots->problems()) text += problem + "\n";
  for (const CPortDlg* panel : panels)
    for (const std::string& problem : panel->slot.problems) text += problem + "\n";
  if (!text.empty()) ui::messageBox("設定ファイルに無効な値があります:\n" + text, this);
}

void CRelvaneDlg::addSlot() {
  const std::optional<std::string> refusal = allSlots->addSlot(kNewSlotListenHost);
  if (!refusal) return;
  createPanel((*allSlots)[allSlots->size() - 1], *refusal);
  slotCount = allSlots->size();
  layoutPanels();
  keepOnScreen();
}

bool CRelvaneDlg::removeSlot(CPortDlg* target) {
  QPointer<CPortDlg> panel(target);
  if (!panel || panels.size() <= 1) return false;
  if (panel->slot.act != 0) {
    ui::messageBox(kRemoveWhileOn, this);
    return false;
  }
  const std::string question = panel->slot.sectionName() + " (" + panel->slot.listenCaption() + ") を削除しますか？";
  if (ui::askYesNo(question, this) != ui::IDYES || !panel || panel->slot.act != 0) return false;
  const auto at = std::find(panels.begin(), panels.end(), panel.data());
  if (at == panels.end()) return false;
  // Its section is gone with it, so nothing is saved for it; the panel goes before the slot.
  const std::unique_ptr<CPortSlot> removed = allSlots->removeSlot(panel->slot.slotIndex);
  if (!removed) return false;  // the file still has the slot: so does the window
  panels.erase(at);
  panel->hide();
  delete panel.data();
  slotCount = allSlots->size();
  layoutPanels();
  keepOnScreen();
  return true;
}

CPortDlg* CRelvaneDlg::panelAt(QPoint pos) const {
  for (CPortDlg* panel : panels)
    if (panel->geometry().contains(pos)) return panel;
  return nullptr;
}

void CRelvaneDlg::keepOnScreen() {
  const QScreen* screen = this->screen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  QRect frame = frameGeometry();
  frame.moveRight(std::min(frame.right(), area.right()));
  frame.moveBottom(std::min(frame.bottom(), area.bottom()));
  frame.moveLeft(std::max(frame.left(), area.left()));
  frame.moveTop(std::max(frame.top(), area.top()));
  if (frame.topLeft() != frameGeometry().topLeft()) move(frame.topLeft());
}

void CRelvaneDlg::layoutPanels() {
  const auto layout = panel_layout::compute(static_cast<int>(panels.size()), panelRect.size(),
                                            QSize(frameWidth, frameHeight));
  for (std::size_t i = 0; i < panels.size(); ++i) {
    panels[i]->setGeometry(QRect(layout.panelPositions[i], panelRect.size()));
    panels[i]->show();
  }
  setFixedSize(layout.windowSize - QSize(frameWidth, frameHeight));
  // The template was drawn wider than one panel: keep the link inside the window.
  if (QWidget* link = item(IDC_HOMEPAGE_LINK)) {
    const int overhang = link->geometry().right() + 1 - width();
    if (overhang > 0) link->move(std::max(0, link->x() - overhang), link->y());
  }
  glassMargins.top = panel_layout::bandHeight;
}

void CRelvaneDlg::applyGlassFrame() {
  // Without composition the band is painted like the rest of the window.
  update();
}

void CRelvaneDlg::showMainWindow(bool show) {
  trace("CRelvaneDlg::showMainWindow(%d)\n", show ? 1 : 0);
  visible = show;
  ui::CDialog::setVisible(show);
  if (show) setWindowState(windowState() & ~Qt::WindowMinimized);
}

void CRelvaneDlg::setVisible(bool show) {
  if (show && !visible) return;
  ui::CDialog::setVisible(show);
}

void CRelvaneDlg::openMainWindow() {
  showMainWindow(true);
  raise();
  activateWindow();
}

void CRelvaneDlg::exitApp() {
  showMainWindow(false);
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CRelvaneDlg::onSysCommand(int id) {
  if ((id & 0xFFF0) != ID_SYS_ABOUT) return;
  CAboutDlg about;
  about.doModal(this);
}

void CRelvaneDlg::openLogWindow() {
  if (!logDialog) {
    logDialog = new CLogDlg;
    logDialog->create(this);
    logDialog->setRing(&logRing);
  }
  logDialog->show();
  logDialog->raise();
  logDialog->activateWindow();
}

void CRelvaneDlg::contextMenuEvent(QContextMenuEvent* event) {
  if (!systemMenu || systemMenu->isEmpty()) return;
  QPointer<CPortDlg> panel = panelAt(mapFromGlobal(event->globalPos()));
  addSlotAction->setEnabled(!allSlots->full());
  removeSlotAction->setVisible(panel != nullptr);
  removeSlotAction->setEnabled(panels.size() > 1 && panel && panel->slot.act == 0);
  // A right click on a panel offers that panel's own entries above the window's.
  QMenu menu;
  if (panel) {
    panel->addContextEntries(menu);
    menu.addSeparator();
  }
  const qsizetype panelEntries = menu.actions().size();
  menu.addActions(systemMenu->actions());
  // The command runs after the menu's own loop has ended.
  QAction* chosen = menu.exec(event->globalPos());
  if (!chosen) return;
  const int id = chosen->data().toInt();
  if (panel && menu.actions().indexOf(chosen) < panelEntries) panel->command(id);
  else if (id == ID_ADD_SLOT)
    addSlot();
  else if (id == ID_REMOVE_SLOT)
    removeSlot(panel);
  else if (id == ID_VIEW_LOG)
    openLogWindow();
  else
    onSysCommand(id);
}

void CRelvaneDlg::closeEvent(QCloseEvent* event) {
  if (isHidden()) {
    // Qt would accept the close of a hidden dialog without ending it.
    event->accept();
    endDialog(IDCANCEL);
    return;
  }
  ui::CDialog::closeEvent(event);
}

void CRelvaneDlg::closeInOrder() {
  // Message boxes and dialogs above the window end first, each returning to its caller.
  for (int guard = 0; guard < 32; ++guard) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == this) break;
    modal->close();
  }
  if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
  close();
}

void CRelvaneDlg::onFinished() {
  ended = true;
  // Inside runModal a handler of a panel may still wait below a nested loop (a message
  // box) and its panel must outlive it: runModal stops the slots once its loop returned.
  if (!running) destroyPortPanels();
}

void CRelvaneDlg::destroyPortPanels() {
  if (panels.empty() && !settingsDialog) return;
  trace("CRelvaneDlg::destroyPortPanels()\n");
  closing = true;
  services.reset();  // nothing may ask for a slot that is going
  allSlots->shutdown();
  for (CPortDlg* panel : panels) {
    panel->hide();
    delete panel;
  }
  panels.clear();
  allSlots->clear();
  if (settingsDialog) {
    settingsDialog->hide();
    delete settingsDialog;
    settingsDialog = nullptr;
  }
}
