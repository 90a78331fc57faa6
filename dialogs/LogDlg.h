#pragma once
// The log window: the event log's recent lines, newest last, at most as many as the ring keeps.
// A search field leaves only the lines that hold its text (any case), live as it is typed; copy
// and save take the lines shown; clear empties the window, not the ring. Lines are never
// wrapped: a long one makes the view scroll sideways. Modeless; lines that arrive while it is
// open are appended without raising or activating it, and a reader who scrolled up keeps his
// place.
#include <QString>
#include <deque>

#include "log/LogRing.h"
#include "ui/Dialog.h"

class QPlainTextEdit;

class CLogDlg : public ui::CDialog, public evlog::RingWatcher {
  Q_OBJECT
public:
  static constexpr const char* kSaveTitle = "ログを保存";
  static constexpr const char* kSaveFailed = "ログを保存できませんでした: %1\n%2";

  CLogDlg();
  ~CLogDlg() override;

  // Shows the ring's lines and follows it from now on; null stops following. Not owned.
  void setRing(evlog::Ring* ring);
  void lineAdded(const std::string& line) override;

  QPlainTextEdit* text() const;  // control 1030
  int lineCount() const;         // the lines shown
  int heldCount() const { return static_cast<int>(held.size()); }
  void onCopy();   // 1031 clicked
  void onSave();   // 1102 clicked: asks where, then saveTo
  void onClear();  // 1103 clicked
  // Writes the lines shown to `path` as UTF-8 text, one a line; a failure is told in a box.
  bool saveTo(const QString& path);

protected:
  bool onInitDialog() override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  void fill();
  void onSearch(const QString& text);  // 1101 edited
  bool shows(const QString& line) const;
  void dropOldest();
  void showCount();
  QString shownText() const;

  evlog::Ring* ring = nullptr;
  std::deque<QString> held;  // every line the window keeps, oldest first
  std::size_t capacity = evlog::Ring::kDefaultCapacity;
  QString search;  // "" shows every line held
};
