#include "dialogs/StatusDlg.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QString>
#include <algorithm>
#include <array>
#include <chrono>
#include <string>

#include "dialogs/CountText.h"
#include "net/TcpStreamPair.h"
#include "net/UdpSession.h"
#include "res/Resource.h"
#include "ui/DataExchange.h"
#include "ui/ListView.h"

namespace {

constexpr int kCellPadding = 12;  // pixels around a cell's text, both sides together

using connection_table::Kind;

struct Column {
  const char* heading;
  ui::CListView::Format format;
  int width;  // pixels
  Kind kind;  // how it sorts
};

constexpr std::size_t kColumnCount = 13;

constexpr std::array<Column, kColumnCount> kColumns{{
    {"AcceptPeer", ui::CListView::FormatLeft, 80, Kind::Address},
    {"Port", ui::CListView::FormatRight, 50, Kind::Number},
    {"BindIp", ui::CListView::FormatLeft, 80, Kind::Address},
    {"Port", ui::CListView::FormatRight, 50, Kind::Number},
    {"UsedBuff", ui::CListView::FormatRight, 70, Kind::Number},
    {"BindIp", ui::CListView::FormatLeft, 80, Kind::Address},
    {"Port", ui::CListView::FormatRight, 50, Kind::Number},
    {"ConnectPeer", ui::CListView::FormatLeft, 80, Kind::Address},
    {"Port", ui::CListView::FormatRight, 50, Kind::Number},
    {"UsedBuff", ui::CListView::FormatRight, 70, Kind::Number},
    {"受信", ui::CListView::FormatRight, 90, Kind::Number},  // bytes from the client
    {"送信", ui::CListView::FormatRight, 90, Kind::Number},  // bytes to the client
    {"時間", ui::CListView::FormatRight, 60, Kind::Age},     // how long the connection has lived
}};

struct Side {
  std::string localAddress, peerAddress;
  int localPort = 0, peerPort = 0;
  uint32_t maxRemainCount = 0;
  std::uint64_t received = 0, sent = 0;
};

// A side whose stream is already gone shows like one that has not connected yet.
Side sideOf(const CTcpSockStream* stream) {
  Side side;
  if (!stream) return side;
  side.localAddress = stream->getLocalAddress();
  side.peerAddress = stream->getPeerAddress();
  side.localPort = stream->getLocalPort();
  side.peerPort = stream->peerPort;
  side.maxRemainCount = stream->maxRemainCount;
  side.received = stream->receivedBytes;
  side.sent = stream->sentBytes;
  return side;
}

std::vector<std::string> cellsOf(const CTcpStreamPair& pair) {
  const Side in = sideOf(pair.acceptStream.get());
  const Side out = sideOf(pair.connectStream.get());
  const auto age = std::chrono::steady_clock::now() - pair.started;
  return {in.peerAddress,
          std::to_string(in.peerPort),
          in.localAddress,
          std::to_string(in.localPort),
          std::to_string(in.maxRemainCount),
          out.localAddress,
          std::to_string(out.localPort),
          out.peerAddress,
          std::to_string(out.peerPort),
          std::to_string(out.maxRemainCount),
          thousands(in.received),
          thousands(in.sent),
          elapsedText(std::chrono::duration_cast<std::chrono::seconds>(age))};
}

// A UDP session in the same columns: the client and the listening socket, the session's own
// socket and the destination; no stream buffer ("-"), and the bytes each way.
std::vector<std::string> cellsOf(const CUdpSession& session, const std::string& listenAddress, int listenPort) {
  const net::SocketAddress local = session.local();
  const bool connected = session.connected();
  const auto age = CUdpSession::Clock::now() - session.started;
  return {session.client().text(),
          std::to_string(session.client().port()),
          listenAddress,
          std::to_string(listenPort),
          "-",
          local.empty() ? "" : local.text(),
          local.empty() ? "0" : std::to_string(local.port()),
          connected ? session.destination().text() : "",
          connected ? std::to_string(session.destination().port()) : "0",
          "-",
          thousands(session.toDestination.bytes),
          thousands(session.toClient.bytes),
          elapsedText(std::chrono::duration_cast<std::chrono::seconds>(age))};
}

// Apart from the pairs' serials, so a selection never moves from one kind to the other.
constexpr std::uint64_t kSessionSerial = std::uint64_t{1} << 63;

}  // namespace

