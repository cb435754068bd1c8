#include "app/Cli.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <csignal>
#include <cstdio>

#include "OstrelVersion.h"
#include "app/CliOptions.h"
#include "app/CliProvision.h"
#include "app/Session.h"
#include "app/WindowArgs.h"
#include "link/xModem.h"
#include "persist/SettingsCheck.h"
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
  for (const QString& port : ports) PrintOut(EscapeControls(port).toUtf8() + '\n');
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
  if (const auto refused = CheckSettingsForWrite(in, adc)) return Fail(exUsage, *refused);
  QString why;
  if (!QFileInfo(in).isFile()) return Fail(exUsage, "cannot read the settings file " + in);
  if (!form.LoadSettings(in, &why)) return Fail(exUsage, why);
  const bool connected = session.Connect(port, phone, &why);
  if (session.Interrupted()) return Interrupted(session);
  if (!connected) return Fail(exConnect, "connection failed: " + why);
  if (!safety.Backup.isEmpty())
    if (const int status = BackupBeforeWrite(form, session, port, in, safety.Backup, adc); status != exOk)
      return status;
  const TSnapshot sent = form.PagesSnapshot(adc);
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

namespace {

int RunCommands(int argc, char* argv[]) {
  // The command line never shows a window and needs no display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("ostrelgsm4");
  QApplication::setApplicationVersion(OSTREL_VERSION);

  QCommandLineParser parser;
  parser.setApplicationDescription(CliDescription());
  parser.addHelpOption();
  parser.addVersionOption();
  QStringList commandNames;
  for (const TCliCommand& command : CliCommands()) commandNames << QString::fromLatin1(command.Name);
  parser.addPositionalArgument("command", commandNames.join(", "));
  for (const TCliOption& option : CliOptions())
    parser.addOption(QCommandLineOption(QString::fromLatin1(option.Name), QString::fromUtf8(option.Help),
                                        QString::fromLatin1(option.ValueName)));

  if (!parser.parse(QApplication::arguments())) return Fail(exUsage, parser.errorText());
  if (parser.isSet("help") || parser.isSet("help-all")) {
    PrintOut(parser.helpText().toUtf8());
    return exOk;
  }
  if (parser.isSet("version")) {
    PrintOut("ostrelgsm4 " OSTREL_VERSION "\n");
    return exOk;
  }
  const QStringList args = parser.positionalArguments();
  if (args.size() != 1) return Fail(exUsage, "expected one command: " + commandNames.join(", ") + " (see --help)");
  const QString command = args.first();
  if (!FindCliCommand(command)) return Fail(exUsage, "unknown command " + command + " (see --help)");
  for (const TCliOption& option : CliOptions())
    if (parser.isSet(option.Name) && !option.TakenBy(command))
      return Fail(exUsage,
                  QStringLiteral("--%1 does not belong to %2 (see --help)").arg(QLatin1String(option.Name), command));
  if (command == "ports") return ListPorts();
  const QCommandLineOption portOpt("port"), outOpt("out"), inOpt("in"), backupOpt("backup"), verifyOpt("verify"),
      adcOpt("adc"), phoneOpt("phone"), quietOpt("quiet");

  const QString port = parser.value(portOpt);
  const QString file = parser.value(command == "read" ? outOpt : inOpt);
  if (port.isEmpty()) return Fail(exUsage, "--port is required");
  if (file.isEmpty()) return Fail(exUsage, command == "read" ? "--out is required" : "--in is required");
  const std::string phone = ToWire(parser.value(phoneOpt));
  // A number with nothing a modem dials would quietly become a direct link.
  if (parser.isSet(phoneOpt) && FilterPhone(phone).empty())
    return Fail(exUsage, "--phone " + parser.value(phoneOpt) + " holds no digits to dial");

  TForm1 form(nullptr, false);
  TSession session(form, parser.isSet(quietOpt));
  // SIGINT, SIGTERM and SIGHUP stop the operation; the port is closed and
  // its lock released before the program ends with 128 + the signal.
  TShutdownSignals stopSignals([&session](int signal) { session.Interrupt(signal); });
  if (command == "read") return ReadPanel(form, session, port, phone, file, parser.isSet(adcOpt));
  if (command == "diff") return DiffPanel(form, session, port, phone, file, parser.isSet(adcOpt));
  const TWriteSafety safety{parser.value(backupOpt), parser.isSet(verifyOpt)};
  if (parser.isSet(backupOpt) && safety.Backup.isEmpty()) return Fail(exUsage, "--backup needs a file name");
  // The backup would replace the very file about to be written.
  if (SameFile(safety.Backup, file)) return Fail(exUsage, "--backup names the file to write; choose another");
  return WritePanel(form, session, port, phone, file, parser.isSet(adcOpt), safety);
}

}  // namespace

int RunCommandLine(int argc, char* argv[]) {
  // A reader that ends early (diff ... | head -1) closes standard output:
  // the write fails with EPIPE and the run ends with its own final line,
  // instead of the signal killing it with the port still locked.
  std::signal(SIGPIPE, SIG_IGN);
  const int status = RunCommands(argc, argv);
  if (status != exOutputClosed && OutputFailed()) return FailOutput();
  return status;
}
