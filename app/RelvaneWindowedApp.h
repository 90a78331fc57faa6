#pragma once
// The program with its window: start-up of the core, refusals shown in message boxes,
// then the main window run modally inside Qt's event loop, which also serves the
// sockets' readiness loop and the termination signals.
#include <memory>
#include <vector>

#include "app/RelvaneApp.h"

class QApplication;

class CRelvaneWindowedApp : public CRelvaneApp {
public:
  CRelvaneWindowedApp();
  ~CRelvaneWindowedApp() override;

  int startInstance(int argc, char** argv) override;

protected:
  Windowing beginWindowing(int argc, char** argv) override;
  void showRefusal(const char* text, const char* caption) override;
  int runMainWindow() override;

private:
  // Qt takes its own options out of the argument list it is given; the core traces the
  // original, so Qt gets a copy that lives as long as the application object.
  int qtArgc = 0;
  std::vector<char*> qtArgv;
  std::unique_ptr<QApplication> application;  // owned; created by beginWindowing
};
