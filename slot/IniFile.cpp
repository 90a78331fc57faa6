#include "slot/IniFile.h"

#include "slot/IniDocument.h"

namespace ini {

std::string getPrivateProfileString(const std::string& section, const std::string& key, const std::string& def,
                                    const std::string& path) {
  return Document::load(path).get(section, key).value_or(def);
}

bool writePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& path) {
  Document doc = Document::load(path);
  return doc.readable() && doc.set(section, key, value) && doc.save(path);
}

}  // namespace ini
