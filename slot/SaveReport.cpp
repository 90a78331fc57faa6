#include "slot/SaveReport.h"

#include <cstring>

std::string CSaveReport::text(const std::string& path, int error) {
  return "設定を保存できませんでした: " + path + " (" + std::strerror(error) +
         ")。設定はこのまま使われますが、次の保存まで反映されません";
}

void CSaveReport::failed(const std::string& path, int error) {
  if (!shown.insert({path, error}).second) return;
  if (show) show(text(path, error));
}
