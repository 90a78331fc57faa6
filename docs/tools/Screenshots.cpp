// Renders the port panel (switched on, with live connections), the settings dialog, the access
// dialog, the advanced settings, the fault dialog, the status dialog (with live rows and their byte
// counts, then sorted with two rows selected), the log window and the traffic view into PNG files,
// using the program's own widgets on real loopback connections. Run by hand:
//   relvane_panel_screenshots <output dir>
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "Loopback.h"
#include "TempDir.h"
#include "capture/CaptureStore.h"
#include "dialogs/AccessDlg.h"
#include "dialogs/AdvancedDlg.h"
#include "dialogs/FaultDlg.h"
#include "dialogs/LogDlg.h"
#include "dialogs/StatusDlg.h"
#include "dialogs/TrafficDlg.h"
#include "log/EventLog.h"
#include "net/AsyncSocket.h"
#include "panel/PortDlg.h"
#include "res/Resource.h"
#include "ui/Application.h"
#include "ui/ListView.h"
#include "ui/NetLoopNotifier.h"

using namespace testsupport;

// The traffic view in hex and text over a capture holding a small HTTP-like exchange, the
// connections before it ended.
bool saveTrafficView(QWidget& host, const QDir& out) {
  CaptureStore store;
  const Endpoint listener = *Endpoint::fromText("127.0.0.1", 8080);
  for (std::uint64_t serial = 1; serial <= 3; ++serial) {
    store.opened(serial, *Endpoint::fromText("127.0.0.1", 51230 + serial), listener);
    store.data(serial, Direction::up, "GET /status HTTP/1.1\r\nHost: localhost:8080\r\n\r\n");
    QTest::qWait(12);
    store.data(serial, Direction::down, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    if (serial < 3) store.closed(serial, Direction::up), store.closed(serial, Direction::down);
  }
  store.data(3, Direction::up, "POST /notes HTTP/1.1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nこんにちは");
  QTest::qWait(30);
  store.data(3, Direction::down, "HTTP/1.1 201 Created\r\nLocation: /notes/7\r\n\r\n");
  CTrafficDlg view([&] { return &store; });
  view.create(&host);
  view.show();
  QTest::qWait(100);
  const bool saved = view.grab().save(out.filePath("traffic-view.png"), "PNG");
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(out.filePath("traffic-view.png")));
  return saved;
}

// The fault dialog with a slow, jittery answer and a first request cut into small pieces.
bool saveFaultDialog(QWidget& host, const QDir& out) {
  net::Faults faults;
  std::string error;
  net::applyFaultText("latency=200 jitter=20 bandwidth=64 direction=down", faults, error);
  net::applyFaultText("slice=16 slice_delay=5 reset_percent=10 direction=up", faults, error);
  CFaultDlg dialog(faults);
  dialog.create(&host);
  dialog.show();
  QTest::qWait(100);
  const bool saved = dialog.grab().save(out.filePath("fault-dialog.png"), "PNG");
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(out.filePath("fault-dialog.png")));
  return saved;
}

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs"));
  QDir().mkpath(out.path());
  ui::initApplication();
  if (!socketInit()) return 1;
  NetLoopNotifier notifier;
  TempDir dir;
  LoopbackListener destination;
  const int port = freePort();
  writeFile(dir / "RelvaneTiv.ini", "[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(port) +
                                        "\nFORWARDHOST=localhost\nFORWARDPORT=" + std::to_string(destination.port) +
                                        "\n");
  evlog::Ring lines;
  evlog::addSink(&lines);
  QWidget host;
  host.show();
  CSettingDlg settings;
  settings.create(&host);
  CPortSlot slot;
  slot.iniPath = (dir / "RelvaneTiv.ini").string();
  const std::string refusal = slot.startSlot();
  CPortDlg panel(slot);
  panel.create(&host);
  panel.settingsDialog = &settings;
  panel.show();
  panel.initSlot(refusal);
  std::vector<int> fds;  // clients and their served ends
  for (int i = 0; i < 3; ++i) {
    fds.push_back(connectLoopback(port));
    if (!QTest::qWaitFor([&] { return slot.connectionCount == i + 1; }, 5000)) return 1;
    fds.push_back(destination.acceptOne());
  }
  sendAll(fds[0], std::string(1500, 'a'));
  sendAll(fds[3], std::string(700, 'b'));
  sendAll(fds[1], std::string(123456, 'c'));  // the destination answers the first client
  QTest::qWait(1200);                         // the connections age a second
  bool ok = true;
  auto save = [&](QWidget& widget, const char* name) {
    QTest::qWait(100);
    const bool saved = widget.grab().save(out.filePath(name), "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(out.filePath(name)));
    ok = saved && ok;
  };
  save(panel, "panel-on.png");
  CStatusDlg status;
  status.nextPair = [&](int& position) { return slot.nextPair(position); };
  status.create(&host);
  status.show();
  save(status, "status-dialog.png");
  // Two more clients from other loopback addresses, then the table by bytes received, largest
  // first (a heading clicked twice), with two rows selected.
  for (const char* source : {"127.0.0.12", "127.0.0.3"}) {
    fds.push_back(connectLoopback(port, 5s, "127.0.0.1", source));
    if (!QTest::qWaitFor([&] { return slot.connectionCount == static_cast<int>(fds.size() + 1) / 2; }, 5000)) return 1;
    fds.push_back(destination.acceptOne());
  }
  sendAll(fds[6], std::string(98304, 'e'));
  sendAll(fds[8], std::string(640, 'f'));
  if (!QTest::qWaitFor([&] { return slot.totals().fromClient == 1500 + 98304 + 640; }, 5000)) return 1;
  status.list->horizontalHeader()->setSortIndicator(10, Qt::DescendingOrder);
  for (int row : {0, 2})
    status.list->selectionModel()->select(status.list->model()->index(row, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
  save(status, "status-sorted.png");
  for (int& fd : fds) closeFd(fd);
  if (!QTest::qWaitFor(
          [&] {
    int position = 0;
    return !slot.nextPair(position);
          },
          5000))
    return 1;
  QTest::mouseClick(panel.button(IDC_ACTIVE), Qt::LeftButton);  // settings open only when OFF
  CLogDlg log;
  log.create(&host);
  log.setRing(&lines);
  log.show();
  save(log, "log-window.png");
  QTest::mouseClick(panel.button(IDC_SETTINGS), Qt::LeftButton);
  save(settings, "settings-dialog.png");
  settings.command(IDCANCEL);
  CIpFilter rules;
  rules.mode = CIpFilter::ModeRules;
  for (const char* allow : {"192.168.1.0/24", "10.0.0.5", "2001:db8::/32"})
    rules.allowRules[rules.allowCount++] = allow;
  rules.denyRules[rules.denyCount++] = "192.168.1.13";
  std::string listenHost = "::";
  CAccessDlg access(rules, listenHost);
  access.create(&host);
  access.show();
  save(access, "access-dialog.png");
  advanced::Settings more = advanced::read(slot);
  more.name = "ビルドキャッシュ";
  more.forwards[0] = "cache-02.example.org:8080";
  more.forwards[1] = "[2001:db8::7]:8080";
  more.balance = 1;
  more.numbers[advanced::IdleTimeout] = "3600";
  more.numbers[advanced::CheckInterval] = "5";
  more.sendProxy = 2;
  CAdvancedDlg advancedDialog(more);
  advancedDialog.create(&host);
  advancedDialog.show();
  save(advancedDialog, "advanced-dialog.png");
  ok = saveTrafficView(host, out) && ok;
  ok = saveFaultDialog(host, out) && ok;
  return ok ? 0 : 1;
}
