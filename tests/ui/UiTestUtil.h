// Helpers for the dialog layer's tests: set-up, typing through the input method, and
// answering modal windows from a timer.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

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
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, clock, act] {
    if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      act(w);
    } else if (clock->elapsed() > 5000) {
      timer->stop();
      timer->deleteLater();
      if (QWidget* other = QApplication::activeModalWidget()) other->close();
    }
  });
  timer->start();
}

}  // namespace uitest
