#if RELVANE_GUI
#include "app/RelvaneWindowedApp.h"
using Application = CRelvaneWindowedApp;
#else
#include "app/RelvaneApp.h"
using Application = CRelvaneApp;  // the core alone: no window to open, so always headless
#endif

namespace {
Application theApp;  // the one application object, built before main as the framework expects
}

int main(int argc, char** argv) {
  theApp.startInstance(argc, argv);
  return theApp.exitCode();
}
