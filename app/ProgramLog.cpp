#include "app/ProgramLog.h"

#include <cstdio>
#include <unistd.h>

#include "app/VersionRecord.h"
#include "log/JournalStream.h"
#include "slot/GlobalSettings.h"

std::string productVersion() {
  std::string text = versionText();
  const std::string prefix = "Ver.:";
  return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
}

evlog::Format chosenLogFormat(const std::string& commandLine, const GlobalSettings* file) {
  if (!commandLine.empty()) return commandLine == "json" ? evlog::Format::Json : evlog::Format::Text;
  if (file && file->logFormatSet && file->logFormat == GlobalSettings::LogFormat::Json) return evlog::Format::Json;
  return evlog::Format::Text;
}

void writeNow(const evlog::Record& record, evlog::Format format) {
  const std::string line = evlog::renderLine(record, format, evlog::journalStream(STDERR_FILENO)) + '\n';
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}
