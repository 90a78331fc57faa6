// The traffic view over a real capture store filled as the relay fills it: the list, the pieces
// in hex and as text under both encodings, growing while the dialog is open, saved and read back
// with tshark, and a connection the store's bound dropped.
#include <QComboBox>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include "Modal.h"
#include "TempDir.h"
#include "Tshark.h"
#include "capture/CaptureStore.h"
#include "dialogs/TrafficDlg.h"
#include "res/Resource.h"
#include "ui/ListView.h"

namespace {

using namespace testsupport;

// What the hex view shows: the headings in order, and each way's bytes read back from the hex
// columns, checked against the offset column as they go.
struct HexView {
  std::vector<std::string> headings;
  std::string bytes[2];
  bool offsetsRight = true;
};
HexView readHex(const QString& text) {
  static const QRegularExpression heading(
      QStringLiteral("^【(上り|下り)】 \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\(\\+\\d+ ms\\) (.*)$"));
  HexView view;
  int way = 0;
  for (const QString& line : text.split('\n')) {
    if (const auto m = heading.match(line); m.hasMatch()) {
      way = m.captured(1) == QStringLiteral("上り") ? 0 : 1;
      view.headings.push_back((m.captured(1) + ' ' + m.captured(2)).toStdString());
    } else if (line.size() > 10) {
      view.offsetsRight &= line.left(8).toULongLong(nullptr, 16) == view.bytes[way].size();
      view.bytes[way] += unhex(line.mid(10, 49).remove(' ').toStdString());
    }
  }
  return view;
}

TEST(TrafficDlg, FollowsAConnectionLiveInBothViewsSavesItAndSaysWhenTheBoundDroppedIt) {
  initUiOnce();
  TempDir temp;
  CaptureStore store(CaptureLimits{64 * 1024, 8 * 1024});
  const auto opened = std::chrono::steady_clock::now();
  store.opened(7, *Endpoint::fromText("127.0.0.1", 40001), *Endpoint::fromText("127.0.0.1", 8080));
  // UTF-8 up with a character cut between pieces and a byte that is none; Shift-JIS down, cut too.
  const std::vector<std::pair<Direction, std::string>> pieces{
      {Direction::up,
       "GET / HTTP/1.1\r\nX: A\xFF"
       "B \xE3\x81\x93\xE3\x82"},
      {Direction::up, "\x93\xE3\x81\xAB\r\n\r\n"},
      {Direction::down, "HTTP/1.1 200 OK\r\n\r\n\x83\x65\x83"},
      {Direction::down, "\x58\x83\x67\x07"},
  };
  std::string sent[2];
  for (const auto& [way, bytes] : pieces) store.data(7, way, bytes), sent[way == Direction::down] += bytes;
  store.closed(7, Direction::up);
  const CaptureStore* given = &store;
  CTrafficDlg dialog([&] { return given; });
  ASSERT_TRUE(dialog.create());
  dialog.show();
  const auto elapsed = std::chrono::steady_clock::now() - opened;

  ui::CListView* list = dialog.list();
  ASSERT_EQ(list->itemCount(), 1);
  std::string row;
  for (int column = 0; column < 6; ++column) row += list->itemText(0, column) + '|';
  EXPECT_EQ(row, "7|127.0.0.1:40001|" + list->itemText(0, 2) + "|" + std::to_string(sent[0].size()) + "|" +
                     std::to_string(sent[1].size()) + "||");
  const QString before = dialog.text()->toPlainText();
  HexView hex = readHex(before);
  EXPECT_EQ(hex.headings, (std::vector<std::string>{"上り 28 バイト", "上り 8 バイト", "下り 22 バイト",
                                                    "下り 4 バイト", "上り FIN"}));
  EXPECT_TRUE(hex.bytes[0] == sent[0] && hex.bytes[1] == sent[1] && hex.offsetsRight) << before.toStdString();
  const long long lastMs = before.section(QStringLiteral("(+"), -1).section(' ', 0, 0).toLongLong();
  EXPECT_LE(lastMs, std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());

  store.data(7, Direction::down, "late");  // arrives while the view is open
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.text()->toPlainText() != before; }, 5000));
  const QString after = dialog.text()->toPlainText();
  EXPECT_TRUE(after.startsWith(before) && readHex(after).bytes[1] == sent[1] + "late") << after.toStdString();
  store.closed(7, Direction::down);
  EXPECT_TRUE(QTest::qWaitFor([&] { return list->itemText(0, 5) == "終了"; }, 5000));

  click(dialog.itemAs<QRadioButton>(IDC_TRAFFIC_PLAIN));
  const QString utf8 = dialog.text()->toPlainText();
  EXPECT_TRUE(utf8.contains(QStringLiteral("GET / HTTP/1.1\nX: A\uFFFDB こ\n")) &&
              utf8.contains(QStringLiteral("\nんに\n\n【下り】")))
      << utf8.toStdString();
  dialog.itemAs<QComboBox>(IDC_TRAFFIC_ENCODING)->setCurrentIndex(1);
  const QString shiftJis = dialog.text()->toPlainText();
  EXPECT_TRUE(shiftJis.contains(QStringLiteral("200 OK\n\nテ\n【下り】")) &&
              shiftJis.contains(QStringLiteral(" バイト\nスト\u2407\n")))
      << shiftJis.toStdString();

  const std::string one = (temp / "one.pcapng").string(), all = (temp / "all.pcap").string();
  ASSERT_TRUE(dialog.exportTo(one, false, PcapFormat::pcapng));
  EXPECT_EQ(follow(one), (Followed{sent[0], sent[1] + "late"}));
  whenModal<QFileDialog>([&](QFileDialog* files) {
    files->selectNameFilter(QString::fromUtf8(CTrafficDlg::kPcapFilter)),
        files->selectFile(QString::fromStdString(all + "ng"));  // the first format's name kept
    static_cast<QDialog*>(files)->accept();
  });
  click(dialog.button(IDC_TRAFFIC_SAVE_ALL));
  EXPECT_EQ(readFile(all).substr(0, 4), "\xD4\xC3\xB2\xA1");  // the classic format, as the filter chose
  EXPECT_EQ(follow(all), follow(one));

  store.opened(8, *Endpoint::fromText("::1", 40002), *Endpoint::fromText("::1", 8081));
  store.data(8, Direction::up, std::string(8 * 1024, 'x'));  // past the slot's bound: 7 goes
  ASSERT_TRUE(QTest::qWaitFor([&] { return list->itemCount() == 1 && list->itemText(0, 0) == "8"; }, 5000));
  EXPECT_EQ(dialog.text()->toPlainText(), QString::fromUtf8(CTrafficDlg::kGone).arg(7));
  BoxAnswerer box;
  EXPECT_TRUE(!dialog.exportTo(one, false, PcapFormat::pcapng) && box.count == 1);
  EXPECT_EQ(box.text, "通信内容を保存できませんでした: " + one);
  given = nullptr;  // the capture switched off and gone
  ASSERT_TRUE(QTest::qWaitFor([&] { return list->itemCount() == 0; }, 5000));
  EXPECT_EQ(dialog.text()->toPlainText(), QString::fromUtf8(CTrafficDlg::kNothingCaptured));
}

// A long connection stops being written at the bound, once; its end is still shown.
TEST(TrafficDlg, TranscriptStopsAtItsBound) {
  CaptureStore store;
  store.opened(1, *Endpoint::fromText("127.0.0.1", 1), *Endpoint::fromText("127.0.0.1", 2));
  for (int i = 0; i < 50; ++i) store.data(1, Direction::up, std::string(64, 'a'));
  store.reset(1, Direction::down);
  traffic::Transcript transcript(*store.find(1), traffic::Layout::hex, traffic::Encoding::utf8, 2000);
  const std::string text = transcript.append(*store.find(1));
  EXPECT_LT(text.size(), 2000u + 400u);
  EXPECT_NE(text.find("（表示はここまでです。"), std::string::npos);
  EXPECT_TRUE(text.ends_with(" RST\n")) << text;
}

}  // namespace
