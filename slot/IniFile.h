#pragma once
// The three private-profile functions the slot settings are stored with. Each call reads
// the whole file; a write saves it at once (see IniDocument.h for the line rules and
// AtomicFile.h for how a save is made safe). Several keys at once: use ini::Document.
#include <string>
#include <string_view>

namespace ini {

// The key's value, or `def` when the file, the section or the key is missing.
std::string getPrivateProfileString(const std::string& section, const std::string& key, const std::string& def,
                                    const std::string& path);

// The key's value as an integer (see parseInt); `def` when missing or empty.
int getPrivateProfileInt(const std::string& section, const std::string& key, int def, const std::string& path);

// Sets the key, creating file, section and key as needed. False when the file could not be
// read or saved, or the names or value are unusable; the file is then unchanged.
bool writePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& path);

// Integer reading of a value already stripped of blanks and quotes: an empty value gives
// `def`; otherwise an optional sign and the leading decimal digits, 0 when there are none
// ("12ab" -> 12, "abc" -> 0, "0x10" -> 0). Values beyond int saturate at INT_MIN / INT_MAX.
int parseInt(std::string_view value, int def);

}  // namespace ini
