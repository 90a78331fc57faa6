#include "app/RelvaneWindowedApp.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <utility>

#include "app/AppIcon.h"
#include "app/RelvaneDlg.h"
#include "app/SignalPipe.h"
#include "net/Trace.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"
#include "ui/NetLoopNotifier.h"

namespace {

// Termination signals arrive through the self-pipe and are acted on inside Qt's loop.
std::unique_ptr<QSocketNotifier> watchSignals(CRelvaneDlg& dialog, int mode) {
  if (CSignalPipe::readFd() < 0) return nullptr;
  auto watch = std::make_unique<QSocketNotifier>(CSignalPipe::readFd(), QSocketNotifier::Read);
  QPointer<CRelvaneDlg> window(&dialog);
  QObject::connect(watch.get(), &QSocketNotifier::activated, watch.get(), [window, mode] {
    for (int signo : CSignalPipe::drain()) {
      if (signalAction(signo, mode, false) == SignalAction::Ignore) {
        trace("CRelvaneApp: signal %d ignored\n", signo);
        continue;
      }
      trace("CRelvaneApp: signal %d, closing\n", signo);
      if (window) window->closeInOrder();
    }
  });
  return watch;
}

// Qt ends the process with abort() when no platform can be opened (no display, a display
// that does not answer). While the application is being made, that end becomes the one
// line a user needs and exit code 1; other messages wait and are passed on if it succeeds.
QStringList heldMessages;

void messageDuringStart(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtFatalMsg) {
    std::fprintf(stderr, "%s\n", noDisplayText);
    std::fflush(stderr);
    ::_exit(1);
  }
  heldMessages << text;
}

bool displayNamed() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
    if (const char* value = std::getenv(name); value && *value) return true;
  return false;
}

}  // namespace

CRelvaneWindowedApp::CRelvaneWindowedApp() = default;
CRelvaneWindowedApp::~CRelvaneWindowedApp() = default;

int CRelvaneWindowedApp::startInstance(int argc, char** argv) {
  const int result = CRelvaneApp::startInstance(argc, argv);
  application.reset();  // before static destruction, while Qt is still whole
  return result;
}

CRelvaneApp::Windowing CRelvaneWindowedApp::beginWindowing(int argc, char** argv) {
  if (application) return Windowing::Window;
  if (!displayNamed()) return Windowing::NoDisplay;
  qtArgc = argc;
  qtArgv.assign(argv, argv + argc);
  qtArgv.push_back(nullptr);
  const QtMessageHandler previous = qInstallMessageHandler(messageDuringStart);
  application = std::make_unique<QApplication>(qtArgc, qtArgv.data());
  qInstallMessageHandler(previous);
  for (const QString& text : std::exchange(heldMessages, {})) std::fprintf(stderr, "%s\n", qPrintable(text));
  ui::initApplication();
  QApplication::setWindowIcon(applicationIcon());
  return Windowing::Window;
}

void CRelvaneWindowedApp::showRefusal(const char* text, const char* caption) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    CRelvaneApp::showRefusal(text, caption);
    return;
  }
  if (!caption) {
    ui::messageBox(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(caption), QString::fromUtf8(text), QMessageBox::Ok);
  box.exec();
}

int CRelvaneWindowedApp::runMainWindow() {
  if (!application) return CRelvaneApp::runMainWindow();
  if (CSignalPipe::closeAsked(debugMode, false)) return 0;  // asked to close before any slot started

  NetLoopNotifier sockets;  // every socket is served from Qt's loop from here on
  CRelvaneDlg dialog(settingsPath);
  mainDialog = &dialog;
  // Once the window has ended nobody reads the pipe: a second SIGTERM must end a shutdown
  // that hangs.
  QObject::connect(&dialog, &QDialog::finished, &dialog, [] { CSignalPipe::restoreDefaults(); });
  // Made after the window, so gone before it: a signal that comes once the window has
  // ended finds nobody listening and touches nothing.
  const auto signalWatch = watchSignals(dialog, debugMode);
  dialog.runModal();
  return 0;
}
