// OstrelGSM4's window. The program "ostrelgsm4" runs its command line itself
// and starts this one in its own place (same process, same arguments) when
// asked for the window, so that the command line never loads the window's
// libraries.
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <cstdio>
#include <cstdlib>

#include "app/WindowArgs.h"
#include "persist/ShutdownSignals.h"
#include "persist/WindowShutdown.h"
#include "ui/AppSetup.h"
#include "ui/ConnectDlg.h"
#include "ui/MainForm.h"
#include "ui/SiteLibrary.h"
#include "ui/SingleInstance.h"
#include "persist/ProgramDir.h"

namespace {

int RunWindow(const TWindowArgs& args) {
  // One window for one set of files: a later start brings this one forward.
  TSingleInstance guard(ProgramDir());
  switch (guard.Claim()) {
    case TSingleInstance::TClaim::HandedOver:
      return 0;
    case TSingleInstance::TClaim::NoAnswer:
      std::fprintf(stderr, "ostrelgsm4: the window is already open for this user but does not answer\n");
      return 1;
    case TSingleInstance::TClaim::First:
    case TSingleInstance::TClaim::Failed:
      break;
  }
  TForm1 form;
  guard.OnRaise = [&form] {
    form.setWindowState((form.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    form.show();
    form.raise();
    form.activateWindow();
  };
  // "--port PORT" fills in the port dialog (the run script passes the
  // simulated panel's port); "--adc" shows the navigation item "АЦП".
  if (!args.Port.empty()) form.ConnectDialog()->ComPorts()->setEditText(QString::fromLocal8Bit(args.Port.c_str()));
  if (args.Adc) form.SetAdcItemVisible(true);
  form.show();
  // SIGTERM, SIGINT and SIGHUP close the window as the user would, except
  // that no one is there to answer a box: a failure to save is said on
  // standard error (and in the debug log) and the program ends.
  TShutdownSignals shutdownSignals([&form, close = CloseWindowOnSignal(&form)](int signal) {
    form.StopShowingBoxes();
    close(signal);
  });
  return QApplication::exec();
}

}  // namespace

int main(int argc, char* argv[]) {
  const TWindowArgs args = ParseWindowArgs(argc, argv);
  if (!args.IsWindow) {
    std::fprintf(stderr, "ostrelgsm4: the window takes only --port PORT and --adc; commands run with ostrelgsm4\n");
    return 2;
  }
  if (!HasDisplay()) {
    PrintNoDisplay();
    return 1;
  }

  QApplication app(argc, argv);
  SetUpApplication();
  const int status = RunWindow(args);
  // A library thread left behind at the close (a library that did not answer
  // in time; its records are in the spool) may still run: the program ends
  // here, without the destructors it still uses.
  if (LibraryThreadsLeft()) {
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
  }
  return status;
}
