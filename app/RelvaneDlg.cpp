#include "app/RelvaneDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>
#include <algorithm>

#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/Composition.h"
#include "app/HeadlessRun.h"
#include "app/HomePage.h"
#include "app/PanelLayout.h"
#include "app/RelvaneApp.h"
#include "dialogs/SettingDlg.h"
#include "net/Trace.h"
#include "res/Resource.h"
#include "slot/PortDlg.h"

namespace {
const char mainWindowTitle[] = "レルベイン Tiv.";
}  // namespace

CRelvaneDlg::CRelvaneDlg(int panelCount)
    : ui::CDialog(IDD_RELVANE_DIALOG), icon(applicationIcon()), configuredSlots(panelCount) {
  onCommand(IDC_HOMEPAGE_LINK, [] { openHomePage(); });
  onCommand(ID_OPEN_MAINWINDOW, [this] { openMainWindow(); });
  onCommand(ID_EXIT_APP, [this] { exitApp(); });
  connect(this, &QDialog::finished, this, &CRelvaneDlg::onFinished);
}

CRelvaneDlg::~CRelvaneDlg() {
  destroyPortPanels();
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
  addAboutEntry();
  setWindowIcon(icon);

  iniPath = defaultIniPath();  // the working directory start-up chose, as without a window
  initMainSettings();
  createSettingsDialog();

  const QSize frame = frameGeometry().size() - geometry().size();
  frameWidth = frame.width();
  frameHeight = frame.height();

  createPortPanels();
  layoutPanels();
  centerOn(nullptr);
  if (showOnStart == 1) showMainWindow(true);
  setWindowTitle(QString::fromUtf8(mainWindowTitle));
  composition::queryComposition(&glassEnabled);
  applyGlassFrame();
  return true;
}

void CRelvaneDlg::initMainSettings() {
  slotCount = configuredSlots;
  showOnStart = 1;
}

void CRelvaneDlg::addAboutEntry() {
  // The desktop offers no window menu of our own, so the entry goes on the context menu.
  systemMenu = new QMenu(this);
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

void CRelvaneDlg::createPortPanels() {
  for (int i = 0; i < slotCount; ++i) {
    auto* panel = new CPortDlg;
    panel->create(this);
    // A right click on a panel reaches the window's own menu, as anywhere else in it.
    panel->setContextMenuPolicy(Qt::NoContextMenu);
    panel->slotIndex = i;
    panel->iniPath = iniPath;
    panel->settingsDialog = settingsDialog;
    panel->initSlot();
    panels.push_back(panel);
  }
  if (!panels.empty()) panelRect = panels.back()->frameGeometry();
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

void CRelvaneDlg::contextMenuEvent(QContextMenuEvent* event) {
  // A right click on a panel offers that panel's entries above the window's own.
  QPointer<CPortDlg> panel;  // a close in order may take it while the menu is open
  for (QWidget* w = childAt(event->pos()); w && w != this && !panel; w = w->parentWidget())
    panel = qobject_cast<CPortDlg*>(w);
  QMenu menu;
  if (panel) panel->addContextEntries(menu);
  const qsizetype panelEntries = menu.actions().size();
  if (systemMenu) menu.addActions(systemMenu->actions());
  if (menu.isEmpty()) return;
  // The command runs after the menu's own loop has ended.
  QAction* chosen = menu.exec(event->globalPos());
  if (!chosen) return;
  if (panel && menu.actions().indexOf(chosen) < panelEntries) {
    panel->command(chosen->data().toInt());
  } else {
    onSysCommand(chosen->data().toInt());
  }
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
  for (CPortDlg* panel : panels) {
    panel->shutdownSlot();
    panel->hide();
    delete panel;
  }
  panels.clear();
  if (settingsDialog) {
    settingsDialog->hide();
    delete settingsDialog;
    settingsDialog = nullptr;
  }
}
