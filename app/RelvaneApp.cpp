#include "app/RelvaneApp.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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

int CRelvaneApp::startInstance(int argc, char** argv) {
  if (!socketInit()) {
    const char* text = res::findString(IDP_SOCKETS_INIT_FAILED);
    std::fprintf(stderr, "%s\n", text ? text : "");
    exit = 1;
    return 0;
  }

  switch (instance.acquire()) {
    case CSingleInstance::Acquired:
      break;
    case CSingleInstance::AlreadyRunning:
      std::fprintf(stderr, "%s\n", alreadyRunningText);
      exit = 1;
      return -1;
    case CSingleInstance::Failed:
      // Starting anyway could let two instances write one INI file; say why we stop.
      std::fprintf(stderr, "多重起動防止のロックファイルを作成できません: %s (%s)\n",
                   CSingleInstance::lockPath().c_str(), std::strerror(instance.lastError()));
      exit = 1;
      return -1;
  }

  const bool headless = hasArgument(argc, argv, "--headless");
  debugMode = traceArguments(argc, argv);
  setupStandardStreams(debugMode);
  printBanner(debugMode);
  enterProgramDirectory(argc > 0 ? argv[0] : "");

  if (!CSignalPipe::install())
    trace("Error:CRelvaneApp signal pipe errno=%d\n", errno);

  // The windowed program runs its main window here unless --headless was given; until then
  // both run slot 0 without a window.
  CHeadlessRun run(defaultIniPath(), debugMode, headless);
  exit = run.run();
  return 0;
}
