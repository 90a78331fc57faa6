#include "dialogs/TrafficDlg.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSyntaxHighlighter>
#include <QTextCursor>
#include <array>

#include "capture/CaptureStore.h"
#include "dialogs/CountText.h"
#include "res/Resource.h"
#include "ui/ListView.h"
#include "ui/MessageBox.h"

namespace {

struct Column {
  const char* heading;
  ui::CListView::Format format;
  int width;  // pixels
};

constexpr std::array<Column, 6> kColumns{{
    {"番号", ui::CListView::FormatRight, 50},
    {"クライアント", ui::CListView::FormatLeft, 170},
    {"開始", ui::CListView::FormatLeft, 70},
    {"上り", ui::CListView::FormatRight, 100},  // bytes from the client
    {"下り", ui::CListView::FormatRight, 100},  // bytes to the client
    {"状態", ui::CListView::FormatLeft, 60},
}};

constexpr const char* kEnded = "終了";

// Each way in a colour of its own, the headings in bold, the view's own notes in grey. A block's
// state is the way of the heading above it, so only appended blocks are coloured as they come.
class WayColours : public QSyntaxHighlighter {
public:
  using QSyntaxHighlighter::QSyntaxHighlighter;

protected:
  void highlightBlock(const QString& line) override {
    static const QString up = QStringLiteral("【上り】"), down = QStringLiteral("【下り】");
    int way = previousBlockState();
    const bool heading = line.startsWith(up) || line.startsWith(down);
    if (heading) way = line.startsWith(up) ? 0 : 1;
    setCurrentBlockState(way);
    QTextCharFormat format;
    if (line.startsWith(QStringLiteral("（"))) format.setForeground(Qt::gray);
    else if (way >= 0)
      format.setForeground(way == 0 ? QColor(0x10, 0x40, 0xA0) : QColor(0xA0, 0x28, 0x20));
    format.setFontWeight(heading ? QFont::Bold : QFont::Normal);
    setFormat(0, static_cast<int>(line.size()), format);
  }
};

}  // namespace

CTrafficDlg::CTrafficDlg(std::function<const CaptureStore*()> capture, std::uint64_t serial)
    : ui::CDialog(IDD_TRAFFIC), capture_(std::move(capture)), serial_(serial) {
  timer_.setInterval(kRefreshMs);
  connect(&timer_, &QTimer::timeout, this, &CTrafficDlg::refresh);
  onCommand(IDC_TRAFFIC_HEX, &CTrafficDlg::onLayoutChosen);
  onCommand(IDC_TRAFFIC_PLAIN, &CTrafficDlg::onLayoutChosen);
  onCommand(IDC_TRAFFIC_SAVE_ONE, [this] { onSave(false); });
  onCommand(IDC_TRAFFIC_SAVE_ALL, [this] { onSave(true); });
}

CTrafficDlg::~CTrafficDlg() = default;

ui::CListView* CTrafficDlg::list() const { return itemAs<ui::CListView>(IDC_TRAFFIC_LIST); }
QPlainTextEdit* CTrafficDlg::text() const { return itemAs<QPlainTextEdit>(IDC_TRAFFIC_TEXT); }

bool CTrafficDlg::onInitDialog() {
  ui::CDialog::onInitDialog();
  if (!list() || !text()) return true;
  insertColumns();
  connect(list(), &QTableWidget::currentCellChanged, this, &CTrafficDlg::onRowChosen);
  // Hex columns line up only in a font of one width.
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setPointSize(font().pointSize());
  text()->setFont(fixed);
  text()->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  new WayColours(text()->document());  // owned by the document
  setCheckState(IDC_TRAFFIC_HEX, 1);
  if (auto* encoding = itemAs<QComboBox>(IDC_TRAFFIC_ENCODING)) {
    encoding->setEnabled(false);  // the hex view shows ASCII only
    connect(encoding, &QComboBox::currentIndexChanged, this, [this](int chosen) {
      encoding_ = chosen == 1 ? traffic::Encoding::shiftJis : traffic::Encoding::utf8;
      transcript_.reset();
      refresh();
    });
  }
  refresh();
  timer_.start();
  return true;
}

void CTrafficDlg::insertColumns() {
  ui::CListView* rows = list();
  rows->setExtendedStyle(ui::CListView::GridLines | ui::CListView::FullRowSelect);
  for (int i = 0; i < static_cast<int>(kColumns.size()); ++i)
    rows->insertColumn(i, kColumns[i].heading, kColumns[i].format, kColumns[i].width);
}

void CTrafficDlg::refresh() {
  if (!list() || !text()) return;
  const CaptureStore* store = capture_ ? capture_() : nullptr;
  if (store != store_) {  // a new capture: nothing read from the old one holds
    store_ = store;
    transcript_.reset();
    const QSignalBlocker quiet(list());
    list()->deleteAllItems();
    rowSerials_.clear(), rowEnded_.clear();
  }
  syncList(store);
  if (serial_ == 0 && !rowSerials_.empty()) serial_ = rowSerials_.back();
  selectShown();
  showPieces(store);
  enableItem(IDC_TRAFFIC_SAVE_ONE, store && store->find(serial_));
  enableItem(IDC_TRAFFIC_SAVE_ALL, !rowSerials_.empty());
}

