// Up-down arrows bound to an edit box (their buddy). The position is an integer within a
// range and is written into the buddy as a plain integer. Whatever the user types stays
// in the buddy as typed; whenever the position is asked for or stepped, it takes the
// buddy's text if that is a number within the range and otherwise keeps its last valid
// value -- so "70000" or "abc" leave the previous port in force.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace ui {

class CSpinButton : public QWidget {
  Q_OBJECT
public:
  explicit CSpinButton(QWidget* parent = nullptr);

  // Not owned; a sibling in the same dialog. Writes the current position into it.
  void setBuddy(QLineEdit* buddy);
  QLineEdit* buddy() const { return buddy_; }

  // Up/Down pressed in the buddy step the position.
  void setArrowKeys(bool enabled) { arrowKeys_ = enabled; }

  // The range may be given high-to-low; Up then moves towards `upper` all the same.
  // A position outside the new range is pulled to its nearest end.
  void setRange(int lower, int upper);
  int lower() const { return lower_; }
  int upper() const { return upper_; }

  // Clamped to the range and written into the buddy. Returns the previous position.
  int setPos(int pos);
  // The buddy's number when it is a valid one, else the last valid position.
  int pos() const;

  // One step towards `upper` (steps > 0) or `lower` (steps < 0), stopping at the ends.
  void step(int steps);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void followText() const;
  void writeBuddy();
  int clamp(int value) const;

  // Not owned. The buddy may go first when the dialog is torn down: its destroyed()
  // clears both pointers, and events are matched by the QObject address alone so a
  // half-destroyed buddy is never cast.
  QLineEdit* buddy_ = nullptr;
  QObject* buddyObject_ = nullptr;
  QToolButton* up_;
  QToolButton* down_;
  int lower_ = 0;
  int upper_ = 100;
  mutable int pos_ = 0;  // adopts valid buddy text when read
  bool arrowKeys_ = false;
};

}  // namespace ui
