// OstrelGSM4: configuration utility for the "Ostrel GSM" security alarm panel.
#include <QApplication>
#include <QFont>

#include "persist/ShutdownSignals.h"
#include "ui/MainForm.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("OstrelGSM4");
  QApplication::setApplicationDisplayName("OstrelGSM4");
  QApplication::setApplicationVersion("1.012");
  // The window was designed for an 8-point sans-serif font.
  QFont font("DejaVu Sans");
  font.setPointSize(8);
  QApplication::setFont(font);
  TForm1 form;
  form.show();
  // SIGTERM, SIGINT and SIGHUP close the window as the user would.
  TShutdownSignals shutdownSignals(&form);
  return QApplication::exec();
}
