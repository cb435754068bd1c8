#include "app/Cli.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "app/CliProvision.h"
#include "app/Session.h"
#include "app/WindowArgs.h"
#include "persist/SettingsCodec.h"
#include "persist/ShutdownSignals.h"
#include "ui/ConnectDlg.h"
#include "ui/MainForm.h"
#include "ui/WireText.h"

namespace {

// Two names of one file (through "..", or a link when it exists).
bool SameFile(const QString& a, const QString& b) {
  const QFileInfo x(a), y(b);
  if (QDir::cleanPath(x.absoluteFilePath()) == QDir::cleanPath(y.absoluteFilePath())) return true;
  return x.exists() && x.canonicalFilePath() == y.canonicalFilePath();
}

int ListPorts() {
  QStringList ports = TdlgConnect::SystemPorts();
  std::sort(ports.begin(), ports.end(), [](const QString& a, const QString& b) { return a.compare(b) < 0; });
  for (const QString& port : ports) std::printf("%s\n", port.toUtf8().constData());
  return exOk;
}

int ReadPanel(TForm1& form, TSession& session, const QString& port, const std::string& phone, const QString& out,
              bool adc) {
  QString why;
  const bool connected = session.Connect(port, phone, &why);
  if (session.Interrupted()) return Interrupted(session);
  if (!connected) return Fail(exConnect, "connection failed: " + why);
  if (const int status = ReadIntoPages(form, session, adc); status != exOk) return status;
  session.Disconnect();
  // A signal that came meanwhile still leaves the file as it was.
  QCoreApplication::processEvents();
  if (session.Interrupted()) return Interrupted(session);
  form.ConnectDialog()->ComPorts()->setEditText(port);
  if (!form.SaveSettings(out, &why)) return Fail(exUsage, why);
  return exOk;
}

// What write does besides writing: a backup file first, a check after.
struct TWriteSafety {
  QString Backup;
  bool Verify = false;
};

int WritePanel(TForm1& form, TSession& session, const QString& port, const std::string& phone, const QString& in,
               bool adc, const TWriteSafety& safety) {
  // Unattended: a file that is not sent exactly as written is refused before the port is opened.
  if (const auto refused = ReadSettingsForWrite(in, adc ? TGroups::AllWithAdc() : TGroups::All(), nullptr))
    return Fail(exUsage, *refused);
  QString why;
  if (!QFileInfo(in).isFile()) return Fail(exUsage, "cannot read the settings file " + in);
  if (!form.LoadSettings(in, &why)) return Fail(exUsage, why);
  const bool connected = session.Connect(port, phone, &why);
  if (session.Interrupted()) return Interrupted(session);
  if (!connected) return Fail(exConnect, "connection failed: " + why);
  if (!safety.Backup.isEmpty())
    if (const int status = BackupBeforeWrite(form, session, port, in, safety.Backup, adc); status != exOk)
      return status;
  const TSettings sent = form.PagesSettings(adc ? TGroups::AllWithAdc() : TGroups::All());
  if (const int status = RunAll(form, session, adc, true); status != exOk) return status;
  if (safety.Verify) return VerifyAfterWrite(form, session, sent, adc);
  session.Disconnect();
  return exOk;
}

}  // namespace

bool IsCommandLine(int argc, char* argv[]) {
  // "--port PORT" and "--adc" alone open the window.
  return !ParseWindowArgs(argc, argv).IsWindow;
}

