#pragma once
// An INI file held in memory as its own lines, so that a change touches one line and every
// other byte goes back to disk exactly as it was read.
//
// Reading rules: a line whose first non-blank character is '[' and that has a ']' opens a
// section (name = text between them, blanks trimmed); a line with '=' holds key = value;
// lines starting with ';' or '#' are comments. Names compare without regard to ASCII case.
// A value loses its surrounding blanks and then one pair of matching quotes (" or ').
// When a name occurs twice, the first occurrence is the one read and written.
//
// Writing rules: an existing key keeps its line up to and including '=' (and the blanks
// after it); only the value is replaced. A missing key goes after the last non-blank,
// non-comment line of its section; a missing section goes at the end of the file. New lines
// take the file's line ending (that of its first line; "\n" for a new file). A UTF-8 byte
// order mark is kept and not taken as part of the first line.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ini {

class Document {
public:
  // A missing file gives an empty document. A file that cannot be read, or is not one to read
  // (see SettingsRead.h), gives an empty document marked unreadable, with the reason for the
  // user in refusal(); it refuses to be saved, so nothing is lost.
  static Document load(const std::string& path);
  static Document parse(std::string_view bytes);

  std::optional<std::string> get(std::string_view section, std::string_view key) const;
  // False (and nothing changed) when a name is empty or a name or the value would break the
  // line structure: line breaks anywhere, '=' in a key or '[', ';', '#' at its start, ']' in a
  // section name.
  bool set(std::string_view section, std::string_view key, std::string_view value);

  bool hasSection(std::string_view section) const { return findSection(section).has_value(); }
  // Takes out the section's header and every line up to the next header. False when absent.
  bool removeSection(std::string_view section);
  // Gives the section's header a new name; every other byte of the header line stays.
  bool renameSection(std::string_view section, std::string_view newName);

  // Writes through a temporary file renamed over the old one (see AtomicFile.h). False with
  // errno telling why when it fails.
  bool save(const std::string& path) const;

  // Every section header's name in file order, repeats included, so a caller can tell which
  // ones the first-occurrence rule hides.
  std::vector<std::string> sectionNames() const;
  // The keys that occur more than once in the section's first occurrence, each named once;
  // only the first line of such a key is read and written.
  std::vector<std::string> duplicateKeys(std::string_view section) const;

  std::string text() const;
  bool readable() const { return readable_; }
  // Why load refused the file, naming its path; "" when it was read or missing.
  const std::string& refusal() const { return refusal_; }

private:
  struct Line {
    std::string content;  // without the line ending
    std::string eol;      // "\r\n", "\n", or "" for a last line without one
  };
  std::optional<size_t> findSection(std::string_view section) const;
  size_t sectionEnd(size_t header) const;  // index of the next header, or lines_.size()
  std::optional<size_t> findKey(size_t header, std::string_view key) const;
  void insertLine(size_t at, std::string content);

  std::vector<Line> lines_;
  std::string bom_;
  std::string eol_ = "\n";
  bool readable_ = true;
  int loadError_ = 0;  // errno of a load that could not read the file
  std::string refusal_;
};

}  // namespace ini
