#include "app/ControlRequest.h"

#include <cstdio>

#include "app/CommandLine.h"
#include "app/ControlPlace.h"
#include "service/ControlClient.h"

std::string controlRequestLine(const CommandLine& line) {
  const bool numbered = line.control == "connections" || line.control == "on" || line.control == "off" ||
                        line.control == "fault";
  if (!numbered) return line.control;
  const std::string request = line.control + " " + std::to_string(line.controlSlot);
  return line.controlText.empty() ? request : request + " " + line.controlText;
}

int runControlRequest(const CommandLine& line, const std::string& settingsPath) {
  using Outcome = service::ControlAnswer::Outcome;
  service::ControlAnswer answer;
  for (const std::string& place : controlSocketCandidates(settingsPath)) {
    answer = service::askControl(place, controlRequestLine(line));
    if (answer.outcome != Outcome::NotServed) break;
  }
  if (answer.outcome == Outcome::NotServed) {
    std::fprintf(stderr, "この設定ファイルを使うプログラムは動いていません: %s\n", settingsPath.c_str());
    return 1;
  }
  if (answer.outcome == Outcome::NoAnswer) {
    std::fprintf(stderr, "プログラムが応答しません: %s\n", settingsPath.c_str());
    return 1;
  }
  for (const std::string& text : answer.lines) std::printf("%s\n", text.c_str());
  std::fflush(stdout);
  if (answer.ok) return 0;
  std::fprintf(stderr, "要求は断られました (%s): %s\n", settingsPath.c_str(), answer.reason.c_str());
  return 1;
}
