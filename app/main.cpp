// OstrelGSM4: configuration utility for the "Ostrel GSM" security alarm panel.
#include <QApplication>
#include <QComboBox>
#include <cstdio>
#include <cstdlib>

#include "app/Cli.h"
#include "app/WindowArgs.h"
#include "persist/ShutdownSignals.h"
#include "ui/AppSetup.h"
#include "ui/ConnectDlg.h"
#include "ui/MainForm.h"

int main(int argc, char* argv[]) {
  if (IsCommandLine(argc, argv)) return RunCommandLine(argc, argv);
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
    // The advice first: the line "ostrelgsm4: ..." is always the last one.
    std::fprintf(stderr,
                 "Run it in a desktop session, or use the command line: ostrelgsm4 --help\n"
                 "ostrelgsm4: no display found (DISPLAY is not set), so the window cannot be shown\n");
    return 1;
  }

  QApplication app(argc, argv);
  SetUpApplication();
  TForm1 form;
  // "--port PORT" fills in the port dialog (the run script passes the
  // simulated panel's port); "--adc" shows the navigation item "АЦП".
  const TWindowArgs args = ParseWindowArgs(argc, argv);
  if (!args.Port.empty()) form.ConnectDialog()->ComPorts()->setEditText(QString::fromLocal8Bit(args.Port.c_str()));
  if (args.Adc) form.SetAdcItemVisible(true);
  form.show();
  // SIGTERM, SIGINT and SIGHUP close the window as the user would.
  TShutdownSignals shutdownSignals(&form);
  return QApplication::exec();
}
