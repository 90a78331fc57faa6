#include "app/RelvaneApp.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "app/CommandLine.h"
#include "app/ConfigCheck.h"
#include "app/ControlRequest.h"
#include "app/HeadlessRun.h"
#include "app/LegacySettings.h"
#include "app/ProgramLog.h"
#include "app/SettingsPath.h"
#include "app/SignalPipe.h"
#include "app/StartupArgs.h"
#include "app/StdStreams.h"
#include "app/WorkingDir.h"
#include "log/LogLines.h"
#include "net/AsyncSocket.h"
#include "net/Trace.h"
#include "res/DialogTemplate.h"
#include "res/Resource.h"

int debugMode = 0;
CRelvaneDlg* mainDialog = nullptr;

const char* const noDisplayText =
    "ディスプレイが見つかりません。ウィンドウなしでスロットを動かすには --headless を付けて起動してください";

namespace {

// The about box has no room for the licence without a change of its template; it goes here.
const char licenceLines[] =
    "ライセンス: GNU GPL バージョン 3 以降 (GPL-3.0-or-later) <https://www.gnu.org/licenses/gpl-3.0.html>\n"
    "これはフリーソフトウェアです。変更と再配布は自由です。法律の許す限り無保証です。\n";

}  // namespace

CRelvaneApp::Windowing CRelvaneApp::beginWindowing(int, char**) { return Windowing::NoWindows; }

// A line of the log, naming the settings file.
void CRelvaneApp::showRefusal(const char* text, const char*) {
  writeNow(evlog::startRefusedLine(settingsPath, text), chosenLogFormat(logFormat, nullptr));
}

int CRelvaneApp::runMainWindow() {
  CHeadlessRun run(settingsPath, debugMode, false, quiet);
  run.setLogFormat(logFormat);
  return run.run();
}

bool CRelvaneApp::answerCommandLine(const CommandLine& line) {
  if (!line.error.empty()) {
    std::fprintf(stderr, "%s\n%s", line.error.c_str(), usageText().c_str());
    exit = exitUsage;
    return true;
  }
  if (!line.help && !line.version) return false;
  const std::string version = "RelvaneTiv " + productVersion() + "\n" + licenceLines;
  std::fputs(line.help ? usageText().c_str() : version.c_str(), stdout);
  return true;
}

std::optional<int> CRelvaneApp::refuseStart(Windowing windowing) {
  exit = 1;
  if (windowing == Windowing::NoDisplay) {
    std::fprintf(stderr, "%s\n", noDisplayText);
    return 0;
  }
  if (!socketInit()) {
    const char* text = res::findString(IDP_SOCKETS_INIT_FAILED);
    showRefusal(text ? text : "", nullptr);
    return 0;
  }
  switch (instance.acquire(settingsPath)) {
    case CSingleInstance::Acquired: exit = 0; return std::nullopt;
    case CSingleInstance::AlreadyRunning:
      showRefusal(alreadyRunningText, alreadyRunningCaption);
      // The box keeps its one text; standard error names the file beside it.
      if (windowing == Windowing::Window)
        writeNow(evlog::startRefusedLine(settingsPath, alreadyRunningText), chosenLogFormat(logFormat, nullptr));
      return -1;
    case CSingleInstance::Failed: break;
  }
  // Starting anyway could let two instances write one INI file; say why we stop.
  const std::string text = "多重起動防止のロックファイルを作成できません: " + instance.triedPath() + " (" +
                           std::strerror(instance.lastError()) + ")";
  showRefusal(text.c_str(), nullptr);
  return -1;
}

int CRelvaneApp::startInstance(int argc, char** argv) {
  reserveStandardDescriptors();  // before Qt or the socket loop opens anything
  const CommandLine line = parseCommandLine(argc, argv);
  if (answerCommandLine(line)) return 0;
  const SettingsPlace place = currentSettingsPlace();
  settingsPath = settingsFilePath(line.configPath, place);
  if (!line.control.empty()) {  // a request to the program on the file: nothing of ours starts
    exit = runControlRequest(line, settingsPath);
    return 0;
  }
  if (line.check) {  // before any window, lock or folder: it only reads
    exit = checkSettingsFile(settingsPath, stdout);
    return 0;
  }
  const Windowing windowing = line.headless ? Windowing::NoWindows : beginWindowing(argc, argv);
  quiet = line.quiet;
  logFormat = line.logFormat;
  if (const std::optional<int> refused = refuseStart(windowing)) return *refused;
  // Under the lock, so two programs started at once do not both copy.
  if (const std::string moved = adoptStartFolderSettings(line.configPath, place, settingsPath); !moved.empty()) {
    if (windowing == Windowing::Window) showRefusal(moved.c_str(), nullptr);
    else
      writeNow(evlog::settingsCopiedLine(settingsPath, moved), chosenLogFormat(logFormat, nullptr));
  }

  // The argument lines belong to the debug trace alone: without the switch they go where the
  // rest of the trace goes, nowhere.
  setupStandardStreams(line.debugMode);
  debugMode = traceArguments(argc, argv);
  printBanner(debugMode);
  enterProgramDirectory(executableDirectory());
  trace("\nSettings=%s\n", settingsPath.c_str());

  if (!CSignalPipe::install()) trace("Error:CRelvaneApp signal pipe errno=%d\n", errno);

  if (windowing == Windowing::Window) {
    exit = runMainWindow();
  } else {
    // Without a window the run is headless, asked for or not (the build without Qt).
    CHeadlessRun run(settingsPath, debugMode, true, quiet);
    run.setLogFormat(logFormat);
    exit = run.run();
  }
  return 0;
}
