// Helpers for tests that drive real windows offscreen: set-up, typing through the input
// method, and answering modal windows from a timer. Every wait is bounded.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMessageBox>
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

// Types text as an input method commits it (works for any script, unlike key clicks).
inline void commitText(QWidget* widget, const QString& text) {
  QInputMethodEvent event;
  event.setCommitString(text);
  QApplication::sendEvent(widget, &event);
}

// While alive, hands each modal window of type W that comes up to `act`, which closes it.
// `act` may run nested loops; each window is handled once.
template <class W>
struct ModalWatch {
  explicit ModalWatch(std::function<void(W*)> act) {
    QObject::connect(&timer, &QTimer::timeout, &timer, [this, act] {
      auto* w = qobject_cast<W*>(QApplication::activeModalWidget());
      if (!w || w == busy) return;
      busy = w, ++seen;
      act(w);
      busy = nullptr;
    });
    timer.start(10);
  }
  int seen = 0;
  QTimer timer;
  W* busy = nullptr;
};

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
    else if (QWidget* other = QApplication::activeModalWidget()) other->close();
  });
  timer->start(10);
}

// "caption|icon|buttons" of a message box: the buttons sorted, without their accelerator marks.
inline std::string lookOf(const QMessageBox* box) {
  QStringList buttons;
  for (const QAbstractButton* b : box->buttons()) buttons << b->text().remove(QLatin1Char('&'));
  buttons.sort();
  return QStringList{box->windowTitle(), QString::number(box->icon()), buttons.join(',')}.join('|').toStdString();
}

// Records the last message box's text and look, and answers each box that comes up with
// `answer` (NoButton: the Escape key).
struct BoxAnswerer {
  explicit BoxAnswerer(QMessageBox::StandardButton initial = QMessageBox::Ok)
      : answer(initial), watch([this](QMessageBox* box) {
          text = box->text().toStdString();
          look = lookOf(box);
          if (answer != QMessageBox::NoButton) return box->button(answer)->click();
          QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
          QApplication::sendEvent(box, &escape);
        }) {}
  int count() const { return watch.seen; }
  QMessageBox::StandardButton answer;
  std::string text, look;
  ModalWatch<QMessageBox> watch;
};

}  // namespace testsupport
