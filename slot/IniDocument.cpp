#include "slot/IniDocument.h"

#include <cerrno>
#include <map>

#include "net/Trace.h"
#include "slot/AtomicFile.h"
#include "slot/SettingsRead.h"

namespace ini {
namespace {

constexpr std::string_view kBlanks = " \t\r\f\v";
constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view trim(std::string_view s) {
  size_t b = s.find_first_not_of(kBlanks);
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(kBlanks);
  return s.substr(b, e - b + 1);
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

bool isComment(std::string_view line) {
  std::string_view t = trim(line);
  return !t.empty() && (t[0] == ';' || t[0] == '#');
}

// The section name of a header line, or nothing for any other line.
std::optional<std::string_view> headerName(std::string_view line) {
  std::string_view t = trim(line);
  if (t.empty() || t[0] != '[') return std::nullopt;
  size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return trim(t.substr(1, close - 1));
}

// Position of the '=' of a key line, or npos for comments and lines without one.
size_t equalsPos(std::string_view line) {
  if (isComment(line)) return std::string_view::npos;
  return line.find('=');
}

std::string_view unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// A key line that starts so would be read back as a section header or a comment.
bool readAsOtherLine(std::string_view key) {
  return !key.empty() && std::string_view("[;#").find(key.front()) != std::string_view::npos;
}

}  // namespace

Document Document::parse(std::string_view bytes) {
  Document doc;
  if (bytes.substr(0, kBom.size()) == kBom) {
    doc.bom_ = kBom;
    bytes.remove_prefix(kBom.size());
  }
  while (!bytes.empty()) {
    size_t nl = bytes.find('\n');
    Line line;
    if (nl == std::string_view::npos) {
      line.content = bytes;
      bytes = {};
    } else {
      bool crlf = nl > 0 && bytes[nl - 1] == '\r';
      line.content = bytes.substr(0, crlf ? nl - 1 : nl);
      line.eol = crlf ? "\r\n" : "\n";
      bytes.remove_prefix(nl + 1);
    }
    doc.lines_.push_back(std::move(line));
  }
  if (!doc.lines_.empty() && !doc.lines_.front().eol.empty()) doc.eol_ = doc.lines_.front().eol;
  return doc;
}

Document Document::load(const std::string& path) {
  SettingsRead read = readSettingsFile(path);
  if (read.outcome != SettingsRead::Outcome::Refused) return parse(read.bytes);  // missing: none
  Document doc;
  doc.readable_ = false;
  doc.loadError_ = read.error;  // the reason a failed save will give
  doc.refusal_ = std::move(read.refusal);
  return doc;
}

std::optional<size_t> Document::findSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    auto name = headerName(lines_[i].content);
    if (name && sameName(*name, section)) return i;
  }
  return std::nullopt;
}

size_t Document::sectionEnd(size_t header) const {
  size_t i = header + 1;
  while (i < lines_.size() && !headerName(lines_[i].content)) ++i;
  return i;
}

std::optional<size_t> Document::findKey(size_t header, std::string_view key) const {
  size_t end = sectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    std::string_view c = lines_[i].content;
    size_t eq = equalsPos(c);
    if (eq != std::string_view::npos && sameName(trim(c.substr(0, eq)), key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> Document::get(std::string_view section, std::string_view key) const {
  auto header = findSection(section);
  if (!header) return std::nullopt;
  auto at = findKey(*header, key);
  if (!at) return std::nullopt;
  std::string_view c = lines_[*at].content;
  return std::string(unquote(trim(c.substr(c.find('=') + 1))));
}

void Document::insertLine(size_t at, std::string content) {
  // The line before may have been the file's last line without an ending.
  if (at > 0 && lines_[at - 1].eol.empty()) lines_[at - 1].eol = eol_;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(content), eol_});
}

bool Document::set(std::string_view section, std::string_view key, std::string_view value) {
  section = trim(section);
  key = trim(key);
  if (section.empty() || key.empty() || hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value) ||
      key.find('=') != std::string_view::npos || readAsOtherLine(key) || section.find(']') != std::string_view::npos) {
    trace("Error:ini::Document::set() refused [%.*s] %.*s\n", int(section.size()), section.data(), int(key.size()),
          key.data());
    return false;
  }
  std::string newLine = std::string(key) + "=" + std::string(value);
  auto header = findSection(section);
  if (!header) {
    insertLine(lines_.size(), "[" + std::string(section) + "]");
    insertLine(lines_.size(), std::move(newLine));
    return true;
  }
  if (auto at = findKey(*header, key)) {
    std::string& c = lines_[*at].content;
    size_t keep = c.find_first_not_of(" \t", c.find('=') + 1);
    c = c.substr(0, keep == std::string::npos ? c.size() : keep) + std::string(value);
    return true;
  }
  size_t last = *header;
  for (size_t i = *header + 1, end = sectionEnd(*header); i < end; ++i)
    if (!trim(lines_[i].content).empty() && !isComment(lines_[i].content)) last = i;
  insertLine(last + 1, std::move(newLine));
  return true;
}

bool Document::removeSection(std::string_view section) {
  auto header = findSection(section);
  if (!header) return false;
  const auto first = lines_.begin() + static_cast<std::ptrdiff_t>(*header);
  lines_.erase(first, lines_.begin() + static_cast<std::ptrdiff_t>(sectionEnd(*header)));
  return true;
}

bool Document::renameSection(std::string_view section, std::string_view newName) {
  auto header = findSection(section);
  if (!header || trim(newName).empty() || hasLineBreak(newName) || newName.find(']') != std::string_view::npos)
    return false;
  std::string& line = lines_[*header].content;
  const std::string_view old = *headerName(line);  // points into `line`
  const size_t at = static_cast<size_t>(old.data() - line.data());
  line.replace(at, old.size(), newName);
  return true;
}

std::vector<std::string> Document::sectionNames() const {
  std::vector<std::string> names;
  for (const Line& line : lines_)
    if (auto name = headerName(line.content)) names.emplace_back(*name);
  return names;
}

std::vector<std::string> Document::duplicateKeys(std::string_view section) const {
  std::vector<std::string> repeated;
  auto header = findSection(section);
  if (!header) return repeated;
  std::map<std::string, int> seen;  // by the folded name: how often it occurred
  for (size_t i = *header + 1, end = sectionEnd(*header); i < end; ++i) {
    std::string_view c = lines_[i].content;
    size_t eq = equalsPos(c);
    if (eq == std::string_view::npos) continue;
    const std::string_view key = trim(c.substr(0, eq));
    std::string folded(key);
    for (char& ch : folded) ch = (ch >= 'A' && ch <= 'Z') ? char(ch - 'A' + 'a') : ch;
    if (++seen[folded] == 2) repeated.emplace_back(key);
  }
  return repeated;
}

std::string Document::text() const {
  std::string out = bom_;
  for (const Line& l : lines_) out += l.content + l.eol;
  return out;
}

bool Document::save(const std::string& path) const {
  if (!readable_) {
    trace("Error:ini::Document::save() not saved over unreadable %s\n", path.c_str());
    errno = loadError_;
    return false;
  }
  return writeFileAtomically(path, text());
}

}  // namespace ini
