#pragma once
// The status table's rows apart from the widget: ordered by a column's value rather than its
// text, and written out as text for the clipboard.
#include <cstdint>
#include <string>
#include <vector>

namespace connection_table {

// What a column holds, so it sorts by value: addresses by family (IPv4 first) and then
// numerically, numbers as numbers (thousands separators allowed), ages ("h:mm:ss") in seconds.
enum class Kind { Address, Number, Age };

struct Row {
  std::uint64_t serial = 0;  // the connection behind the row
  std::vector<std::string> cells;
};

// Orders rows by `column`, ascending or not; a cell without a value ("", "-") comes last either
// way, and rows of equal value keep the order of their serials, so a refresh does not shuffle them.
void sortRows(std::vector<Row>& rows, int column, Kind kind, bool descending);

// The rows as the clipboard takes them: the headings, then one line per row, cells separated by
// tabs, every line ending in a newline.
std::string tabSeparated(const std::vector<std::string>& headings, const std::vector<std::vector<std::string>>& rows);

}  // namespace connection_table
