#include "app/RelvaneApp.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/HeadlessRun.h"
#include "app/SignalPipe.h"
#include "app/StartupArgs.h"
#include "app/StdStreams.h"
#include "app/WorkingDir.h"
#include "net/AsyncSocket.h"
#include "net/Trace.h"
#include "res/DialogTemplate.h"
#include "res/Resource.h"

int debugMode = 0;
CRelvaneDlg* mainDialog = nullptr;

bool CRelvaneApp::beginWindowing(int, char**) { return false; }

void CRelvaneApp::showRefusal(const char* text, const char*) {
  std::fprintf(stderr, "%s\n", text);
}

int CRelvaneApp::runMainWindow() {
  CHeadlessRun run(defaultIniPath(), debugMode, false);
  return run.run();
}

int CRelvaneApp::startInstance(int argc, char** argv) {
  reserveStandardDescriptors();  // before Qt or the socket loop opens anything
  const bool headless = hasArgument(argc, argv, "--headless");
  const bool windowed = !headless && beginWindowing(argc, argv);

  if (!socketInit()) {
    const char* text = res::findString(IDP_SOCKETS_INIT_FAILED);
    showRefusal(text ? text : "", nullptr);
    exit = 1;
    return 0;
  }

  switch (instance.acquire()) {
    case CSingleInstance::Acquired:
      break;
    case CSingleInstance::AlreadyRunning:
      showRefusal(alreadyRunningText, alreadyRunningCaption);
      exit = 1;
      return -1;
    case CSingleInstance::Failed: {
      // Starting anyway could let two instances write one INI file; say why we stop.
      const std::string text = "多重起動防止のロックファイルを作成できません: " +
                               CSingleInstance::lockPath() + " (" +
                               std::strerror(instance.lastError()) + ")";
      showRefusal(text.c_str(), nullptr);
      exit = 1;
      return -1;
    }
  }

  debugMode = traceArguments(argc, argv);
  setupStandardStreams(debugMode);
  printBanner(debugMode);
  enterProgramDirectory(argc > 0 ? argv[0] : "");

  if (!CSignalPipe::install())
    trace("Error:CRelvaneApp signal pipe errno=%d\n", errno);

  if (windowed) {
    exit = runMainWindow();
  } else {
    // Without a window the run is headless, asked for or not (the build without Qt).
    CHeadlessRun run(defaultIniPath(), debugMode, true);
    exit = run.run();
  }
  return 0;
}
