#pragma once
// A save that failed is never silent: the main window or a headless run makes one, its slot set
// gives it to every slot, and it tells the user once per cause -- the same
// file failing for the same reason again is not shown again. The program keeps running on
// the settings in memory and tries again at the next save.
#include <functional>
#include <set>
#include <string>
#include <utility>

class CSaveReport {
public:
  // `shower` puts a text in front of the user (a warning box, a line on standard error).
  explicit CSaveReport(std::function<void(const std::string&)> shower) : show(std::move(shower)) {}

  // A save of `path` failed with errno `error`.
  void failed(const std::string& path, int error);
  // The file is not one the program reads or writes; `why` names it (ini::Document::refusal()).
  void refused(const std::string& why) { tell(why); }

  // The text for it: what failed, the path, the system's reason, that nothing is lost yet.
  static std::string text(const std::string& path, int error);

private:
  void tell(const std::string& text);

  std::function<void(const std::string&)> show;
  std::set<std::string> shown;  // the texts told already
};
