#include "app/RunServices.h"

#include "app/ControlPlace.h"
#include "app/ProgramLog.h"
#include "slot/SlotSet.h"

CRunServices::CRunServices(CSlotSet& set, service::ControlHooks hooks) : slotSet(set), control(set, std::move(hooks)) {}

void CRunServices::open(const std::string& settingsPath, const std::function<void(const std::string&)>& report) {
  const std::string socketPath = controlSocketPath(settingsPath);
  const std::string refusal = socketPath.empty() ? "自分だけが書けるランタイムフォルダがありません"
                                                 : control.open(socketPath);
  if (!refusal.empty()) report("制御ソケットを開けません: " + refusal);
  const GlobalSettings& globals = slotSet.globals();
  if (globals.metricsAddress.empty()) return;
  metrics = std::make_unique<service::MetricsServer>(slotSet, productVersion());
  if (const std::string failed = metrics->open(globals.metricsAddress, globals.metricsPort); !failed.empty()) {
    report("メトリクスを開けません: " + failed);
    metrics.reset();
  }
}
