// Helpers for tests that drive real windows offscreen: set-up, clicking and typing (also
// through the input method), and answering modal windows from a timer. Every wait is bounded.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

#include "ui/Application.h"

namespace testsupport {

inline void initUiOnce() {
  static const bool loaded = ui::initApplication();
  (void)loaded;
}

// Clicks as a user does; a radio button takes clicks on its circle and label only, so on its circle.
inline void click(QAbstractButton* b) {
  QTest::mouseClick(b, Qt::LeftButton, {},
                    qobject_cast<QRadioButton*>(b) ? QPoint(6, b->height() / 2) : b->rect().center());
}
// Replaces an edit box's text by typing.
inline void retype(QLineEdit* edit, const QString& text) { edit->selectAll(), QTest::keyClicks(edit, text); }

// Types text as an input method commits it (works for any script, unlike key clicks).
inline void commitText(QWidget* widget, const QString& text) {
  QInputMethodEvent event;
  event.setCommitString(text);
  QApplication::sendEvent(widget, &event);
}

// One modal window of type W, expected within 5 s, handed to `act` (which closes it); any
// other modal window still up then is closed, so a test never hangs on a box it did not expect.
// Call before the code that opens the window.
template <class W>
void whenModal(std::function<void(W*)> act) {
  auto* timer = new QTimer;  // deletes itself once it has acted or given up
  const QDeadlineTimer deadline(5000);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, deadline, act] {
    auto* w = qobject_cast<W*>(QApplication::activeModalWidget());
    if (!w && !deadline.hasExpired()) return;
    timer->stop();
    timer->deleteLater();
    if (w) act(w);
    else if (QWidget* other = QApplication::activeModalWidget())
      other->close();
  });
  timer->start(10);
}

// While alive, answers each message box that comes up with `answer` (NoButton: the Escape key),
// keeping how many came and the last one's text and look: "caption|icon|buttons", the buttons
// sorted, without their accelerator marks.
struct BoxAnswerer {
  explicit BoxAnswerer(QMessageBox::StandardButton initial = QMessageBox::Ok) : answer(initial) {
    QObject::connect(&timer, &QTimer::timeout, &timer, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      QStringList buttons;
      for (const QAbstractButton* b : box->buttons()) buttons << b->text().remove(QLatin1Char('&'));
      buttons.sort();
      look = QStringList{box->windowTitle(), QString::number(box->icon()), buttons.join(',')}.join('|').toStdString();
      ++count, text = box->text().toStdString();
      if (answer != QMessageBox::NoButton) return box->button(answer)->click();
      QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(box, &escape);
    });
    timer.start(10);
  }
  QMessageBox::StandardButton answer;
  int count = 0;
  std::string text, look;
  QTimer timer;
};

}  // namespace testsupport
