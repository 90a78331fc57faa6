#pragma once
// The requests of the control socket and their answers, read from the slot set as it is now.
// A request is one line: "status", "connections N", "reload", "on N", "off N" or "fault N ...",
// where N is the n of TCP-PORTn. The answer is "OK" or "ERR <reason>" on its first line, then its lines (see
// service/SlotReport.h), then an empty line.
//   status         one status line per slot, in slot order
//   connections N  one row per live connection of slot N; when the rows would pass
//                  kMaxAnswerBytes the rest are left out and a last line "more=<count>" says
//                  how many
//   reload         the line the run's reload hook answers
//   on N, off N    slot N's status line after the switch; a slot already so is left as it is
//   fault N [TEXT] TEXT in the faults' text form (net/Faults.h) changes slot N's live faults, the
//                  pairs running included; none shows them. Answered with "up=<text>" and
//                  "down=<text>". The settings file is never written: a test run that switches
//                  faults leaves the user's file as it was. A UDP slot has no faults.
#include <cstddef>
#include <functional>
#include <string>

class CSlotSet;

namespace service {

// What the run behind the socket does on a request that changes it.
// What a reload did: its one line, and whether the file was taken (a refused file changes nothing).
struct ReloadAnswer {
  bool applied = false;
  std::string line;
};

struct ControlHooks {
  // Reads the settings file again. Empty: the run cannot, and `noReload` is the reason.
  std::function<ReloadAnswer()> reload;
  std::string noReload = "この実行では設定を読み直せません";
  // Switches slot n on or off as the user would; the refusal, or "" when it switched.
  std::function<std::string(int n, bool on)> switchSlot;
};

class ControlCommands {
public:
  static constexpr std::size_t kMaxAnswerBytes = 1 << 20;

  ControlCommands(CSlotSet& slots, ControlHooks hooks);  // `slots` not owned; it outlives this

  // The whole answer to `line` (its line end removed).
  std::string answer(const std::string& line);

private:
  std::string status();
  std::string connections(int n);
  std::string reload();
  std::string switchSlot(int n, bool on);
  std::string fault(int n, const std::string& text);

  CSlotSet& slots_;
  ControlHooks hooks_;
};

}  // namespace service
