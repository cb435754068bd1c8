#include "app/Cli.h"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSerialPortInfo>
#include <algorithm>
#include <csignal>
#include <cstdio>

#include "OstrelVersion.h"
#include "app/CliOptions.h"
#include "app/CliOutput.h"
#include "app/WindowArgs.h"
#include "link/xModem.h"
#include "ops/PanelSession.h"
#include "ops/Provisioning.h"
#include "persist/SettingsCodec.h"
#include "persist/ShutdownSignals.h"
#include "persist/WireText.h"
#include "protocol/OperationSize.h"

namespace {

// Two names of one existing file: the same device and inode.
bool SameFile(const QString& a, const QString& b) {
  struct stat x {}, y {};
  if (stat(a.toLocal8Bit().constData(), &x) != 0 || stat(b.toLocal8Bit().constData(), &y) != 0) return false;
  return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

int ListPorts() {
  QStringList ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) ports << info.portName();
  std::sort(ports.begin(), ports.end(), [](const QString& a, const QString& b) { return a.compare(b) < 0; });
  for (const QString& port : ports) PrintOut(EscapeControls(port).toUtf8() + '\n');
  return exOk;
}

// A command's run against the panel: the session, the traffic on standard
// error, the progress line and the signal that stops it.
class TRun {
 public:
  TRun(bool quiet, bool adc) : quiet_(quiet), adc_(adc) {
    TProgressLine::Instance().Enabled = !quiet && isatty(STDERR_FILENO);
    session_.Watch = [this](const TOutElement& e) {
      if (e.Kind == okResult) {
        // The message box the window would show for it.
        const std::string message = ResultMessage(static_cast<const TResultOut&>(e).Result);
        if (!quiet_ && !message.empty()) PrintLine(QString::fromUtf8("message: ") + FromWire(message));
        return;
      }
      if (e.Kind != okMemo) return;
      const std::string& text = static_cast<const TMemoOut&>(e).Text;
      if (!quiet_) PrintLine(ForTerminal(text));
      if (text.rfind("-> ", 0) == 0) TProgressLine::Instance().Step();
    };
  }

  void Interrupt(int signal) {
    if (signal_ == 0) signal_ = signal;
    session_.Interrupt();
  }
  bool Interrupted() const { return signal_ != 0; }

  // Ends the link after a signal: "ostrelgsm4: interrupted", 128 + the signal.
  int Stopped() {
    session_.Disconnect();
    PrintLine(QString::fromUtf8("ostrelgsm4: interrupted"));
    return 128 + signal_;
  }

  // exOk, or the status of the final line printed.
  int Connect(const QString& port, const std::string& phone) {
    const TOperationResult r = session_.Connect(ToWire(port), phone);
    if (Interrupted()) return Stopped();
    if (r.Succeeded()) return exOk;
    session_.Disconnect();
    // A lost line or call says so with the link's own line; otherwise the
    // check's own failure (the progress dialog's text).
    QString why = r.Outcome == TOutcome::LinkLost && !r.Command.empty() ? FailureText(r) : FromWire(r.Detail);
    why.remove(QString::fromUtf8(" # !!! "));
    why = why.trimmed();
    if (why.isEmpty()) why = QString::fromUtf8("the panel did not answer");
    return Fail(exConnect, "connection failed: " + why);
  }

  // Reads the whole panel (the ADC channels too with adc) into *settings.
  int Read(TSettings* settings) {
    TProgressLine::Instance().Start(OperationSize::ReadAllCommands + (adc_ ? 12 : 0));
    const TOperationResult r = ReadPanel(session_, adc_, settings);
    TProgressLine::Instance().Stop();
    return Ended(r, false);
  }

  int Write(const TSettings& settings) {
    TProgressLine::Instance().Start(OperationSize::WriteAllCommands + (adc_ ? 10 : 0));
    const TOperationResult r = WritePanel(session_, settings, adc_);
    TProgressLine::Instance().Stop();
    return Ended(r, true);
  }

  // Ends the link; a signal that came meanwhile still counts.
  int Disconnect() {
    session_.Disconnect();
    QCoreApplication::processEvents();
    return Interrupted() ? Stopped() : exOk;
  }

 private:
  int Ended(const TOperationResult& r, bool write) {
    if (Interrupted()) return Stopped();
    if (r.Succeeded()) return exOk;
    session_.Disconnect();
    const bool adcPage = r.Mode == Modes::ReadPage || r.Mode == Modes::WritePage;
    const char* what = write ? (adcPage ? "writing the ADC thresholds failed: " : "writing the panel failed: ")
                             : (adcPage ? "reading the ADC channels failed: " : "reading the panel failed: ");
    return Fail(exExchange, QString::fromUtf8(what) + FailureText(r));
  }

