#pragma once
// The program's only top-level window: the "Powered By" band, one port panel per slot
// below it, and the settings dialog all panels share. Closing it in any way saves and
// stops every slot; the program ends with it.
#include <QIcon>
#include <QRect>
#include <memory>
#include <string>
#include <vector>

#include "log/LogRing.h"
#include "ui/Dialog.h"

class CLogDlg;
class CPortDlg;
class CPortSlot;
class CRunServices;
class CSaveReport;
class CSettingDlg;
class CSlotSet;
class QAction;
class QMenu;

class CRelvaneDlg : public ui::CDialog {
  Q_OBJECT
public:
  static constexpr const char* kAddSlot = "スロットを追加";
  static constexpr const char* kRemoveSlot = "このスロットを削除";
  static constexpr const char* kRemoveWhileOn = "ONのスロットは削除できません。OFFにしてから削除して下さい";
  // Where a slot added from the window listens: this PC only, until the user opens it wider.
  static constexpr const char* kNewSlotListenHost = "127.0.0.1";

  // iniPath: the settings file; panelCount: how many panels to create, 0 for as many as
  // the file holds slot sections (at least one, at most 30).
  explicit CRelvaneDlg(std::string iniPath, int panelCount = 0);
  ~CRelvaneDlg() override;

  // Creates the window and runs it modally; when it ends every panel has been saved and
  // stopped and destroyed. Returns the code that ended it.
  int runModal();

  // visible = show; a window not meant to be visible stays hidden whatever asks to show it.
  void showMainWindow(bool show);
  // ID_OPEN_MAINWINDOW: shown, restored when minimised, brought to the front.
  void openMainWindow();
  // ID_EXIT_APP: hidden first, then closed in order.
  void exitApp();
  // A window-menu command; the id with its low four bits cleared selects it.
  void onSysCommand(int id);
  // ID_VIEW_LOG: the log window, made on first use, shown and brought to the front.
  void openLogWindow();
  // Closes the window in order from outside (a termination signal): boxes and dialogs
  // opened above it end first.
  void closeInOrder();
  // Saves and stops every slot in slot order, then hides and destroys the panels and the
  // settings dialog.
  void destroyPortPanels();
  // "スロットを追加": a new last slot, switched off, its section saved with the four keys and
  // LISTENHOST=kNewSlotListenHost.
  void addSlot();
  // "このスロットを削除" for `panel`: only while it is OFF and after the user said yes; the
  // later sections move down a number. False when nothing was removed.
  bool removeSlot(CPortDlg* panel);

  void setVisible(bool show) override;

  // State the tests and the program read.
  const std::vector<CPortDlg*>& portPanels() const { return panels; }
  QMenu* windowMenu() const { return systemMenu; }
  CLogDlg* logWindow() const { return logDialog; }
  QRect panelRectangle() const { return panelRect; }

protected:
  bool onInitDialog() override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  struct Margins {
    int left = 0, right = 0, top = 0, bottom = 0;
  };

  void initMainSettings();
  void buildWindowMenu();
  void reportSettingProblems();
  CPortDlg* createPanel(CPortSlot& slot, const std::string& refusal);
  CPortDlg* panelAt(QPoint pos) const;
  void keepOnScreen();
  void createSettingsDialog();
  void createPortPanels();
  void layoutPanels();
  void applyGlassFrame();
  void onFinished();
  void openServices();
  std::string switchSlot(int n, bool on);

  QIcon icon;
  evlog::Ring logRing;                      // everything the slots log while the window lives, for the log window
  std::vector<CPortDlg*> panels;            // owned; one per slot, in slot order
  CLogDlg* logDialog = nullptr;             // owned; made on first use
  CSettingDlg* settingsDialog = nullptr;    // owned
  QMenu* systemMenu = nullptr;              // owned as a child
  QAction* addSlotAction = nullptr;         // in systemMenu
  QAction* removeSlotAction = nullptr;      // in systemMenu, shown over a panel
  std::unique_ptr<CSaveReport> saveReport;  // one for all slots: each cause is told once
  std::unique_ptr<CSlotSet> allSlots;       // the slots the panels show
  std::unique_ptr<CRunServices> services;   // control socket and metrics over allSlots, while the panels live
  QRect panelRect;                          // the last panel created
  std::string iniPath;
  const int configuredSlots;
  int slotCount = 0;
  int frameWidth = 0;
  int frameHeight = 0;
  bool visible = false;
  int showOnStart = 0;
  bool glassEnabled = false;
  Margins glassMargins;
  bool running = false;  // inside runModal
  bool ended = false;    // the dialog has been ended (finished)
  bool closing = false;  // panels are being shut down: no more boxes
};
