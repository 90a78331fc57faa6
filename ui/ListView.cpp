#include "ui/ListView.h"

#include <QEvent>
#include <QHeaderView>
#include <QTableWidgetItem>
#include <algorithm>

namespace ui {
namespace {

Qt::Alignment toAlignment(CListView::Format format) {
  switch (format) {
    case CListView::FormatRight: return Qt::AlignRight | Qt::AlignVCenter;
    case CListView::FormatCenter: return Qt::AlignHCenter | Qt::AlignVCenter;
    case CListView::FormatLeft: break;
  }
  return Qt::AlignLeft | Qt::AlignVCenter;
}

constexpr int kFormatRole = Qt::UserRole + 1;

}  // namespace

CListView::CListView(QWidget* parent) : QTableWidget(parent) {
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  fitRowHeight();
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(false);
  setExtendedStyle(0);
}

// Rows as tight as the list's font allows; the font arrives from the dialog after
// construction, so this runs again on every font change.
void CListView::fitRowHeight() { verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4); }

void CListView::changeEvent(QEvent* event) {
  QTableWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange) fitRowHeight();
}

void CListView::setExtendedStyle(unsigned style) {
  extendedStyle_ = style;
  setShowGrid(style & GridLines);
  setSelectionBehavior((style & FullRowSelect) ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
}

void CListView::setSingleSelection(bool single) {
  setSelectionMode(single ? QAbstractItemView::SingleSelection : QAbstractItemView::ExtendedSelection);
}

int CListView::insertColumn(int column, const std::string& heading, Format format, int width) {
  column = std::clamp(column, 0, columnCount());
  QTableWidget::insertColumn(column);
  auto* header = new QTableWidgetItem(QString::fromStdString(heading));  // owned by the table
  header->setTextAlignment(toAlignment(format));
  header->setData(kFormatRole, int{format});
  setHorizontalHeaderItem(column, header);
  setColumnWidth(column, width);
  return column;
}

std::string CListView::columnHeading(int column) const {
  const QTableWidgetItem* header = horizontalHeaderItem(column);
  return header ? header->text().toStdString() : std::string();
}

CListView::Format CListView::columnFormat(int column) const {
  const QTableWidgetItem* header = horizontalHeaderItem(column);
  return header ? static_cast<Format>(header->data(kFormatRole).toInt()) : FormatLeft;
}

Qt::Alignment CListView::alignmentOf(int column) const { return toAlignment(columnFormat(column)); }

int CListView::insertItem(int row, const std::string& text) {
  if (columnCount() == 0) return -1;
  row = std::clamp(row, 0, rowCount());
  insertRow(row);
  setItemText(row, 0, text);
  return row;
}

bool CListView::setItemText(int row, int column, const std::string& text) {
  if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) return false;
  auto* cell = new QTableWidgetItem(QString::fromStdString(text));  // owned by the table
  cell->setTextAlignment(alignmentOf(column));
  cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  setItem(row, column, cell);
  return true;
}

std::string CListView::itemText(int row, int column) const {
  const QTableWidgetItem* cell = item(row, column);
  return cell ? cell->text().toStdString() : std::string();
}

}  // namespace ui
