#include "log/LogFormat.h"

#include "log/EventLog.h"
#include "log/SlotNames.h"

namespace evlog {
namespace {

constexpr char kHex[] = "0123456789abcdef";
constexpr char32_t kInvalid = 0xFFFFFFFF;

// The code point at `at`, moving past it; kInvalid (moving one byte) for a byte that does not
// start a well-formed UTF-8 sequence: overlong forms, surrogates and values past U+10FFFF included.
char32_t decode(const std::string& s, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return ++at, lead;
  int length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead <= 0xDF ? 2 : 0;
  if (lead >= 0xF5) length = 0;
  if (length == 0 || at + length > s.size()) return ++at, kInvalid;
  char32_t cp = lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return ++at, kInvalid;
    cp = (cp << 6) | (byte(at + i) & 0x3F);
  }
  const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < least[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return ++at, kInvalid;
  at += length;
  return cp;
}

// What a reader takes for a space or a line break besides the ASCII ones.
bool separator(char32_t cp) {
  return (cp >= 0x80 && cp <= 0xA0) || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 ||
         cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

bool plainToken(const std::string& value) {
  if (value.empty()) return false;
  for (std::size_t at = 0; at < value.size();) {
    const char32_t cp = decode(value, at);
    if (cp == kInvalid || cp <= 0x20 || cp == 0x7F || cp == '"' || cp == '\\' || separator(cp)) return false;
  }
  return true;
}

void appendByteEscape(std::string& to, unsigned char byte) {
  to += "\\x";
  to += kHex[byte >> 4];
  to += kHex[byte & 15];
}

void appendUnicodeEscape(std::string& to, char32_t cp) {
  to += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) to += kHex[(cp >> shift) & 15];
}

const char* shortEscape(char32_t cp) {
  switch (cp) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: return nullptr;
  }
}

void appendSlotName(std::string& to, int slot) {
  to += "TCP-PORT";
  to += std::to_string(slot);
}

}  // namespace

const char* levelName(Level level) {
  switch (level) {
    case Level::Error: return "err";
    case Level::Warning: return "warning";
    case Level::Notice: return "notice";
    case Level::Info: break;
  }
  return "info";
}

void appendTextValue(std::string& to, const std::string& value) {
  if (plainToken(value)) {
    to += value;
    return;
  }
  to += '"';
  for (std::size_t at = 0; at < value.size();) {
    const std::size_t start = at;
    const char32_t cp = decode(value, at);
    if (const char* escape = shortEscape(cp)) to += escape;
    else if (cp == kInvalid || cp < 0x20 || cp == 0x7F)
      appendByteEscape(to, static_cast<unsigned char>(value[start]));
    else if (cp >= 0x80 && cp <= 0x9F)
      appendUnicodeEscape(to, cp);
    else if (cp == 0x2028 || cp == 0x2029)
      appendUnicodeEscape(to, cp);
    else
      to.append(value, start, at - start);
  }
  to += '"';
}

void appendJsonString(std::string& to, const std::string& value) {
  to += '"';
  for (std::size_t at = 0; at < value.size();) {
    const std::size_t start = at;
    const char32_t cp = decode(value, at);
    if (const char* escape = shortEscape(cp)) to += escape;
    else if (cp == kInvalid)
      to += "\\ufffd";
    else if (cp < 0x20 || cp == 0x7F || cp == 0x2028 || cp == 0x2029)
      appendUnicodeEscape(to, cp);
    else
      to.append(value, start, at - start);
  }
  to += '"';
}

std::string textLine(const Record& record) {
  std::string line = localTimestamp(record.time);
  line.reserve(160);
  line += ' ';
  if (record.slot >= 0) appendSlotName(line, record.slot);
  else
    line += "RelvaneTiv";
  line += ' ';
  line += record.label;
  if (const std::string& name = slotName(record.slot); !name.empty()) {
    line += " 名前=";
    appendTextValue(line, name);
  }
  for (const Field& field : record.fields) {
    if (!field.label) continue;
    line += ' ';
    line += field.label;
    line += '=';
    appendTextValue(line, field.value);
  }
  return line;
}

std::string jsonLine(const Record& record) {
  std::string line = "{\"time\":\"";
  line.reserve(224);
  line += isoTimestamp(record.time);
  line += "\",\"level\":\"";
  line += levelName(record.level);
  line += "\",\"event\":\"";
  line += record.event;
  line += '"';
  if (record.slot >= 0) {
    line += ",\"slot\":";
    line += std::to_string(record.slot);
    if (const std::string& name = slotName(record.slot); !name.empty()) {
      line += ",\"name\":";
      appendJsonString(line, name);
    }
  }
  for (const Field& field : record.fields) {
    if (!field.key) continue;
    line += ",\"";
    line += field.key;
    line += "\":";
    if (field.number) line += field.value;
    else
      appendJsonString(line, field.value);
  }
  line += '}';
  return line;
}

std::string renderLine(const Record& record, Format format, bool journal) {
  std::string line = format == Format::Json ? jsonLine(record) : textLine(record);
  if (!journal) return line;
  const char prefix[] = {'<', static_cast<char>('0' + static_cast<int>(record.level)), '>', '\0'};
  return prefix + line;
}

}  // namespace evlog
