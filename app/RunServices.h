#pragma once
// What a run (headless or windowed) serves an admin beside its slots: the control socket of its
// settings file and, when the file's [GLOBAL] section sets METRICS, the metrics. Both live in the
// thread's socket loop and end with this object (the socket's file removed).
#include <functional>
#include <memory>
#include <string>

#include "service/ControlServer.h"
#include "service/MetricsServer.h"

class CSlotSet;

class CRunServices {
public:
  // `set` not owned; it outlives this. `hooks`: what the run does on reload, on and off.
  CRunServices(CSlotSet& set, service::ControlHooks hooks);

  // Starts serving for the program on `settingsPath`; what cannot be served is told to `report`
  // (the run goes on without it).
  void open(const std::string& settingsPath, const std::function<void(const std::string&)>& report);

private:
  CSlotSet& slotSet;  // not owned
  service::ControlServer control;
  std::unique_ptr<service::MetricsServer> metrics;  // owned; only when the file asks for it
};
