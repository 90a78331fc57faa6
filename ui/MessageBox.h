// Modal message boxes captioned with the program's name: a warning with OK, or a
// question with Yes and No. They run a nested event loop, so sockets keep being served.
#pragma once

#include <QString>
#include <string>

class QWidget;

namespace ui {

inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// The executable's file name without its extension.
QString applicationCaption();

// OK with the warning icon. Returns IDOK.
int messageBox(const std::string& text, QWidget* parent = nullptr);

// Yes and No with the question icon. Returns IDYES or IDNO (Escape and the close box
// answer No).
int askYesNo(const std::string& text, QWidget* parent = nullptr);

}  // namespace ui
