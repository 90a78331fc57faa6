// The advanced settings and the slot's name, driven through the real window offscreen: every
// field edited through the dialog and found in the file as exactly the keys changed, a refused
// value named, and a name that outlives the window and shows in the log, the control socket,
// the panel and the status table's title.
#include <gtest/gtest.h>

#include <QMenu>
#include <future>
#include <map>

#include "Loopback.h"
#include "Modal.h"
#include "SlotIni.h"
#include "TempDir.h"
#include "Wait.h"
#include "app/ControlPlace.h"
#include "app/RelvaneDlg.h"
#include "dialogs/AdvancedDlg.h"
#include "dialogs/StatusDlg.h"
#include "log/EventLog.h"
#include "log/LogRing.h"
#include "panel/PortDlg.h"
#include "res/Resource.h"
#include "service/ControlClient.h"
#include "ui/NetLoopNotifier.h"

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

class Advanced : public ::testing::Test {
protected:
  void SetUp() override { initUiOnce(), ::setenv("XDG_RUNTIME_DIR", temp.path().c_str(), 1); }
  std::string ini() const { return (temp / "RelvaneTiv.ini").string(); }
  // Runs the panel's advanced dialog; `act` works it, reading the boxes it brings up, and ends it.
  void edit(CPortDlg& panel, const std::function<void(CAdvancedDlg&, const BoxAnswerer&)>& act) {
    BoxAnswerer box;
    whenModal<CAdvancedDlg>([&](CAdvancedDlg* d) { act(*d, box); });
    panel.command(ID_PANEL_ADVANCED);
  }
  TempDir temp;
  NetLoopNotifier sockets;
  LoopbackListener destination;
};

void type(CAdvancedDlg& d, int id, const QString& text) { retype(d.edit(id), text); }
void number(CAdvancedDlg& d, advanced::Number n, const QString& text) { type(d, IDC_ADV_NUMBER0 + n, text); }

}  // namespace

TEST_F(Advanced, EveryFieldEditedThroughTheDialogIsExactlyTheKeysWritten) {
  std::string file = slotSection(0, 0, freePort(), destination.port, "127.0.0.1",
                                 "KEEPALIVE=0060\nFORWARD2=127.0.0.2:5432\n[OTHER]\nKEEP=me\n");
  writeFile(ini(), file);
  CRelvaneDlg window(ini());
  ASSERT_TRUE(window.create());
  CPortDlg& panel = *window.portPanels()[0];

  edit(panel, [](CAdvancedDlg& d, const BoxAnswerer&) {  // what the file says; OK without a change writes nothing
    EXPECT_EQ(
        d.itemText(IDC_ADV_NUMBER0 + advanced::KeepAlive) + d.itemText(IDC_ADV_NUMBER0) + d.itemText(IDC_ADV_FORWARD1),
        "60128127.0.0.2:5432");
    click(d.button(IDOK));
  });
  EXPECT_EQ(readFile(ini()), file);

  edit(panel, [](CAdvancedDlg& d, const BoxAnswerer& box) {
    commitText(d.edit(IDC_ADV_NAME), "本番DB");
    click(d.button(IDC_ADV_UDP));
    const std::map<advanced::Number, QString> numbers{
        {advanced::BufferSize, "0"},    {advanced::ConnectTimeout, "5"}, {advanced::HalfCloseTimeout, "30"},
        {advanced::IdleTimeout, "300"}, {advanced::KeepAlive, "0"},      {advanced::MaxConn, "50"},
        {advanced::UdpTimeout, "120"},  {advanced::RetryDown, "20"},     {advanced::CheckInterval, "5"}};
    for (const auto& [n, text] : numbers) number(d, n, text);
    type(d, IDC_ADV_SOURCE, "127.0.0.1");
    type(d, IDC_ADV_FORWARD1, "[::1]:5433"), type(d, IDC_ADV_FORWARD1 + 2, "db3");
    click(d.button(IDC_ADV_BALANCE0 + 2)), click(d.button(IDC_ADV_PROXY_NONE + 2)),
        click(d.button(IDC_ADV_ACCEPT_PROXY));
    click(d.button(IDOK));  // refused, naming the field; the dialog stays
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(box.text, "「バッファサイズ (KiB)」の値「0」は使えません (1～65536)");
    number(d, advanced::BufferSize, "64");
    click(d.button(IDOK));
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(box.text, "「追加の転送先3」の値「db3」は使えません (host:port)");
    type(d, IDC_ADV_FORWARD1 + 2, "127.0.0.3:5434");
    click(d.button(IDOK));
  });
  // Changed in place, then the new keys after the section's last line; the cleared FORWARD2
  // position now holds the next destination, and the next positions were never there.
  file = slotSection(
             0, 0, panel.slot.listenPort, destination.port, "127.0.0.1",
             "KEEPALIVE=0\nFORWARD2=127.0.0.3:5434\nNAME=本番DB\nPROTOCOL=UDP\nBUFFERSIZE=64\nCONNECTTIMEOUT=5\n"
             "HALFCLOSETIMEOUT=30\nIDLETIMEOUT=300\nMAXCONN=50\nUDPTIMEOUT=120\nRETRYDOWN=20\nCHECKINTERVAL=5\n"
             "SOURCEADDRESS=127.0.0.1\nFORWARD1=[::1]:5433\nBALANCE=2\nSENDPROXY=2\nACCEPTPROXY=1\n") +
         "[OTHER]\nKEEP=me\n";
  EXPECT_EQ(readFile(ini()), file);
  EXPECT_EQ(panel.itemText(IDC_LISTEN_GROUP), "UDP:" + std::to_string(panel.slot.listenPort));
  EXPECT_EQ(panel.toolTip(), "本番DB");

  edit(panel, [](CAdvancedDlg& d, const BoxAnswerer&) {  // back to the defaults: the keys the file has say so
    d.edit(IDC_ADV_NAME)->selectAll(), QTest::keyClick(d.edit(IDC_ADV_NAME), Qt::Key_Backspace),
        click(d.button(IDC_ADV_TCP)), click(d.button(IDC_ADV_ACCEPT_PROXY));
    click(d.button(IDOK));
  });
  using Edits = std::vector<std::pair<std::string, std::string>>;
  for (const auto& [from, to] :
       Edits{{"NAME=本番DB", "NAME="}, {"PROTOCOL=UDP", "PROTOCOL=TCP"}, {"ACCEPTPROXY=1", "ACCEPTPROXY=0"}})
    file.replace(file.find(from), from.size(), to);
  EXPECT_EQ(readFile(ini()), file);
  EXPECT_EQ(panel.toolTip(), "");
}