CStatusDlg::CStatusDlg() : ui::CDialog(IDD_STATUS) {
  refreshTimer.setInterval(kRefreshMs);
  connect(&refreshTimer, &QTimer::timeout, this, &CStatusDlg::refresh);
}

CStatusDlg::~CStatusDlg() = default;

void CStatusDlg::doDataExchange(ui::CDataExchange& dx) { ui::ddxControl(dx, IDC_CONNECTION_LIST, list); }

bool CStatusDlg::onInitDialog() {
  ui::CDialog::onInitDialog();
  if (!list) return true;
  list->setExtendedStyle(ui::CListView::GridLines | ui::CListView::FullRowSelect);
  list->setSingleSelection(false);  // several rows, to copy or close together
  insertColumns();
  enableSorting();
  list->installEventFilter(this);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list, &QWidget::customContextMenuRequested, this, &CStatusDlg::showMenu);
  if (nextPair) {
    refresh();
    refreshTimer.start();
  }
  return true;
}

void CStatusDlg::insertColumns() {
  for (int i = 0; i < static_cast<int>(kColumns.size()); ++i) {
    list->insertColumn(i, kColumns[i].heading, kColumns[i].format, kColumns[i].width);
  }
}

// The header only keeps the indicator: the rows are ordered here, by value, at every refresh.
void CStatusDlg::enableSorting() {
  QHeaderView* header = list->horizontalHeader();
  for (int column = 0; column < list->columnCount(); ++column)
    list->horizontalHeaderItem(column)->setData(Qt::InitialSortOrderRole, Qt::AscendingOrder);
  header->setSectionsClickable(true);
  header->setSortIndicator(-1, Qt::AscendingOrder);
  header->setSortIndicatorShown(true);
  connect(header, &QHeaderView::sortIndicatorChanged, this, [this](int column, Qt::SortOrder order) {
    sortColumn = column;
    descending = order == Qt::DescendingOrder;
    refresh();
  });
}

bool CStatusDlg::eventFilter(QObject* watched, QEvent* event) {
  // Taken before the list sees it: its own Ctrl+C would copy the current cell alone.
  if (watched == list && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
    copySelection();
    return true;
  }
  return ui::CDialog::eventFilter(watched, event);
}

void CStatusDlg::showMenu(const QPoint& at) {
  const bool selected = list->selectionModel()->hasSelection();
  QMenu menu(this);
  menu.addAction(QString::fromUtf8(kCopyItem) + "\tCtrl+C", this, &CStatusDlg::copySelection)->setEnabled(selected);
  menu.addAction(QString::fromUtf8(kCloseItem), this, &CStatusDlg::closeSelection)
      ->setEnabled(selected && closeConnection != nullptr);
  menu.addAction(QString::fromUtf8(kTrafficItem), this, &CStatusDlg::showCurrentTraffic)
      ->setEnabled(currentSerial() != 0 && showTraffic != nullptr);
  menu.exec(list->viewport()->mapToGlobal(at));
}

void CStatusDlg::copySelection() {
  std::vector<std::string> headings;
  for (int column = 0; column < list->columnCount(); ++column) headings.push_back(list->columnHeading(column));
  std::vector<std::vector<std::string>> rows;
  for (int row = 0; row < list->itemCount(); ++row) {
    if (!list->selectionModel()->isRowSelected(row, QModelIndex())) continue;
    rows.emplace_back();
    for (int column = 0; column < list->columnCount(); ++column) rows.back().push_back(list->itemText(row, column));
  }
  if (rows.empty()) return;
  QGuiApplication::clipboard()->setText(QString::fromStdString(connection_table::tabSeparated(headings, rows)));
}

