#pragma once
// The port panel: the visible face and owner of one forwarding slot, a child panel inside the
// main window. The slot's settings, INI persistence and switching rules come from CPortSlot, so
// the window and a headless run share them; this class adds the controls, the messages and the
// two dialogs.
//
// The owner creates the panel window (create(parent)), sets slotIndex, iniPath and
// settingsDialog, then calls initSlot; at exit shutdownSlot, then deletes the panel.
#include <QColor>
#include <QPointer>
#include <string>
#include <vector>

#include "dialogs/SettingDlg.h"
#include "dialogs/SettingDlgListener.h"
#include "slot/PortSlot.h"
#include "ui/Dialog.h"

class CPortDlg : public ui::CDialog, public CSettingDlgListener, public CPortSlot {
  Q_OBJECT
public:
  static constexpr const char* kPortInUse = "PORTを使用中です。OFF状態で設定して下さい";
  static constexpr const char* kSettingBusy = "現在PORTの設定中です";
  static constexpr const char* kNoConnections = "現在接続はありません.";

  static inline const QColor kBackground{230, 230, 220};
  static inline const QColor kValue{255, 255, 180};
  static inline const QColor kActive{180, 255, 180};

  CPortDlg();
  ~CPortDlg() override;

  void initSlot();
  void onToggle();    // 1017 clicked (the check box has already flipped)
  void onSettings();  // 1013 clicked
  void onConfirm();   // 1012 clicked

  void onSettingOk() override;
  void notifyOnConnectionCount(int count) override;

  // The slot's totals since it was last switched on, one menu line each.
  std::vector<std::string> totalsLines();

  std::string countText;        // control 1018
  std::string forwardPortText;  // control 1011
  QPointer<CSettingDlg> settingsDialog;  // shared by all panels; not owned

protected:
  void doDataExchange(ui::CDataExchange& dx) override;
  std::optional<QColor> dialogColor() const override { return kBackground; }
  std::optional<QColor> controlColor(int id, res::ControlKind kind) const override;

private:
  void refuseSwitchOn(const std::string& message);
  void showListenCaption();
  void fillSettingsDialog(CSettingDlg& dialog);
};
