#pragma once
// The private-profile functions the slot settings are stored with. Each call reads
// the whole file; a write saves it at once (see IniDocument.h for the line rules and
// AtomicFile.h for how a save is made safe). Several keys at once: use ini::Document.
#include <string>

namespace ini {

// The key's value, or `def` when the file, the section or the key is missing.
std::string getPrivateProfileString(const std::string& section, const std::string& key, const std::string& def,
                                    const std::string& path);

// Sets the key, creating file, section and key as needed. False when the file could not be
// read or saved, or the names or value are unusable; the file is then unchanged.
bool writePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& path);

}  // namespace ini
