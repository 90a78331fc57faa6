#include "app/VersionRecord.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <strings.h>

bool versionQueryValue(const char* record, std::size_t size, const std::string& subBlock, std::string& value) {
  std::size_t pos = 0;
  while (pos < size) {
    const char* line = record + pos;
    const void* nl = std::memchr(line, '\n', size - pos);
    std::size_t len = nl ? static_cast<const char*>(nl) - line : size - pos;
    if (len > subBlock.size() && line[subBlock.size()] == '=' &&
        ::strncasecmp(line, subBlock.c_str(), subBlock.size()) == 0) {
      value.assign(line + subBlock.size() + 1, len - subBlock.size() - 1);
      return true;
    }
    pos += len + 1;
  }
  return false;
}

bool parseTranslation(const std::string& value, uint16_t& language, uint16_t& codePage) {
  unsigned lang = 0, cp = 0;
  int used = 0;
  if (std::sscanf(value.c_str(), "%4x %4x%n", &lang, &cp, &used) != 2) return false;
  // Anything but blanks after the two words means the entry is not one we understand.
  for (const char* rest = value.c_str() + used; *rest; ++rest)
    if (*rest != ' ' && *rest != '\r') return false;
  language = static_cast<uint16_t>(lang);
  codePage = static_cast<uint16_t>(cp);
  return true;
}

namespace {
// Cuts at a character boundary so a long text never ends in half a UTF-8 character.
void cutToFit(std::string& s, std::size_t limit) {
  if (s.size() <= limit) return;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  s.resize(end);
}
}  // namespace

const char* CVersionCache::versionText(const CVersionRecordSource& source) {
  if (read == 1) return versionBuffer;
  std::memset(versionBuffer, 0, sizeof(versionBuffer));

  std::size_t size = source.recordSize();
  if (size == 0) return versionBuffer;
  std::unique_ptr<char[]> data(new (std::nothrow) char[size + 1]);
  if (!data) return versionBuffer;
  if (!source.readRecord(data.get(), size)) return versionBuffer;
  data[size] = '\0';

  std::string translationValue;
  uint16_t language = 0, codePage = 0;
  if (!versionQueryValue(data.get(), size, "\\VarFileInfo\\Translation", translationValue) ||
      !parseTranslation(translationValue, language, codePage))
    return versionBuffer;

  char translation[9];
  std::snprintf(translation, sizeof(translation), "%04x%04x", language, codePage);
  char subBlock[50];
  std::snprintf(subBlock, sizeof(subBlock), "\\StringFileInfo\\%s\\%s", translation, "ProductVersion");
  // A record with a translation but no ProductVersion shows the bare prefix; it will
  // not change while the program runs, so it is cached like a good read.
  std::string productVersion;
  versionQueryValue(data.get(), size, subBlock, productVersion);
  cutToFit(productVersion, sizeof(versionBuffer) - std::strlen("Ver.:") - 1);
  std::snprintf(versionBuffer, sizeof(versionBuffer), "Ver.:%s", productVersion.c_str());
  read = 1;
  return versionBuffer;
}

const char* versionText() {
  static CVersionCache cache;
  static const CEmbeddedVersionRecord record;
  return cache.versionText(record);
}

namespace {
void replaceAll(std::string& s, char from, char to) {
  for (char& c : s)
    if (c == from) c = to;
}
}  // namespace

std::string aboutVersionLine(const std::string& versionText) {
  std::string s = versionText;
  replaceAll(s, ',', '-');
  replaceAll(s, ';', '.');
  return "レルベイン Tiv. " + s;
}
