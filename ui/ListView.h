// A report-style list: columns with a heading, a width in pixels and an alignment that
// heading and cells share; rows of read-only text cells addressed by (row, column).
#pragma once

#include <QTableWidget>
#include <string>

namespace ui {

class CListView : public QTableWidget {
  Q_OBJECT
public:
  enum Format { FormatLeft = 0, FormatRight = 1, FormatCenter = 2 };
  enum ExtendedStyle : unsigned { GridLines = 1u << 0, FullRowSelect = 1u << 1 };

  explicit CListView(QWidget* parent = nullptr);

  void setExtendedStyle(unsigned style);
  unsigned extendedStyle() const { return extendedStyle_; }
  void setSingleSelection(bool single);

  // Inserts a column before `column` (appended when past the end). Returns its index.
  int insertColumn(int column, const std::string& heading, Format format, int width);
  std::string columnHeading(int column) const;
  Format columnFormat(int column) const;

  // Inserts a row before `row` (appended when past the end) with `text` in column 0.
  // Returns the row's index, or -1 when there are no columns yet.
  int insertItem(int row, const std::string& text);
  bool setItemText(int row, int column, const std::string& text);
  std::string itemText(int row, int column) const;  // empty when there is no such cell
  int itemCount() const { return rowCount(); }
  void deleteAllItems() { setRowCount(0); }

protected:
  void changeEvent(QEvent* event) override;

private:
  void fitRowHeight();
  Qt::Alignment alignmentOf(int column) const;
  unsigned extendedStyle_ = 0;
};

}  // namespace ui
