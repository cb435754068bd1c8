// OstrelGSM4: configuration utility for the "Ostrel GSM" security alarm panel.
#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <string_view>

#include "app/Cli.h"
#include "persist/ShutdownSignals.h"
#include "ui/ConnectDlg.h"
#include "ui/MainForm.h"

int main(int argc, char* argv[]) {
  if (IsCommandLine(argc, argv)) return RunCommandLine(argc, argv);

  QApplication app(argc, argv);
  QApplication::setApplicationName("OstrelGSM4");
  QApplication::setApplicationDisplayName("OstrelGSM4");
  QApplication::setApplicationVersion("1.012");
  // The window was designed for an 8-point sans-serif font.
  QFont font("DejaVu Sans");
  font.setPointSize(8);
  QApplication::setFont(font);
  TForm1 form;
  // "--port PORT" fills in the port dialog (the run script passes the
  // simulated panel's port).
  if (argc == 3 && std::string_view(argv[1]) == "--port")
    form.ConnectDialog()->ComPorts()->setEditText(QString::fromLocal8Bit(argv[2]));
  form.show();
  // SIGTERM, SIGINT and SIGHUP close the window as the user would.
  TShutdownSignals shutdownSignals(&form);
  return QApplication::exec();
}
