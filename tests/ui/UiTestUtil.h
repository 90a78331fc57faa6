// Helpers for the dialog layer's tests: set-up, typing through the input method, and
// answering modal windows from a timer.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QInputMethodEvent>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "ui/Application.h"

namespace uitest {

inline void initOnce() {
  static const bool loaded = ui::initApplication();
  (void)loaded;
}

// Types text as an input method commits it (works for any script, unlike key clicks).
inline void commitText(QWidget* widget, const QString& text) {
  QInputMethodEvent event;
  event.setCommitString(text);
  QApplication::sendEvent(widget, &event);
}

// Waits (polling, at most 5 s) for a modal window of type W and hands it to `act`, which
// must close it. Call before the code that opens the window.
template <class W>
void whenModal(std::function<void(W*)> act) {
  auto* timer = new QTimer;  // deletes itself once it has acted or given up
  const QDeadlineTimer deadline(5000);
  QObject::connect(timer, &QTimer::timeout, [timer, deadline, act] {
    auto* w = qobject_cast<W*>(QApplication::activeModalWidget());
    if (!w && !deadline.hasExpired()) return;
    timer->stop();
    timer->deleteLater();
    if (w) act(w);
    else if (QWidget* other = QApplication::activeModalWidget()) other->close();
  });
  timer->start(10);
}

}  // namespace uitest
