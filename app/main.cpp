#include "app/RelvaneWindowedApp.h"

namespace {
CRelvaneWindowedApp theApp;  // the one application object, built before main as the framework expects
}

int main(int argc, char** argv) {
  theApp.startInstance(argc, argv);
  return theApp.exitCode();
}
