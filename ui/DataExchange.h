// Data exchange between a dialog's members and its controls. A dialog lists its bindings
// once in doDataExchange; the same lines copy controls -> members when pulling
// (saveAndValidate) and members -> controls when pushing.
#pragma once

#include "ui/Dialog.h"

#include <string>

namespace ui {

class CDataExchange {
public:
  CDataExchange(CDialog& of, bool pull) : dialog(of), saveAndValidate(pull) {}

  CDialog& dialog;
  const bool saveAndValidate;  // true: controls -> members

  // The bound control; a missing one fails the exchange (and is reported).
  QWidget* control(int id);
  void fail() { failed_ = true; }
  bool failed() const { return failed_; }

private:
  bool failed_ = false;
};

// Text of a static, edit box, button, group box caption or link (UTF-8).
void ddxText(CDataExchange& dx, int id, std::string& value);
// Check state of a check box: 0 cleared, 1 ticked.
void ddxCheck(CDataExchange& dx, int id, int& value);
// Index of the ticked radio button among the group that starts at `firstId` (the buttons
// have consecutive ids); -1 when none is ticked. Pushing a value outside the group clears all.
void ddxRadio(CDataExchange& dx, int firstId, int& value);

// Binds a member pointer to the control with this id (both directions set the pointer).
template <class W>
void ddxControl(CDataExchange& dx, int id, W*& control) {
  control = qobject_cast<W*>(dx.control(id));
  if (!control) dx.fail();
}

}  // namespace ui
