// Renders the port panel (switched on, with live connections), the settings dialog and the
// status dialog (with live rows) into PNG files, using the program's own widgets on real
// loopback connections. Run by hand:  relvane_panel_screenshots <output dir>
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "Loopback.h"
#include "TempDir.h"
#include "dialogs/SettingDlg.h"
#include "dialogs/StatusDlg.h"
#include "net/AsyncSocket.h"
#include "res/Resource.h"
#include "slot/NetLoopNotifier.h"
#include "slot/PortDlg.h"
#include "ui/Application.h"

using namespace testsupport;

namespace {

bool save(QWidget& widget, const QString& dir, const char* name) {
  const QString path = QDir(dir).filePath(QString::fromUtf8(name));
  const bool ok = widget.grab().save(path, "PNG");
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
  return ok;
}

std::unique_ptr<CPortDlg> makePanel(QWidget& host, CSettingDlg& settings, const std::string& ini,
                                    int slot) {
  auto panel = std::make_unique<CPortDlg>();
  panel->create(&host);
  panel->slotIndex = slot;
  panel->iniPath = ini;
  panel->settingsDialog = &settings;
  panel->move(0, slot * (panel->height() + 4));
  panel->show();
  panel->initSlot();
  return panel;
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
  QDir().mkpath(out);
  ui::initApplication();
  if (!socketInit()) return 1;
  NetLoopNotifier notifier;

  TempDir dir;
  const std::string ini = (dir / "RelvaneTiv.ini").string();
  LoopbackListener destination;
  const int port = freePort();
  writeFile(ini, "[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(port) +
                     "\nFORWARDHOST=127.0.0.1\nFORWARDPORT=" + std::to_string(destination.port) +
                     "\n[TCP-PORT1]\nACT=0\nPORT=8080\nFORWARDHOST=192.168.10.20\nFORWARDPORT=80\n");

  QWidget host;
  host.resize(400, 200);
  host.show();
  CSettingDlg settings;
  settings.create(&host);
  settings.setCentreWidget(&host);
  auto panel = makePanel(host, settings, ini, 0);
  auto spare = makePanel(host, settings, ini, 1);

  std::vector<int> clients, served;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(connectLoopback(port));
    if (!QTest::qWaitFor([&] { return panel->connectionCount == i + 1; }, 5000)) return 1;
    served.push_back(destination.acceptOne());
  }
  sendAll(clients[0], std::string(1500, 'a'));
  sendAll(served[1], std::string(700, 'b'));
  QTest::qWait(200);

  bool ok = save(*panel, out, "panel-on.png");

  QTest::mouseClick(spare->button(IDC_SETTINGS), Qt::LeftButton);
  QTest::qWait(50);
  ok = save(settings, out, "settings-dialog.png") && ok;
  settings.close();

  CStatusDlg status;
  status.repeater = &panel->repeater;
  status.create(&host);
  status.show();
  QTest::qWait(50);
  ok = save(status, out, "status-dialog.png") && ok;

  for (int& fd : clients) closeFd(fd);
  for (int& fd : served) closeFd(fd);
  panel->shutdownSlot();
  return ok ? 0 : 1;
}
