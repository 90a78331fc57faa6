// libFuzzer target for the INI layer. The input's first three lines are a section, a key and a
// value; the rest is a file. The file must write back byte for byte, and setting the key (or,
// with an empty key, removing the section) must leave every line but its own as it was.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "slot/IniDocument.h"

static void require(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "invariant broken: %s\n", what), std::abort();
}

static std::string_view cutLine(std::string_view& bytes) {
  const std::string_view line = bytes.substr(0, bytes.find('\n'));
  bytes.remove_prefix(std::min(bytes.size(), line.size() + 1));
  return line;
}

// The lines of a text, each with its '\n'; the byte order mark is not part of the first.
static std::vector<std::string> linesOf(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string> lines;
  for (size_t end; !text.empty(); text.remove_prefix(end)) {
    end = std::min(text.find('\n'), text.size() - 1) + 1;
    lines.emplace_back(text.substr(0, end));
  }
  return lines;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string_view section = cutLine(bytes), key = cutLine(bytes), value = cutLine(bytes);
  ini::Document doc = ini::Document::parse(bytes);
  const std::string before(bytes);
  require(doc.text() == before, "parse and write back gives the bytes read");
  const bool changed = key.empty() ? doc.removeSection(section) : doc.set(section, key, value);
  const std::string after = doc.text();
  require(changed || after == before, "a refused change changes nothing");
  const std::string_view mark = "\xEF\xBB\xBF";
  require(ini::Document::parse(after).text() == after && after.starts_with(mark) == before.starts_with(mark),
          "the changed file writes back as read, its byte order mark kept");

  const std::vector<std::string> old = linesOf(before), now = linesOf(after);  // compared from both ends
  size_t same = 0, sameEnd = 0;
  const size_t shorter = std::min(old.size(), now.size());
  while (same < shorter && old[same] == now[same]) ++same;
  while (sameEnd < shorter - same && old.rbegin()[sameEnd] == now.rbegin()[sameEnd]) ++sameEnd;
  size_t gone = old.size() - same - sameEnd, come = now.size() - same - sameEnd;
  if (gone == 1 && sameEnd == 0 && come > 1 && (now[same] == old.back() + "\n" || now[same] == old.back() + "\r\n"))
    gone = 0, --come;  // lines went after the old last line, which gained the ending it lacked
  require(key.empty() ? come == 0 && (gone > 0) == changed : gone <= 1 && come <= 2 && (gone == 0 || come == 1),
          "a removal only takes lines out, a set touches its own line only");
  return 0;
}
