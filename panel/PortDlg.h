#pragma once
// The port panel: the visible face of one forwarding slot, a child panel inside the main window.
// The slot (settings, INI persistence, switching rules, the repeater) belongs to the slot set;
// the panel shows it and adds the controls, the messages and the dialogs.
//
// The owner makes the panel over a started slot, creates its window (create(parent)), sets
// settingsDialog, then calls initSlot; the panel goes before its slot does.
#include <QColor>
#include <QPointer>
#include <string>
#include <vector>

#include "dialogs/SettingDlg.h"
#include "dialogs/SettingDlgListener.h"
#include "dialogs/TotalsDlg.h"
#include "slot/PortSlot.h"
#include "ui/Dialog.h"

class QMenu;

class CPortDlg : public ui::CDialog, public CSettingDlgListener {
  Q_OBJECT
public:
  static constexpr const char* kPortInUse = "PORTを使用中です。OFF状態で設定して下さい";
  static constexpr const char* kSettingBusy = "現在PORTの設定中です";
  static constexpr const char* kNoConnections = "現在接続はありません.";
  static constexpr const char* kAccessEntry = "アクセス設定(&A)...";
  static constexpr const char* kTotalsEntry = "累計(&T)...";
  static constexpr const char* kAdvancedEntry = "詳細設定(&D)...";
  static constexpr const char* kCaptureEntry = "通信内容を記録(&C)";
  static constexpr const char* kTrafficEntry = "通信内容(&V)...";
  static constexpr const char* kFaultEntry = "障害シミュレーション(&F)...";

  static inline const QColor kBackground{230, 230, 220};
  static inline const QColor kValue{255, 255, 180};
  static inline const QColor kActive{180, 255, 180};

  explicit CPortDlg(CPortSlot& slot);
  ~CPortDlg() override;

  // Shows the slot as its launch left it; a refusal of that launch is shown in a box naming the
  // slot (several panels may refuse before the window shows).
  void initSlot(const std::string& refusal = "");
  void onToggle();    // 1017 clicked (the check box has already flipped)
  void onSettings();  // 1013 clicked
  void onConfirm();   // 1012 clicked
  void onAccess();    // context menu: the access dialog (ID_PANEL_ACCESS)
  void onTotals();    // context menu: the totals dialog (ID_PANEL_TOTALS)
  void onAdvanced();  // context menu: the advanced settings (ID_PANEL_ADVANCED), while OFF
  void onCapture();   // context menu: capture on or off (ID_PANEL_CAPTURE), live, saved
  void onTraffic();   // context menu: the traffic view (ID_PANEL_TRAFFIC), the newest connection
  void onFaults();    // context menu: the fault dialog (ID_PANEL_FAULTS), live while ON; TCP only
  // A switch asked for from outside the window (the control socket), as a click on the check
  // box switches: the box and the colours follow, but a refusal is returned rather than shown.
  std::string switchFromOutside(bool on);

  // The panel's entries of the window's context menu, for a right click on this panel: the
  // access dialog, the advanced settings (both disabled while ON: they are changed only while OFF), then the
  // slot's totals, then the faults (greyed for a UDP slot). The chosen entry's data is the command id to run with command().
  void addContextEntries(QMenu& menu);
  // The host, port and caption's tooltips, from the slot's settings as they are now; after every
  // change of them.
  void showTooltips();

  void onSettingOk() override;
  // The slot's repeater reported a count: the count field shows it, in its colour.
  void notifyOnConnectionCount(int count);

  // The slot's totals since it was last switched on, one row each.
  std::vector<CTotalsDlg::Row> totalsRows();

  CPortSlot& slot;                       // not owned; outlives the panel
  std::string countText;                 // control 1018
  std::string forwardPortText;           // control 1011
  QPointer<CSettingDlg> settingsDialog;  // shared by all panels; not owned

protected:
  void doDataExchange(ui::CDataExchange& dx) override;
  std::optional<QColor> dialogColor() const override { return kBackground; }
  std::optional<QColor> controlColor(int id, res::ControlKind kind) const override;

private:
  void refuseSwitchOn(const std::string& message);
  void showListenCaption();
  void fillSettingsDialog(CSettingDlg& dialog);
  void showName();
  void showTraffic(std::uint64_t serial);  // 0: the newest connection
};
