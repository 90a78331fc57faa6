#pragma once
// The numbers of a hand-edited settings file, read strictly: a value is used only when the whole
// text is a decimal number in its key's range, so a typo can never turn into a value the user
// did not write ("80x" is not 80, "-5" is not the default, "yes" is not off).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ini {
class Document;
}

namespace setting_number {

// The value of a text made of decimal digits only (leading zeros are decimal: "0080" is 80; no
// sign, no blanks, no other base) that lies in low..high (low >= 0); nullopt for anything else.
std::optional<int> parse(std::string_view text, int low, int high);

// The launch line that names a value which is not used: "<section> の <key>=<text> は無効な値です
// (<low>～<high>)".
std::string invalidLine(const std::string& section, const std::string& key, const std::string& text, int low, int high);

// The key's value in the section: `absent` when it is missing or empty; `absent` too, with the
// invalid line in `problems`, when it is not a number in low..high.
int read(const ini::Document& doc, const std::string& section, const char* key, int low, int high, int absent,
         std::vector<std::string>& problems);

}  // namespace setting_number
