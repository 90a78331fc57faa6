#pragma once
// The program's version record and the cached "Ver.:" text the about box shows.
//
// A record is a block of text lines "<sub-block>=<value>", the sub-blocks named as
// paths with backslashes ("\VarFileInfo\Translation", "\StringFileInfo\041104b0\ProductVersion").
// The build writes the program's own record from the project version; tests stand in
// records of their own through CVersionRecordSource.
#include <cstddef>
#include <cstdint>
#include <string>

class CVersionRecordSource {
public:
  virtual ~CVersionRecordSource() = default;
  // Size of the record in bytes; 0 when there is none.
  virtual std::size_t recordSize() const = 0;
  // Copies `size` bytes of the record into `data`; false when it cannot be read.
  virtual bool readRecord(char* data, std::size_t size) const = 0;
};

// The record compiled into this program.
class CEmbeddedVersionRecord : public CVersionRecordSource {
public:
  std::size_t recordSize() const override;
  bool readRecord(char* data, std::size_t size) const override;
};

// Looks up `subBlock` (case-insensitive) in a record; the value runs to the end of its line.
bool versionQueryValue(const char* record, std::size_t size, const std::string& subBlock, std::string& value);

// Reads the first translation entry, "<language> <code page>" as two hexadecimal words.
bool parseTranslation(const std::string& value, uint16_t& language, uint16_t& codePage);

// The "Ver.:<ProductVersion>" text, read once after a good read and retried after a failure.
class CVersionCache {
public:
  static constexpr std::size_t bufferSize = 256;
  const char* versionText(const CVersionRecordSource& source);

private:
  char versionBuffer[bufferSize] = {};
  int read = 0;
};

// The process-wide cache over the program's own record.
const char* versionText();

// The line of the about box: "," becomes "-", then ";" becomes ".", behind "レルベイン Tiv. ".
std::string aboutVersionLine(const std::string& versionText);