void CStatusDlg::closeSelection() {
  if (!closeConnection) return;
  for (std::uint64_t serial : selectedSerials())
    closeConnection(serial & ~kSessionSerial, (serial & kSessionSerial) != 0);
  refresh();
}

void CStatusDlg::showCurrentTraffic() {
  const std::uint64_t serial = currentSerial();
  if (serial != 0 && showTraffic) showTraffic(serial & ~kSessionSerial);
}

std::set<std::uint64_t> CStatusDlg::selectedSerials() const {
  std::set<std::uint64_t> serials;
  for (const QModelIndex& index : list->selectionModel()->selectedRows())
    if (index.row() < static_cast<int>(rowSerials.size())) serials.insert(rowSerials[index.row()]);
  return serials;
}

std::uint64_t CStatusDlg::currentSerial() const {
  const int row = list->currentRow();
  return row >= 0 && row < static_cast<int>(rowSerials.size()) ? rowSerials[row] : 0;  // serials start at 1
}

void CStatusDlg::refresh() {
  if (!list || !nextPair) return;
  const std::set<std::uint64_t> keep = selectedSerials();
  const std::uint64_t current = currentSerial();
  std::vector<connection_table::Row> rows = readRows();
  if (sortColumn >= 0 && sortColumn < static_cast<int>(kColumnCount))
    connection_table::sortRows(rows, sortColumn, kColumns[sortColumn].kind, descending);
  showRows(rows);
  reselect(keep, current);
  widenAddressColumns();
}

std::vector<connection_table::Row> CStatusDlg::readRows() const {
  std::vector<connection_table::Row> rows;
  int position = 0;
  while (CTcpStreamPair* pair = nextPair(position)) rows.push_back({pair->serial, cellsOf(*pair)});
  if (forEachSession)
    forEachSession([&](const CUdpSession& session) {
      rows.push_back({session.serial() | kSessionSerial, cellsOf(session, listenAddress, listenPort)});
    });
  return rows;
}

void CStatusDlg::showRows(const std::vector<connection_table::Row>& rows) {
  list->setRowCount(static_cast<int>(rows.size()));
  rowSerials.clear();
  for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
    for (int column = 0; column < static_cast<int>(kColumnCount); ++column) {
      // Unchanged cells stay as they are: no repaint, no lost hover.
      if (list->itemText(row, column) != rows[row].cells[column] || !list->item(row, column))
        list->setItemText(row, column, rows[row].cells[column]);
    }
    rowSerials.push_back(rows[row].serial);
  }
}

void CStatusDlg::reselect(const std::set<std::uint64_t>& keep, std::uint64_t current) {
  QItemSelection selection;
  const QAbstractItemModel* model = list->model();
  for (int row = 0; row < static_cast<int>(rowSerials.size()); ++row) {
    if (rowSerials[row] == current)
      list->selectionModel()->setCurrentIndex(model->index(row, 0), QItemSelectionModel::NoUpdate);
    if (keep.count(rowSerials[row])) selection.select(model->index(row, 0), model->index(row, list->columnCount() - 1));
  }
  list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

// An IPv6 address is shown whole: its column grows to the widest cell, never narrower than
// its own width, so IPv4-only tables keep their look.
void CStatusDlg::widenAddressColumns() {
  for (int column = 0; column < static_cast<int>(kColumns.size()); ++column) {
    if (kColumns[column].format != ui::CListView::FormatLeft) continue;  // addresses, left-aligned
    int width = kColumns[column].width;
    for (int row = 0; row < list->itemCount(); ++row) {
      const QString text = QString::fromStdString(list->itemText(row, column));
      width = std::max(width, list->fontMetrics().horizontalAdvance(text) + kCellPadding);
    }
    list->setColumnWidth(column, width);
  }
}