// The rows follow the capture's order, oldest first: rows of connections dropped go, new ones
// are inserted where they stand, and only rows of connections still open are written again.
void CTrafficDlg::syncList(const CaptureStore* store) {
  const QSignalBlocker quiet(list());
  for (int row = static_cast<int>(rowSerials_.size()) - 1; row >= 0; --row) {
    if (store && store->find(rowSerials_[row])) continue;
    list()->removeRow(row);
    rowSerials_.erase(rowSerials_.begin() + row), rowEnded_.erase(rowEnded_.begin() + row);
  }
  if (!store) return;
  std::size_t row = 0;
  for (const CapturedConnection* c : store->connections()) {
    if (row == rowSerials_.size() || rowSerials_[row] != c->serial) {
      list()->insertItem(static_cast<int>(row), std::to_string(c->serial));
      rowSerials_.insert(rowSerials_.begin() + row, c->serial);
      rowEnded_.insert(rowEnded_.begin() + row, false);
    }
    if (!rowEnded_[row]) setCells(static_cast<int>(row), *c);
    ++row;
  }
}

void CTrafficDlg::setCells(int row, const CapturedConnection& c) {
  const std::array<std::string, 5> cells{traffic::endpointText(c.client), traffic::clockText(c.openedWall, false),
                                         thousands(c.seen[0]), thousands(c.seen[1]), c.ended ? kEnded : ""};
  for (int column = 1; column <= static_cast<int>(cells.size()); ++column)
    if (list()->itemText(row, column) != cells[column - 1] || !list()->item(row, column))
      list()->setItemText(row, column, cells[column - 1]);
  rowEnded_[row] = c.ended;
}

void CTrafficDlg::selectShown() {
  const QSignalBlocker quiet(list());
  const auto at = std::find(rowSerials_.begin(), rowSerials_.end(), serial_);
  const int row = at == rowSerials_.end() ? -1 : static_cast<int>(at - rowSerials_.begin());
  if (row == list()->currentRow()) return;
  if (row < 0) list()->clearSelection();
  list()->setCurrentCell(row, row < 0 ? -1 : 0);
}

void CTrafficDlg::onRowChosen(int row) {
  if (row < 0 || row >= static_cast<int>(rowSerials_.size()) || rowSerials_[row] == serial_) return;
  serial_ = rowSerials_[row];
  transcript_.reset();
  refresh();
}

void CTrafficDlg::onLayoutChosen() {
  const traffic::Layout chosen = checkState(IDC_TRAFFIC_PLAIN) ? traffic::Layout::text : traffic::Layout::hex;
  enableItem(IDC_TRAFFIC_ENCODING, chosen == traffic::Layout::text);
  if (chosen == layout_) return;
  layout_ = chosen;
  transcript_.reset();
  refresh();
}

void CTrafficDlg::showPieces(const CaptureStore* store) {
  const CapturedConnection* c = store ? store->find(serial_) : nullptr;
  if (!c) {
    transcript_.reset();
    if (!store) showMessage(QString::fromUtf8(kNothingCaptured));
    else if (serial_ == 0)
      showMessage(QString::fromUtf8(kNoConnection));
    else
      showMessage(QString::fromUtf8(kGone).arg(serial_));
    return;
  }
  if (transcript_ && !transcript_->follows(*c)) transcript_.reset();
  if (!transcript_) {
    message_.clear();
    text()->clear();
    transcript_ = std::make_unique<traffic::Transcript>(*c, layout_, encoding_);
  }
  appendText(transcript_->append(*c));
}

void CTrafficDlg::showMessage(const QString& message) {
  if (message == message_) return;
  message_ = message;
  text()->setPlainText(message);
}

void CTrafficDlg::appendText(const std::string& more) {
  if (more.empty()) return;
  // A reader at the end follows what arrives; one who scrolled up keeps his place.
  QScrollBar* bar = text()->verticalScrollBar();
  const bool atEnd = bar->value() == bar->maximum() && bar->maximum() > 0;
  QTextCursor end(text()->document());
  end.movePosition(QTextCursor::End);
  end.insertText(QString::fromUtf8(more.data(), static_cast<qsizetype>(more.size())));
  if (atEnd) bar->setValue(bar->maximum());
}

void CTrafficDlg::onSave(bool all) {
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  const QString name = all ? QStringLiteral("relvanetiv-%1.pcapng").arg(stamp)
                           : QStringLiteral("relvanetiv-%1-%2.pcapng").arg(stamp).arg(serial_);
  const QString pcapng = QString::fromUtf8(kPcapngFilter), pcap = QString::fromUtf8(kPcapFilter);
  QString filter = pcapng;
  QString path = QFileDialog::getSaveFileName(this, QString::fromUtf8(kSaveTitle), QDir::home().filePath(name),
                                              pcapng + ";;" + pcap, &filter);
  if (path.isEmpty()) return;
  const bool classic = filter == pcap || path.endsWith(QStringLiteral(".pcap"));
  if (classic && path.endsWith(QStringLiteral(".pcapng"))) path.chop(2);  // the name offered first, kept by the user
  exportTo(QFile::encodeName(path).toStdString(), all, classic ? PcapFormat::pcap : PcapFormat::pcapng);
}

bool CTrafficDlg::exportTo(const std::string& path, bool all, PcapFormat format) {
  const CaptureStore* store = capture_ ? capture_() : nullptr;
  const CapturedConnection* c = store ? store->find(serial_) : nullptr;
  const bool written = all ? store && writeStore(*store, path, format) : c && writeConnection(*c, path, format);
  if (!written) ui::messageBox(QString::fromUtf8(kSaveFailed).arg(QFile::decodeName(path.c_str())).toStdString(), this);
  return written;
}
