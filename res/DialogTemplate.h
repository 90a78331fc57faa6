// Dialog templates as data: sizes and positions in dialog units, texts in UTF-8.
// The dialog layer (ui/) turns a template into widgets; nothing here depends on Qt.
#pragma once

#include <cstdint>
#include <span>

namespace res {

enum class ControlKind {
  GroupBox,
  PushButton,   // Default style: the dialog's default button
  CheckBox,     // auto-toggling; PushLike style draws it as a button
  Static,       // text; alignment and vertical centring from the style
  Edit,         // single line, bordered
  Spin,         // up-down arrows attached to the preceding edit box
  ListView,     // report-style table
  Link,         // "<a>text</a>"; a click is a command of its id
  Icon,         // the application icon
  RadioButton,  // auto; the radio buttons of one dialog exclude each other
  ListBox,      // a single-column list of texts, one selectable at a time
  ComboBox,     // a drop-down choice; its text holds the items, one a line
};

// Style bits of a control.
enum ControlStyle : uint32_t {
  AlignLeft = 0,
  AlignRight = 1u << 0,
  AlignCenter = 1u << 1,
  VCenter = 1u << 2,
  NoPrefix = 1u << 3,
  Default = 1u << 4,   // default push button
  PushLike = 1u << 5,  // check box drawn as a push button, text centred
  Border = 1u << 6,
  AutoHScroll = 1u << 7,
  SpinAutoBuddy = 1u << 8,     // attaches to the preceding control
  SpinAlignRight = 1u << 9,    // sits on the buddy's right edge; the buddy gives up the room
  SpinSetBuddyInt = 1u << 10,  // writes its position into the buddy as a plain integer
  SpinArrowKeys = 1u << 11,    // Up/Down in the buddy step the position
  SingleSelection = 1u << 12,
  TabStop = 1u << 13,
  Multiline = 1u << 14,  // an edit box of many lines, scrolled, never wrapped
  ReadOnly = 1u << 15,
};

// Style bits of a dialog.
enum DialogStyle : uint32_t {
  DlgVisible = 1u << 0,
  DlgCaption = 1u << 1,
  DlgSysMenu = 1u << 2,
  DlgMinimizeBox = 1u << 3,
  DlgModalFrame = 1u << 4,
  DlgPopup = 1u << 5,
  DlgChild = 1u << 6,       // a panel inside another window, no caption
  DlgBorder = 1u << 7,      // thin line around a child panel
  DlgStaticEdge = 1u << 8,  // sunken edge inside the border
  DlgAppWindow = 1u << 9,   // own taskbar entry
};

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;
  int x, y, cx, cy;  // dialog units
  uint32_t style;
};

struct DialogTemplate {
  int id;
  const char* title;
  int cx, cy;  // dialog units (client area)
  const char* fontFace;
  int pointSize;
  uint32_t style;
  std::span<const ControlTemplate> controls;
};

// The template with this resource id, or nullptr.
const DialogTemplate* findDialogTemplate(int id);

// The string resource with this id, or nullptr when there is none.
const char* findString(int id);

}  // namespace res
