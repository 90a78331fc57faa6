#include "dialogs/StatusDlg.h"

#include <algorithm>
#include <QFontMetrics>
#include <QString>
#include <array>
#include <string>

#include "net/TcpRepeater.h"
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

constexpr std::array<Column, 10> kColumns{{
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
}};

struct Side {
  std::string localAddress, peerAddress;
  int localPort = 0, peerPort = 0;
  uint32_t maxRemainCount = 0;
};

// A side whose stream is already gone shows like one that has not connected yet.
Side sideOf(const CTcpSockStream* stream) {
  Side side;
  if (!stream) return side;
  side.localAddress = stream->getLocalAddress();
  side.peerAddress = stream->getPeerAddress();
  side.localPort = stream->localPort;
  side.peerPort = stream->peerPort;
  side.maxRemainCount = stream->maxRemainCount;
  return side;
}

}  // namespace

CStatusDlg::CStatusDlg() : ui::CDialog(IDD_STATUS) {}

CStatusDlg::~CStatusDlg() = default;

void CStatusDlg::doDataExchange(ui::CDataExchange& dx) {
  ui::ddxControl(dx, IDC_CONNECTION_LIST, list);
}

bool CStatusDlg::onInitDialog() {
  ui::CDialog::onInitDialog();
  if (!list) return true;
  list->setExtendedStyle(ui::CListView::GridLines | ui::CListView::FullRowSelect);
  insertColumns();
  if (repeater) fillRows();
  return true;
}

void CStatusDlg::insertColumns() {
  for (int i = 0; i < static_cast<int>(kColumns.size()); ++i) {
    list->insertColumn(i, kColumns[i].heading, kColumns[i].format, kColumns[i].width);
  }
}

void CStatusDlg::fillRows() {
  int position = 0;
  int row = 0;
  while (CTcpStreamPair* pair = repeater->getNextPair(position)) {
    const Side in = sideOf(pair->acceptStream);
    const Side out = sideOf(pair->connectStream);
    const std::array<std::string, 10> cells{
        in.peerAddress,  std::to_string(in.peerPort),   in.localAddress,
        std::to_string(in.localPort),  std::to_string(in.maxRemainCount),
        out.localAddress, std::to_string(out.localPort), out.peerAddress,
        std::to_string(out.peerPort),  std::to_string(out.maxRemainCount)};
    list->insertItem(row, cells[0]);
    for (int column = 1; column < static_cast<int>(cells.size()); ++column) {
      list->setItemText(row, column, cells[column]);
    }
    ++row;
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
