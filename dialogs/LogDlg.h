#pragma once
// The log window: the event log's recent lines, newest last, at most as many as the ring keeps,
// and a button that copies them all. Modeless; lines that arrive while it is open are appended
// without raising or activating it, and a reader who scrolled up keeps his place.
#include "log/LogRing.h"
#include "ui/Dialog.h"

class QPlainTextEdit;

class CLogDlg : public ui::CDialog, public evlog::RingWatcher {
  Q_OBJECT
public:
  CLogDlg();
  ~CLogDlg() override;

  // Shows the ring's lines and follows it from now on; null stops following. Not owned.
  void setRing(evlog::Ring* ring);
  void lineAdded(const std::string& line) override;

  QPlainTextEdit* text() const;  // control 1030
  int lineCount() const;
  void onCopy();  // 1031 clicked

private:
  void fill();

  evlog::Ring* ring = nullptr;
};
