#include "dialogs/ConnectionTable.h"

#include <arpa/inet.h>

#include <algorithm>
#include <optional>

namespace connection_table {
namespace {

// Keys of one kind compare as byte strings (std::string compares its chars as unsigned).
std::string bigEndian(std::uint64_t value) {
  std::string key(8, '\0');
  for (int i = 7; i >= 0; --i, value >>= 8) key[static_cast<std::size_t>(i)] = static_cast<char>(value & 0xff);
  return key;
}

std::optional<std::uint64_t> number(const std::string& text) {
  std::uint64_t value = 0;
  bool digits = false;
  for (char c : text) {
    if (c == ',') continue;
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    digits = true;
  }
  return digits ? std::optional(value) : std::nullopt;
}

std::optional<std::string> addressKey(const std::string& text) {
  unsigned char bytes[16];
  if (::inet_pton(AF_INET, text.c_str(), bytes) == 1) return '4' + std::string(reinterpret_cast<char*>(bytes), 4);
  if (::inet_pton(AF_INET6, text.c_str(), bytes) == 1) return '6' + std::string(reinterpret_cast<char*>(bytes), 16);
  return std::nullopt;
}

std::optional<std::string> ageKey(const std::string& text) {
  const std::size_t first = text.find(':'), second = text.rfind(':');
  if (first == std::string::npos || first == second) return std::nullopt;
  const auto hours = number(text.substr(0, first));
  const auto minutes = number(text.substr(first + 1, second - first - 1));
  const auto seconds = number(text.substr(second + 1));
  if (!hours || !minutes || !seconds) return std::nullopt;
  return bigEndian(*hours * 3600 + *minutes * 60 + *seconds);
}

std::optional<std::string> keyOf(Kind kind, const std::string& cell) {
  switch (kind) {
    case Kind::Address: return addressKey(cell);
    case Kind::Age: return ageKey(cell);
    case Kind::Number: break;
  }
  const auto value = number(cell);
  return value ? std::optional(bigEndian(*value)) : std::nullopt;
}

}  // namespace

void sortRows(std::vector<Row>& rows, int column, Kind kind, bool descending) {
  struct Keyed {
    std::optional<std::string> key;
    Row row;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(rows.size());
  for (Row& row : rows) {
    const std::size_t at = static_cast<std::size_t>(column);
    auto key = at < row.cells.size() ? keyOf(kind, row.cells[at]) : std::nullopt;
    keyed.push_back({std::move(key), std::move(row)});
  }
  std::sort(keyed.begin(), keyed.end(), [descending](const Keyed& a, const Keyed& b) {
    if (a.key.has_value() != b.key.has_value()) return a.key.has_value();
    if (a.key != b.key) return descending ? *a.key > *b.key : *a.key < *b.key;
    return a.row.serial < b.row.serial;
  });
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = std::move(keyed[i].row);
}

std::string tabSeparated(const std::vector<std::string>& headings, const std::vector<std::vector<std::string>>& rows) {
  std::string text;
  auto line = [&text](const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) text += (i ? "\t" : "") + cells[i];
    text += '\n';
  };
  line(headings);
  for (const auto& row : rows) line(row);
  return text;
}

}  // namespace connection_table
