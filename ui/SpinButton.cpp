#include "ui/SpinButton.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

namespace ui {

CSpinButton::CSpinButton(QWidget* parent) : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
  for (QToolButton* b : {up_, down_}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(true);
    b->setAutoRaise(false);
  }
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  connect(up_, &QToolButton::clicked, this, [this] { step(1); });
  connect(down_, &QToolButton::clicked, this, [this] { step(-1); });
}

void CSpinButton::setBuddy(QLineEdit* buddy) {
  if (buddy_) {
    buddy_->removeEventFilter(this);
    disconnect(buddy_, &QObject::destroyed, this, nullptr);
  }
  buddy_ = buddy;
  buddyObject_ = buddy;
  if (!buddy_) return;
  buddy_->installEventFilter(this);
  connect(buddy_, &QObject::destroyed, this, [this] {
    buddy_ = nullptr;
    buddyObject_ = nullptr;
  });
  writeBuddy();
}

void CSpinButton::setRange(int lower, int upper) {
  lower_ = lower;
  upper_ = upper;
  const int clamped = clamp(pos_);
  if (clamped != pos_) setPos(clamped);
}

int CSpinButton::pos() const {
  followText();
  return pos_;
}

int CSpinButton::setPos(int pos) {
  followText();
  const int previous = pos_;
  pos_ = clamp(pos);
  writeBuddy();
  return previous;
}

void CSpinButton::step(int steps) {
  followText();
  const long direction = upper_ >= lower_ ? 1 : -1;
  const long target = long{pos_} + direction * steps;
  const long low = std::min(lower_, upper_);
  const long high = std::max(lower_, upper_);
  setPos(static_cast<int>(std::clamp(target, low, high)));
}

int CSpinButton::clamp(int value) const {
  return std::clamp(value, std::min(lower_, upper_), std::max(lower_, upper_));
}

void CSpinButton::writeBuddy() {
  if (!buddy_) return;
  const QString text = QString::number(pos_);  // plain digits: no group separators
  if (buddy_->text() != text) buddy_->setText(text);
}

void CSpinButton::followText() const {
  if (!buddy_) return;
  bool ok = false;
  const int value = buddy_->text().trimmed().toInt(&ok, 10);
  if (ok && value == clamp(value)) pos_ = value;  // otherwise keep the last valid position
}

bool CSpinButton::eventFilter(QObject* watched, QEvent* event) {
  if (watched == buddyObject_ && arrowKeys_ && event->type() == QEvent::KeyPress && isEnabled()) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
      step(key->key() == Qt::Key_Up ? 1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CSpinButton::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int half = height() / 2;
  up_->setGeometry(0, 0, width(), half);
  down_->setGeometry(0, half, width(), height() - half);
}

}  // namespace ui
