#include "app/RunServices.h"

#include "app/ControlPlace.h"
#include "app/VersionRecord.h"
#include "slot/SlotSet.h"

namespace {

std::string productVersion() {
  const std::string text = versionText();
  const std::string prefix = "Ver.:";
  return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
}

}  // namespace

CRunServices::CRunServices(CSlotSet& set, service::ControlHooks hooks) : slotSet(set), control(set, std::move(hooks)) {}

void CRunServices::open(const std::string& settingsPath, const std::function<void(const std::string&)>& report) {
  const std::string socketPath = controlSocketPath(settingsPath);
  const std::string refusal = socketPath.empty() ? "no private runtime folder" : control.open(socketPath);
  if (!refusal.empty()) report("制御ソケットを開けません: " + refusal);
  const GlobalSettings& globals = slotSet.globals();
  if (globals.metricsAddress.empty()) return;
  metrics = std::make_unique<service::MetricsServer>(slotSet, productVersion());
  if (const std::string failed = metrics->open(globals.metricsAddress, globals.metricsPort); !failed.empty()) {
    report("メトリクスを開けません: " + failed);
    metrics.reset();
  }
}
