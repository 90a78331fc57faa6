#include "dialogs/StatusDlg.h"

#include <QFontMetrics>
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

struct Column {
  const char* heading;
  ui::CListView::Format format;
  int width;  // pixels
};

constexpr std::size_t kColumnCount = 13;

constexpr std::array<Column, kColumnCount> kColumns{{
    {"AcceptPeer", ui::CListView::FormatLeft, 80},
    {"Port", ui::CListView::FormatRight, 50},
    {"BindIp", ui::CListView::FormatLeft, 80},
    {"Port", ui::CListView::FormatRight, 50},
    {"UsedBuff", ui::CListView::FormatRight, 70},
    {"BindIp", ui::CListView::FormatLeft, 80},
    {"Port", ui::CListView::FormatRight, 50},
    {"ConnectPeer", ui::CListView::FormatLeft, 80},
    {"Port", ui::CListView::FormatRight, 50},
    {"UsedBuff", ui::CListView::FormatRight, 70},
    {"受信", ui::CListView::FormatRight, 90},  // bytes from the client
    {"送信", ui::CListView::FormatRight, 90},  // bytes to the client
    {"時間", ui::CListView::FormatRight, 60},  // how long the connection has lived
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

std::array<std::string, kColumnCount> cellsOf(const CTcpStreamPair& pair) {
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
std::array<std::string, kColumnCount> cellsOf(const CUdpSession& session, const std::string& listenAddress,
                                              int listenPort) {
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
  insertColumns();
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

std::uint64_t CStatusDlg::selectedSerial() const {
  const int row = list->currentRow();
  const bool selected = row >= 0 && row < static_cast<int>(rowSerials.size()) &&
                        list->selectionModel()->isRowSelected(row, QModelIndex());
  return selected ? rowSerials[row] : 0;  // serials start at 1
}

void CStatusDlg::refresh() {
  if (!list || !nextPair) return;
  const std::uint64_t keep = selectedSerial();
  std::vector<std::uint64_t> serials;
  std::vector<std::array<std::string, kColumnCount>> rows;
  int position = 0;
  while (CTcpStreamPair* pair = nextPair(position)) {
    serials.push_back(pair->serial);
    rows.push_back(cellsOf(*pair));
  }
  if (forEachSession)
    forEachSession([&](const CUdpSession& session) {
      serials.push_back(session.serial() | kSessionSerial);
      rows.push_back(cellsOf(session, listenAddress, listenPort));
    });
  list->setRowCount(static_cast<int>(rows.size()));
  int keptRow = -1;
  for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
    for (int column = 0; column < static_cast<int>(kColumnCount); ++column) {
      // Unchanged cells stay as they are: no repaint, no lost hover.
      if (list->itemText(row, column) != rows[row][column] || !list->item(row, column))
        list->setItemText(row, column, rows[row][column]);
    }
    if (keep != 0 && serials[row] == keep) keptRow = row;
  }
  rowSerials = std::move(serials);
  if (keptRow >= 0) {
    list->selectRow(keptRow);
  } else {
    list->clearSelection();
  }
  widenAddressColumns();
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
