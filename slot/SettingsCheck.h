#pragma once
// A settings file read under every rule the launch reads it by, without acting on it: what a
// reload would take and what --check reports. Nothing is written and no port is opened.
#include <memory>
#include <string>
#include <vector>

#include "slot/GlobalSettings.h"
#include "slot/PortSlot.h"

struct SettingsCheck {
  // The reasons the file cannot be used as it is, in file order: a file that is missing or
  // refused (and nothing else), the sections and [GLOBAL] keys that are not used, then each
  // slot's bad values and repeated keys.
  std::vector<std::string> problems;
  // One per slot section (at least one), loaded and not started; empty when the file could not
  // be read.
  std::vector<std::unique_ptr<CPortSlot>> slots;
  GlobalSettings globals;

  // "" for a slot that is saved OFF or would be switched on, else why its switch-on is refused.
  static std::string refusal(const CPortSlot& slot);
  // The problems, then each slot saved ON whose switch-on would be refused, named by its section.
  std::vector<std::string> everyProblem() const;
};

SettingsCheck checkSettings(const std::string& iniPath);
