#pragma once
// The faults of a slot (net/Faults.h) as its keys keep them and as its relay runs them:
//   FAULTUP    on what the client sends on to the destination, in the text form without a
//              direction ("latency=200 jitter=20")
//   FAULTDOWN  the same on what the destination sends back
// Read strictly: an invalid text is named in the problems and that direction gets no fault. The
// switch-on is never refused for it: no fault is the safe side. The keys are written only when the
// user sets them in the fault dialog (a direction cleared is written empty where the file has its
// key), so a file that never had them keeps every byte. The control socket changes the live
// faults only, never the file. Faults work on TCP slots: a UDP slot names its keys as unused.
#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/Faults.h"
#include "slot/IniDocument.h"

struct SlotFaults {
  static constexpr const char* kUpKey = "FAULTUP";
  static constexpr const char* kDownKey = "FAULTDOWN";

  net::Faults kept;  // as the keys hold them: read from the file or set in the dialog
  net::Faults live;  // what the relay runs: `kept`, changed since by the control socket

  void load(const ini::Document& doc, const std::string& section, bool udp, std::vector<std::string>& problems);
  // A reload's `fresh` keys: taken, the live faults with them, when they differ from `kept`;
  // otherwise the live faults stay as the control socket left them. True when taken.
  bool reload(const SlotFaults& fresh);
  // One direction's text as a key holds it; nullopt, with `error` naming what is wrong, when the
  // text form refuses it or it names a direction.
  static std::optional<net::FaultSet> parse(const std::string& text, std::string& error);
  // Each key with the text it is saved with: up, then down.
  std::array<std::pair<std::string, std::string>, 2> values() const;
};
