#include "app/RelvaneWindowedApp.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>

#include "app/AppIcon.h"
#include "app/RelvaneDlg.h"
#include "app/SignalPipe.h"
#include "net/Trace.h"
#include "slot/NetLoopNotifier.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"

CRelvaneWindowedApp::CRelvaneWindowedApp() = default;
CRelvaneWindowedApp::~CRelvaneWindowedApp() = default;

int CRelvaneWindowedApp::startInstance(int argc, char** argv) {
  const int result = CRelvaneApp::startInstance(argc, argv);
  application.reset();  // before static destruction, while Qt is still whole
  return result;
}

bool CRelvaneWindowedApp::beginWindowing(int argc, char** argv) {
  if (application) return true;
  qtArgc = argc;
  qtArgv.assign(argv, argv + argc);
  qtArgv.push_back(nullptr);
  application = std::make_unique<QApplication>(qtArgc, qtArgv.data());
  ui::initApplication();
  QApplication::setWindowIcon(applicationIcon());
  return true;
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
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(caption), QString::fromUtf8(text),
                  QMessageBox::Ok);
  box.exec();
}

int CRelvaneWindowedApp::runMainWindow() {
  if (!application) return CRelvaneApp::runMainWindow();

  NetLoopNotifier sockets;  // every socket is served from Qt's loop from here on

  CRelvaneDlg dialog;
  mainDialog = &dialog;

  // Declared after the window, so it is gone before the window is: a signal that comes
  // once the window has ended finds nobody listening and touches nothing.
  std::unique_ptr<QSocketNotifier> signalWatch;
  if (CSignalPipe::readFd() >= 0)
    signalWatch = std::make_unique<QSocketNotifier>(CSignalPipe::readFd(), QSocketNotifier::Read);
  const int mode = debugMode;
  QPointer<CRelvaneDlg> window(&dialog);
  if (signalWatch) QObject::connect(signalWatch.get(), &QSocketNotifier::activated, [window, mode] {
    for (int signo : CSignalPipe::drain()) {
      if (signalAction(signo, mode, false) == SignalAction::Ignore) {
        trace("CRelvaneApp: signal %d ignored\n", signo);
        continue;
      }
      trace("CRelvaneApp: signal %d, closing\n", signo);
      if (window) window->closeInOrder();
    }
  });

  dialog.runModal();
  return 0;
}