// Named in one window, the name is read again by the next one on the file, and every line of
// that slot carries it: the log's, the control socket's status line and rows, the status table.
TEST_F(Advanced, ANameOutlivesTheWindowAndNamesTheSlotsLinesEverywhere) {
  const int port = freePort();
  writeFile(ini(), slotSection(0, 0, port, destination.port) + slotSection(1, 0, 0, 0));
  {
    CRelvaneDlg window(ini());
    ASSERT_TRUE(window.create());
    edit(*window.portPanels()[0], [](CAdvancedDlg& d, const BoxAnswerer&) {
      commitText(d.edit(IDC_ADV_NAME), "ウェブ 01"), click(d.button(IDOK));
    });
  }
  evlog::Ring ring;
  evlog::addSink(&ring);
  CRelvaneDlg window(ini());
  ASSERT_TRUE(window.create());
  CPortDlg& panel = *window.portPanels()[0];
  EXPECT_EQ(panel.toolTip(), "ウェブ 01");
  click(panel.button(IDC_ACTIVE));
  ASSERT_TRUE(panel.slot.started());
  QMenu menu;
  panel.addContextEntries(menu);
  EXPECT_TRUE(menu.actions()[1]->text() == CPortDlg::kAdvancedEntry && !menu.actions()[1]->isEnabled());

  int client = connectLoopback(port);
  ASSERT_TRUE(waitUntil([&] { return panel.slot.connectionCount == 1; }));
  const std::string socket = controlSocketPath(ini());
  const auto ask = [&](const std::string& request) {  // the client blocks: in a thread of its own
    auto answer = std::async(std::launch::async, [&] { return service::askControl(socket, request, 5s); });
    waitUntil([&] { return answer.wait_for(0s) == std::future_status::ready; });
    return answer.get();
  };
  const service::ControlAnswer status = ask("status");
  ASSERT_EQ(status.lines.size(), 2u);  // the unnamed slot's line has none
  EXPECT_TRUE(status.lines[0].starts_with("slot=0 name=ウェブ%2001 state=on ") &&
              status.lines[1].find("name=") == std::string::npos);
  const service::ControlAnswer rows = ask("connections 0");
  ASSERT_EQ(rows.lines.size(), 1u);
  EXPECT_TRUE(rows.lines[0].ends_with(" name=ウェブ%2001")) << rows.lines[0];
  std::string title;
  whenModal<CStatusDlg>([&](CStatusDlg* d) { title = d->windowTitle().toStdString(), d->close(); });
  click(panel.button(IDC_CONFIRM));
  EXPECT_EQ(title, "接続状況 - ウェブ 01");
  closeFd(client);
  click(panel.button(IDC_ACTIVE));
  evlog::removeSink(&ring);

  std::vector<std::string> slotLines;
  for (const std::string& line : ring.lines())
    if (line.find(" TCP-PORT0 ") != std::string::npos) slotLines.push_back(line.substr(line.find(" TCP-PORT0 ")));
  ASSERT_GE(slotLines.size(), 4u);  // listening, opened, ended, stopped
  for (const std::string& line : slotLines) EXPECT_NE(line.find(" 名前=\"ウェブ 01\""), std::string::npos) << line;
  EXPECT_EQ(slotLines.front().rfind(" TCP-PORT0 待ち受け開始 名前=\"ウェブ 01\" 待受=", 0), 0u) << slotLines.front();
}
