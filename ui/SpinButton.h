// Up-down arrows bound to an edit box (their buddy). The position is an integer within a
// range; it is written into the buddy as a plain integer, and when the user types, it
// follows the text only while the text is a number within the range -- otherwise it keeps
// its last valid value. The buddy itself accepts any characters.
#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

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
  int pos() const { return pos_; }

  // One step towards `upper` (steps > 0) or `lower` (steps < 0), stopping at the ends.
  void step(int steps);

signals:
  void posChanged(int pos);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void followText(const QString& text);
  void writeBuddy();
  int clamp(int value) const;

  QPointer<QLineEdit> buddy_;  // not owned; may go first when the dialog is torn down
  QToolButton* up_;
  QToolButton* down_;
  int lower_ = 0;
  int upper_ = 100;
  int pos_ = 0;
  bool arrowKeys_ = false;
  bool writing_ = false;  // our own write into the buddy, not the user's typing
};

}  // namespace ui