  TPanelSession session_;
  bool quiet_;
  bool adc_;
  int signal_ = 0;
};

void PrintDifferences(const std::vector<TDifference>& differences) {
  for (const TDifference& d : differences)
    PrintOut(DifferenceLine(d, QStringLiteral("panel"), QStringLiteral("file")).toUtf8() + '\n');
}

QString Names(const std::vector<TDifference>& differences) {
  QStringList names;
  for (const TDifference& d : differences) names << FieldName(*d.Field);
  return names.join(", ");
}

// read: a fresh file holding exactly what was read, replacing FILE at once.
int ReadCommand(TRun& run, const QString& port, const std::string& phone, const QString& out, bool adc) {
  if (const int status = run.Connect(port, phone); status != exOk) return status;
  TSettings settings;
  if (const int status = run.Read(&settings); status != exOk) return status;
  if (const int status = run.Disconnect(); status != exOk) return status;
  QString why;
  if (!SaveSettingsFile(out, settings, {port, false}, true, &why)) return Fail(exUsage, why);
  (void)adc;
  return exOk;
}

// What write does besides writing: a backup file first, a check after.
struct TWriteSafety {
  QString Backup;
  bool Verify = false;
};

int WriteCommand(TRun& run, const QString& port, const std::string& phone, const QString& in, bool adc,
                 const TWriteSafety& safety) {
  // The file is read once, strictly, before the port is opened: what is
  // written is what was checked, whatever a backup does to the file.
  TSettings settings;
  if (const auto refused = ReadSettingsForWrite(in, PanelGroups(adc), &settings)) return Fail(exUsage, *refused);
  if (const int status = run.Connect(port, phone); status != exOk) return status;
  if (!safety.Backup.isEmpty()) {
    TSettings panel;
    if (const int status = run.Read(&panel); status != exOk) return status;
    QString why;
    if (!SaveSettingsFile(safety.Backup, panel, {port, false}, true, &why)) {
      run.Disconnect();
      return Fail(exUsage, "the backup was not saved, nothing written: " + why);
    }
  }
  if (const int status = run.Write(settings); status != exOk) return status;
  if (!safety.Verify) return run.Disconnect();
  TSettings back;
  if (const int status = run.Read(&back); status != exOk) return status;
  if (const int status = run.Disconnect(); status != exOk) return status;
  const std::vector<TDifference> differences = Differences(back, settings);
  if (differences.empty()) return exOk;
  PrintDifferences(differences);
  return Fail(exExchange, "the panel did not keep what was written: " + Names(differences));
}

// diff: the panel against the file, as a write of that file would leave it.
int DiffCommand(TRun& run, const QString& port, const std::string& phone, const QString& in, bool adc) {
  TSettings file;
  if (const auto refused = ReadSettingsForWrite(in, PanelGroups(adc), &file)) return Fail(exUsage, *refused);
  if (const int status = run.Connect(port, phone); status != exOk) return status;
  TSettings panel;
  if (const int status = run.Read(&panel); status != exOk) return status;
  if (const int status = run.Disconnect(); status != exOk) return status;
  const std::vector<TDifference> differences = Differences(panel, file);
  if (differences.empty()) return exOk;
  PrintDifferences(differences);
  return Fail(exDifferent, QString::number(int(differences.size())) + " settings differ from " + in);
}

}  // namespace

bool IsCommandLine(int argc, char* argv[]) {
  // "--port PORT" and "--adc" alone open the window.
  return !ParseWindowArgs(argc, argv).IsWindow;
}

namespace {

int RunCommands(int argc, char* argv[]) {
  // The link's waits are short (1 ms after each character, 10 ms polls), and
  // the kernel's default slack of 50 us on each adds up over a run; the link
  // thread, started from here, inherits the finer slack.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  // No widget and no platform plugin: the command line needs no display.
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("ostrelgsm4");
  QCoreApplication::setApplicationVersion(OSTREL_VERSION);

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

  if (!parser.parse(QCoreApplication::arguments())) return Fail(exUsage, parser.errorText());
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
  if (parser.isSet(phoneOpt) && !HasDigitsToDial(phone))
    return Fail(exUsage, "--phone " + parser.value(phoneOpt) + " holds no digits to dial");

  const bool adc = parser.isSet(adcOpt);
  TRun run(parser.isSet(quietOpt), adc);
  // SIGINT, SIGTERM and SIGHUP stop the operation; the port is closed and
  // its lock released before the program ends with 128 + the signal.
  TShutdownSignals stopSignals([&run](int signal) { run.Interrupt(signal); });
  if (command == "read") return ReadCommand(run, port, phone, file, adc);
  if (command == "diff") return DiffCommand(run, port, phone, file, adc);
  const TWriteSafety safety{parser.value(backupOpt), parser.isSet(verifyOpt)};
  if (parser.isSet(backupOpt) && safety.Backup.isEmpty()) return Fail(exUsage, "--backup needs a file name");
  // The backup would replace the very file about to be written.
  if (SameFile(safety.Backup, file)) return Fail(exUsage, "--backup names the file to write; choose another");
  return WriteCommand(run, port, phone, file, adc, safety);
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