int RunCommandLine(int argc, char* argv[]) {
  // The command line never shows a window and needs no display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("ostrelgsm4");
  QApplication::setApplicationVersion("1.012");

  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromUtf8(
      "Configuration utility for the \"Ostrel GSM\" security alarm panel.\n"
      "Without arguments it opens its window; --port PORT fills in its port dialog, and --adc shows\n"
      "its \"АЦП\" page (the ADC thresholds): ostrelgsm4 [--port PORT] [--adc]. Commands:\n"
      "  read   --port PORT --out FILE [--adc] [--phone NUMBER]   read the panel into a settings file\n"
      "  write  --port PORT --in FILE [--adc] [--phone NUMBER]    write a settings file to the panel\n"
      "         [--backup BACKUP] [--verify]                      (first save the panel into BACKUP;\n"
      "                                                           afterwards read it back and compare)\n"
      "  diff   --port PORT --in FILE [--adc] [--phone NUMBER]    list what differs between the panel\n"
      "                                                           and a settings file\n"
      "  ports                                                    list the serial ports\n"
      "Exit status: 0 success (diff: the panel holds the file's settings); 1 usage error or a\n"
      "settings file that cannot be read or written; 2 the connection failed; 3 a read or write\n"
      "failed after connecting (a request the panel did not confirm, the link lost, or --verify\n"
      "found a setting the panel did not keep); 4 diff found differences; 128 + the signal when\n"
      "SIGINT, SIGTERM or SIGHUP stopped it (130, 143, 129)."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("command", "read, write, diff or ports");
  const QCommandLineOption portOpt("port", "Serial port: a device path (/dev/ttyUSB0) or a name (ttyUSB0, COM1).",
                                   "PORT");
  const QCommandLineOption outOpt("out", "Settings file to write (read).", "FILE");
  const QCommandLineOption inOpt("in", "Settings file to load (write) or to compare with (diff).", "FILE");
  const QCommandLineOption backupOpt("backup", "write: first read the panel and save it into BACKUP; "
                                     "if that fails nothing is written.", "BACKUP");
  const QCommandLineOption verifyOpt("verify", "write: read the panel back afterwards and list every setting "
                                     "it did not keep (exit status 3).");
  const QCommandLineOption adcOpt("adc", "Also read or write the ADC channels' thresholds.");
  const QCommandLineOption phoneOpt("phone", "Reach the panel through a GSM modem data call to NUMBER.", "NUMBER");
  const QCommandLineOption quietOpt("quiet", "Do not show the traffic on standard error.");
  parser.addOptions({portOpt, outOpt, inOpt, backupOpt, verifyOpt, adcOpt, phoneOpt, quietOpt});

  if (!parser.parse(QApplication::arguments())) return Fail(exUsage, parser.errorText());
  if (parser.isSet("help") || parser.isSet("help-all")) {
    std::printf("%s", parser.helpText().toUtf8().constData());
    return exOk;
  }
  if (parser.isSet("version")) {
    std::printf("ostrelgsm4 %s\n", QApplication::applicationVersion().toUtf8().constData());
    return exOk;
  }
  const QStringList args = parser.positionalArguments();
  if (args.size() != 1) return Fail(exUsage, "expected one command: read, write, diff or ports (see --help)");
  const QString command = args.first();
  if (command == "ports") return ListPorts();
  if (command != "read" && command != "write" && command != "diff")
    return Fail(exUsage, "unknown command " + command + " (see --help)");
  if (command != "write" && (parser.isSet(backupOpt) || parser.isSet(verifyOpt)))
    return Fail(exUsage, "--backup and --verify belong to write");

  const QString port = parser.value(portOpt);
  const QString file = parser.value(command == "read" ? outOpt : inOpt);
  if (port.isEmpty()) return Fail(exUsage, "--port is required");
  if (file.isEmpty()) return Fail(exUsage, command == "read" ? "--out is required" : "--in is required");

  TForm1 form(nullptr, false);
  TSession session(form, parser.isSet(quietOpt));
  // SIGINT, SIGTERM and SIGHUP stop the operation; the port is closed and
  // its lock released before the program ends with 128 + the signal.
  TShutdownSignals stopSignals([&session](int signal) { session.Interrupt(signal); });
  const std::string phone = ToWire(parser.value(phoneOpt));
  if (command == "read") return ReadPanel(form, session, port, phone, file, parser.isSet(adcOpt));
  if (command == "diff") return DiffPanel(form, session, port, phone, file, parser.isSet(adcOpt));
  const TWriteSafety safety{parser.value(backupOpt), parser.isSet(verifyOpt)};
  if (parser.isSet(backupOpt) && safety.Backup.isEmpty()) return Fail(exUsage, "--backup needs a file name");
  // The backup would replace the very file about to be written.
  if (SameFile(safety.Backup, file)) return Fail(exUsage, "--backup names the file to write; choose another");
  return WritePanel(form, session, port, phone, file, parser.isSet(adcOpt), safety);
}
