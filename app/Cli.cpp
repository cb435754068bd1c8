#include "app/Cli.h"

#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QSerialPortInfo>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>

#include "OstrelVersion.h"
#include "app/CliOptions.h"
#include "app/CliOutput.h"
#include "app/WindowArgs.h"
#include "library/Library.h"
#include "library/LibraryFiles.h"
#include "library/LibraryUse.h"
#include "library/RecordSpool.h"
#include "link/xModem.h"
#include "model/AdcStates.h"
#include "ops/PanelSession.h"
#include "ops/ProvisionSteps.h"
#include "ops/Provisioning.h"
#include "persist/IniFile.h"
#include "persist/ProgramDir.h"
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
      // The panel's version as the connection check shows it: a write's
      // record carries it too, though the file written holds none.
      if (e.Kind == okControlText && static_cast<const TControlOut&>(e).Control == Targets::RzStatusPane2) {
        Firmware = static_cast<const TControlOut&>(e).Text;
        return;
      }
      if (e.Kind != okMemo) return;
      // The monitor's traffic is for the debug log; its summaries are shown.
      if (shownOnly_ && !static_cast<const TMemoOut&>(e).ShowInMemo) return;
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

  // With --site: a step cut short by a failure or a signal ends with its
  // outcome (and what a failed read brought).
  std::function<void(TRecordOutcome, const TSettings*)> StepCut;
  // The panel's version, once the connection check has shown it.
  std::string Firmware;

  // Ends the link after a signal: "ostrelgsm4: interrupted", 128 + the signal.
  int Stopped() {
    Cut(TRecordOutcome::Interrupted);
    session_.Disconnect();
    RunBeforeFinalLine();
    PrintLine(QString::fromUtf8("ostrelgsm4: interrupted"));
    return 128 + signal_;
  }

  // exOk, or the status of the final line printed.
  int Connect(const QString& port, const std::string& phone) {
    const TOperationResult r = session_.Connect(ToWire(port), phone);
    if (Interrupted()) return Stopped();
    if (r.Succeeded()) return exOk;
    Cut(TRecordOutcome::NotConnected);
    session_.Disconnect();
    // A lost line or call says so with the link's own line; otherwise the
    // check's own failure (the progress dialog's text).
    QString why = r.Outcome == TOutcome::LinkLost && !r.Command.empty() ? FailureText(r) : FromWire(r.Detail);
    why.remove(QString::fromUtf8(" # !!! "));
    why = why.trimmed();
    if (why.isEmpty()) why = QString::fromUtf8("the panel did not answer");
    return Fail(exConnect, "connection failed: " + why);
  }

  // Reads the whole panel (the ADC channels too with adc) into *settings;
  // its result into *result when given.
  int Read(TSettings* settings, TOperationResult* result = nullptr) {
    TProgressLine::Instance().Start(OperationSize::ReadAllCommands + (adc_ ? 12 : 0));
    const TOperationResult r = ReadPanel(session_, adc_, settings);
    TProgressLine::Instance().Stop();
    if (result) *result = r;
    return Ended(r, false);
  }

  int Write(const TSettings& settings, TOperationResult* result = nullptr) {
    TProgressLine::Instance().Start(OperationSize::WriteAllCommands + (adc_ ? 10 : 0));
    const TOperationResult r = WritePanel(session_, settings, adc_);
    TProgressLine::Instance().Stop();
    if (result) *result = r;
    return Ended(r, true);
  }

  // The ADC page's read: the thresholds the readings are named by.
  int ReadThresholds(TSettings* settings) {
    TProgressLine::Instance().Start(12);
    const TOperationResult r = session_.Run(Modes::ReadPage, Pages::ACP);
    TProgressLine::Instance().Stop();
    *settings = r.Settings;
    return Ended(r, false);
  }

  // The readings, each handed to print, until the time is up, a signal, the
  // link's end, or print returning false (standard output is gone).
  int Monitor(uint8_t channels, int64_t durationMs, const std::function<bool(const TReadingOut&, uint32_t)>& print) {
    const uint32_t start = session_.ClockMs();
    bool outputGone = false;
    shownOnly_ = true;
    const TOperationResult r = session_.Monitor(channels, durationMs, [&](const TReadingOut& reading) {
      if (outputGone || print(reading, start)) return;
      outputGone = true;
      session_.StopMonitor();
    });
    shownOnly_ = false;
    if (Interrupted()) return Stopped();
    if (outputGone) {
      session_.Disconnect();
      return FailOutput();
    }
    if (!r.Succeeded()) {
      session_.Disconnect();
      return Fail(exExchange, QString::fromUtf8("monitoring the ADC channels failed: ") + FailureText(r));
    }
    return Disconnect();
  }

  // Ends the link; a signal that came meanwhile still counts.
  int Disconnect() {
    session_.Disconnect();
    QCoreApplication::processEvents();
    return Interrupted() ? Stopped() : exOk;
  }

 private:
  void Cut(TRecordOutcome outcome, const TSettings* settings = nullptr) {
    if (StepCut) StepCut(outcome, settings);
  }

  int Ended(const TOperationResult& r, bool write) {
    if (Interrupted()) return Stopped();
    if (r.Succeeded()) return exOk;
    Cut(RecordOutcomeOf(r), &r.Settings);
    session_.Disconnect();
    const bool adcPage = r.Mode == Modes::ReadPage || r.Mode == Modes::WritePage;
    const char* what = write ? (adcPage ? "writing the ADC thresholds failed: " : "writing the panel failed: ")
                             : (adcPage ? "reading the ADC channels failed: " : "reading the panel failed: ");
    return Fail(exExchange, QString::fromUtf8(what) + FailureText(r));
  }

  TPanelSession session_;
  bool quiet_;
  bool adc_;
  bool shownOnly_ = false;
  int signal_ = 0;
};

std::optional<TLibraryPlace> FindLibrary(const QString& option, QString* why) { return FindLibraryPlace(option, why); }

// Records waiting for other libraries than the one open are left where they
// are, and said in one line.
void SayOthersWaiting(int others) {
  if (others > 0)
    PrintLine(QStringLiteral("ostrelgsm4: %1 records in the spool wait for other libraries (library sync lists them)")
                  .arg(others));
}

int OthersWaiting(const TRecordSpool& spool, const TLibraryPlace& place) {
  const QString identity = place.Identity();
  int others = 0;
  const QMap<QString, int> destinations = spool.Destinations();
  for (auto it = destinations.cbegin(); it != destinations.cend(); ++it)
    if (it.key() != identity) others += it.value();
  return others;
}

// Stores what waits for the library open, and says how many wait for others.
void SyncOwn(TLibrary& library) {
  TRecordSpool spool = LibrarySpool();
  QString ignored;
  spool.Sync(library, &ignored);
  SayOthersWaiting(OthersWaiting(spool, library.Place()));
}

// The records of one panel command with --site: kept while the panel is
// worked, stored after it (or before the final line), so the panel never
// waits for the library. One warning line at most.
//
// Each step that begins leaves one record whatever its end: the command
// ends it with its outcome, and a step still open at the final line (a
// failed exchange, a connection that failed, a signal) ends with Cut's code,
// else as interrupted.
class TRecorder {
 public:
  TRecorder(TLibraryPlace place, QString site, QString operatorName, QString port)
      : place_(std::move(place)), site_(std::move(site)), operator_(std::move(operatorName)), port_(std::move(port)) {
    SetBeforeFinalLine([this] { Flush(); });
  }

  // The panel's version for records whose settings carry none (a write's).
  std::function<std::string()> Firmware;

  // A step begins (nothing when one of this kind is open already); a write
  // records what it sends whatever its end.
  void Begin(TRecordKind kind, const TSettings& sent = NoSettings()) {
    if (open_ && open_->Kind == kind) return;
    Cut(TRecordOutcome::Interrupted);
    open_ = TOpen{kind, sent};
  }

  // The open step ends: its record is made.
  void End(TRecordOutcome outcome, const TSettings& settings, const QString& detail = QString()) {
    if (!open_) return;
    const TOpen step = *open_;
    open_.reset();
    const TSettings& kept = step.Sent.Groups == TGroups::None() ? settings : step.Sent;
    TRecord r;
    r.Time = QDateTime::currentDateTimeUtc();
    r.Operator = operator_;
    r.Host = QSysInfo::machineHostName();
    r.Kind = step.Kind;
    r.Outcome = outcome;
    r.Detail = detail;
    r.Firmware = FromWire(kept.Version.empty() && Firmware ? Firmware() : kept.Version);
    r.Port = port_;
    r.Settings = RecordSettingsText(kept, port_);
    records_.push_back(std::move(r));
  }

  // The open step, if any, was cut short: outcome says how.
  void Cut(TRecordOutcome outcome, const TSettings& settings = NoSettings()) { End(outcome, settings); }

  // The library gets kLibraryBudget from here: past it the records wait in
  // the spool, and the run ends with the panel's status all the same.
  void Flush() {
    Cut(TRecordOutcome::Interrupted);
    if (records_.empty()) return;
    const TRecorded recorded = RecordOperations(place_, LibrarySpool(), site_, std::move(records_));
    records_.clear();
    if (!recorded.Warning.isEmpty()) PrintLine(QStringLiteral("ostrelgsm4: warning: ") + EscapeControls(recorded.Warning));
    SayOthersWaiting(recorded.ForOthers);
  }

 private:
  static TSettings NoSettings() {
    TSettings none;
    none.Groups = TGroups::None();
    return none;
  }
  struct TOpen {
    TRecordKind Kind;
    TSettings Sent;
  };
  TLibraryPlace place_;
  QString site_, operator_, port_;
  std::optional<TOpen> open_;
  std::vector<TRecord> records_;
};

void Begin(TRecorder* recorder, TRecordKind kind, const TSettings& sent) {
  if (recorder) recorder->Begin(kind, sent);
}
void Begin(TRecorder* recorder, TRecordKind kind) {
  if (recorder) recorder->Begin(kind);
}
void End(TRecorder* recorder, TRecordOutcome outcome, const TSettings& settings, const QString& detail = QString()) {
  if (recorder) recorder->End(outcome, settings, detail);
}

// The differences as lines "[Phones] Phone3: panel '...' file '...'", or
// for scripts as one JSON array of {section, key, name, left, right}, the
// two values under the sides' names.
void PrintDifferences(const std::vector<TDifference>& differences, bool json = false,
                      const QString& left = QStringLiteral("panel"), const QString& right = QStringLiteral("file"),
                      const QString& leftKey = QStringLiteral("panel"), const QString& rightKey = QStringLiteral("file")) {
  if (!json) {
    for (const TDifference& d : differences) PrintOut(EscapeControls(DifferenceLine(d, left, right)).toUtf8() + '\n');
    return;
  }
  QJsonArray array;
  for (const TDifference& d : differences)
    array.append(QJsonObject{{"section", QString::fromStdString(d.Field->Section)},
                             {"key", QString::fromStdString(d.Field->Key)},
                             {"name", QString::fromStdString(d.Field->Display)},
                             {leftKey, QString::fromStdString(d.Left)},
                             {rightKey, QString::fromStdString(d.Right)}});
  PrintOut(ShownJson(QJsonDocument(array)));
}

QString Names(const std::vector<TDifference>& differences) {
  QStringList names;
  for (const TDifference& d : differences) names << FieldName(*d.Field);
  return names.join(", ");
}

// read: a fresh file holding exactly what was read, replacing FILE at once.
int ReadCommand(TRun& run, const QString& port, const std::string& phone, const QString& out, bool adc,
                TRecorder* recorder) {
  Begin(recorder, TRecordKind::Read);
  if (const int status = run.Connect(port, phone); status != exOk) return status;
  TSettings settings;
  if (const int read = run.Read(&settings); read != exOk) return read;
  if (const int status = run.Disconnect(); status != exOk) return status;
  QString why;
  if (!SaveSettingsFile(out, settings, {port, false}, true, &why)) {
    End(recorder, TRecordOutcome::NotSaved, settings, why);
    return Fail(exUsage, why);
  }
  End(recorder, TRecordOutcome::Success, settings);
  (void)adc;
  return exOk;
}

// What write does besides writing: a backup file first, a check after.
struct TWriteSafety {
  QString Backup;
  bool Verify = false;
};

int WriteCommand(TRun& run, const QString& port, const std::string& phone, const QString& in, bool adc,
                 const TWriteSafety& safety, TRecorder* recorder) {
  // The file is read once, strictly, before the port is opened: what is
  // written is what was checked, whatever a backup does to the file.
  TSettings settings;
  if (const auto refused = ReadSettingsForWrite(in, PanelGroups(adc), &settings)) return Fail(exUsage, *refused);
  TProvisionSteps steps = TProvisionSteps::ForWrite(!safety.Backup.isEmpty(), safety.Verify);
  if (steps.Backup()) Begin(recorder, TRecordKind::Backup);
  else Begin(recorder, TRecordKind::Write, settings);
  if (const int status = run.Connect(port, phone); status != exOk) return status;
  TSettings back;  // the panel as the check read it
  QString why;     // why the backup was not saved
  while (!steps.Ended()) {
    TOperationResult result;
    int status = exOk;
    switch (steps.Step()) {
      case TProvisionStep::BackupRead: {
        Begin(recorder, TRecordKind::Backup);
        TSettings panel;
        status = run.Read(&panel, &result);
        const bool saved = status == exOk && SaveSettingsFile(safety.Backup, panel, {port, false}, true, &why);
        if (status == exOk) End(recorder, saved ? TRecordOutcome::Success : TRecordOutcome::NotSaved, panel, why);
        steps.BackupRead(result, saved);
        break;
      }
      case TProvisionStep::Write:
        Begin(recorder, TRecordKind::Write, settings);
        steps.Writing(settings);
        status = run.Write(settings, &result);
        if (status == exOk) End(recorder, TRecordOutcome::Success, settings);
        steps.Written(result);
        break;
      case TProvisionStep::VerifyRead:
        Begin(recorder, TRecordKind::Verify);
        status = run.Read(&back, &result);
        if (status == exOk) status = run.Disconnect();
        steps.VerifyRead(result, back);
        break;
      default:
        steps.Abandon();
        break;
    }
    // A failed step or a signal: the run has printed the final line.
    if (status != exOk) return status;
  }
  switch (steps.End()) {
    case TProvisionEnd::BackupNotSaved:
      run.Disconnect();
      return Fail(exUsage, "the backup was not saved, nothing written: " + why);
    case TProvisionEnd::Done:
      if (!steps.Verify()) return run.Disconnect();
      End(recorder, TRecordOutcome::Success, back);
      return exOk;
    case TProvisionEnd::VerifyDiffers:
      End(recorder, TRecordOutcome::NotKept, back, Names(steps.Found()));
      PrintDifferences(steps.Found());
      return Fail(exExchange, "the panel did not keep what was written: " + Names(steps.Found()));
    default:
      // A failed step ends with a failed status above.
      run.Disconnect();
      return Fail(exExchange, QStringLiteral("the steps ended unexpectedly"));
  }
}

// diff: the panel against the file, as a write of that file would leave it.
int DiffCommand(TRun& run, const QString& port, const std::string& phone, const QString& in, bool adc,
                TRecorder* recorder, bool json) {
  TSettings file;
  if (const auto refused = ReadSettingsForWrite(in, PanelGroups(adc), &file)) return Fail(exUsage, *refused);
  Begin(recorder, TRecordKind::Compare);
  if (const int status = run.Connect(port, phone); status != exOk) return status;
  TProvisionSteps steps = TProvisionSteps::ForCompare();
  TSettings panel;
  TOperationResult result;
  if (const int read = run.Read(&panel, &result); read != exOk) return read;
  if (const int status = run.Disconnect(); status != exOk) return status;
  steps.CompareRead(result, panel, file);
  const bool same = steps.End() == TProvisionEnd::Same;
  const std::vector<TDifference>& differences = steps.Found();
  if (same) End(recorder, TRecordOutcome::Same, panel, in);
  else
    End(recorder, TRecordOutcome::Different, panel,
        QStringLiteral("%1 settings differ from %2").arg(int(differences.size())).arg(in));
  if (json) PrintDifferences(differences, true);
  if (same) return exOk;
  if (!json) PrintDifferences(differences);
  return Fail(exDifferent, QString::number(int(differences.size())) + " settings differ from " + in);
}

// How monitor prints its lines.
enum class TMonitorFormat { Plain, Csv, Json };

// One reading as a line: seconds since the start, channel 1 or 2, the value
// and the state it stands for ("-" below every threshold); a failed reading
// has no value and the state "failed".
QByteArray ReadingLine(const TReadingOut& r, uint32_t startMs, const TSettings& thresholds, TMonitorFormat format) {
  const double seconds = static_cast<int32_t>(r.TimeMs - startMs) / 1000.0;
  const int channel = r.Channel + 1;
  std::optional<int> state;
  if (r.Value) state = AdcStates::StateOf(*r.Value, thresholds.Threshold[r.Channel]);
  const QString name = state ? QString::fromUtf8(AdcStates::Name(*state)) : QString();
  if (format == TMonitorFormat::Json) {
    QJsonObject line{{"time", std::round(seconds * 1000) / 1000}, {"channel", channel}};
    line.insert("value", r.Value ? QJsonValue(*r.Value) : QJsonValue());
    line.insert("state", state ? QJsonValue(name) : QJsonValue());
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
  }
  const QString time = QString::number(seconds, 'f', 3);
  if (format == TMonitorFormat::Csv)
    return QStringLiteral("%1,%2,%3,%4\n")
        .arg(time)
        .arg(channel)
        .arg(r.Value ? QString::number(*r.Value) : QString(), r.Value ? name : QStringLiteral("failed"))
        .toUtf8();
  return QStringLiteral("%1 %2 %3 %4\n")
      .arg(time)
      .arg(channel)
      .arg(r.Value ? QString::number(*r.Value) : QStringLiteral("-"),
           r.Value ? (state ? name : QStringLiteral("-")) : QStringLiteral("failed"))
      .toUtf8();
}

// monitor: the thresholds once, then a line per reading.
int MonitorCommand(TRun& run, const QString& port, const std::string& phone, uint8_t channels, int64_t durationMs,
                   TMonitorFormat format, bool quiet) {
  if (const int status = run.Connect(port, phone); status != exOk) return status;
  TSettings thresholds;
  if (const int status = run.ReadThresholds(&thresholds); status != exOk) return status;
  for (int c = 0; c < TSettings::kChannels; ++c) {
    if (quiet || (channels & (1u << c)) == 0) continue;
    QStringList bands;
    for (int k = 0; k < TSettings::kThresholds; ++k)
      bands << QString::fromUtf8(AdcStates::Name(k)) + u' ' + QString::number(thresholds.Threshold[c][k]);
    PrintLine(QStringLiteral("channel %1 thresholds: ").arg(c + 1) + bands.join(QStringLiteral(", ")));
  }
  if (format == TMonitorFormat::Csv) PrintOut("time,channel,value,state\n");
  return run.Monitor(channels, durationMs, [&](const TReadingOut& reading, uint32_t start) {
    PrintOut(ReadingLine(reading, start, thresholds, format));
    return !OutputFailed();
  });
}

// sites, history, show, library: the library alone, no panel.
// The settings a record holds, as the window's compare reads them.
std::optional<TSettings> SettingsOfRecord(const TRecord& record, QString* why) {
  TSettings settings = RecordSettings(record.Settings);
  if (settings.Groups == TGroups::None()) {
    *why = QStringLiteral("record %1 holds no settings").arg(record.Number);
    return std::nullopt;
  }
  return settings;
}

std::optional<int> RecordNumber(const QString& text) {
  bool ok = false;
  const int number = text.toInt(&ok);
  if (!ok || number < 1) return std::nullopt;
  return number;
}

// history SITE --diff N M: the settings that differ between two records.
int HistoryDiff(TLibrary& library, const QString& site, const QString& first, const QString& second, bool json) {
  const auto n = RecordNumber(first), m = RecordNumber(second);
  if (!n || !m) return Fail(exUsage, "--diff " + first + ' ' + second + ": expected two record numbers");
  const auto a = library.Record(site, *n);
  if (!a) return Fail(exUsage, library.Error());
  const auto b = library.Record(site, *m);
  if (!b) return Fail(exUsage, library.Error());
  QString why;
  const auto left = SettingsOfRecord(*a, &why);
  const auto right = left ? SettingsOfRecord(*b, &why) : std::nullopt;
  if (!right) return Fail(exLibrary, why);
  const std::vector<TDifference> differences = Differences(*left, *right);
  PrintDifferences(differences, json, QStringLiteral("record %1").arg(*n), QStringLiteral("record %1").arg(*m),
                   QStringLiteral("from"), QStringLiteral("to"));
  if (differences.empty()) return exOk;
  return Fail(exDifferent, QStringLiteral("%1 settings differ between records %2 and %3 of %4")
                               .arg(int(differences.size()))
                               .arg(*n)
                               .arg(*m)
                               .arg(site));
}

int LibraryCommand(const QString& command, const QStringList& args, const QString& libraryOption, bool json,
                   const QString& recordOption, const std::optional<QString>& diffOption) {
  QString why;
  const auto place = FindLibrary(libraryOption, &why);
  if (!place) return Fail(exUsage, why);
  // Reading commands: a library that is not there is not made.
  TLibrary library;
  if (!library.Open(*place, TLibraryCreate::Never)) return Fail(exLibrary, library.Error());
  if (library.ReadOnly()) PrintLine(QStringLiteral("ostrelgsm4: warning: ") + library.Error());
  // Records that waited for this library are stored at every opening.
  if (!library.ReadOnly()) SyncOwn(library);
  if (command == "sites") {
    const std::vector<TSite> sites = library.Search(args.value(0), 1000000);
    if (!library.Error().isEmpty() && sites.empty() && !library.ReadOnly()) return Fail(exLibrary, library.Error());
    QJsonArray array;
    for (const TSite& site : sites) {
      if (json) {
        array.append(QJsonObject{{"name", site.Name}, {"address", site.Address}, {"notes", site.Notes},
                                 {"data_number", site.DataNumber},
                                 {"created", site.Created.toString(Qt::ISODateWithMs)},
                                 {"changed", site.Changed.toString(Qt::ISODateWithMs)}});
      } else {
        PrintOut((EscapeControls(site.Name) + u'\t' + EscapeControls(site.Address)).toUtf8() + '\n');
      }
    }
    if (json) PrintOut(ShownJson(QJsonDocument(array)));
    return exOk;
  }
  const QString site = args.value(0);
  if (!library.FindSite(site)) return Fail(exUsage, "no site named " + site + " in " + place->Display());
  if (command == "history" && diffOption) return HistoryDiff(library, site, *diffOption, args.value(1), json);
  if (command == "history") {
    QJsonArray array;
    for (const TRecord& r : library.History(site)) {
      if (json) {
        array.append(QJsonObject{{"record", r.Number}, {"time", r.Time.toString(Qt::ISODateWithMs)},
                                 {"operator", r.Operator}, {"host", r.Host}, {"kind", KindName(r.Kind)},
                                 {"outcome", OutcomeCode(r.Outcome)}, {"detail", r.Detail},
                                 {"firmware", r.Firmware}, {"port", r.Port}});
      } else {
        // Stored in UTC, shown in local time.
        QStringList fields{QString::number(r.Number), r.Time.toLocalTime().toString("yyyy-MM-dd HH:mm:ss"),
                           r.Operator, KindName(r.Kind), OutcomeCode(r.Outcome), r.Firmware, r.Port, r.Detail};
        for (QString& field : fields) field = EscapeControls(field);
        PrintOut(fields.join(u'\t').toUtf8() + '\n');
      }
    }
    if (json) PrintOut(ShownJson(QJsonDocument(array)));
    return exOk;
  }
  // show
  int number = 0;
  if (!recordOption.isEmpty()) {
    bool ok = false;
    number = recordOption.toInt(&ok);
    if (!ok || number < 1) return Fail(exUsage, "--record " + recordOption + " is not a record number");
  } else {
    const std::vector<TRecord> history = library.History(site);
    if (history.empty()) return Fail(exUsage, site + " has no records yet");
    number = history.back().Number;
  }
  const auto record = library.Record(site, number);
  if (!record) return Fail(exUsage, library.Error());
  PrintOut(ShownLines(FromWire(CanonicalRecordText(record->Settings).toStdString())).toUtf8());
  return exOk;
}

// What site add and site edit set; an option not given leaves its field.
struct TSiteFields {
  std::optional<QString> Rename, Address, Notes, Number;
};

// site add|edit|archive NAME.
int SiteCommand(const QString& action, const QString& name, const TSiteFields& fields, const QString& libraryOption) {
  // The table keeps --rename to edit, and --address, --notes and --number to add and edit.
  if (action == "edit" && !fields.Rename && !fields.Address && !fields.Notes && !fields.Number)
    return Fail(exUsage, "site edit: nothing to change (--rename, --address, --notes, --number)");
  if (action == "add") {
    if (const auto problem = SiteNameProblem(name)) return Fail(exUsage, *problem);
  }
  if (fields.Rename) {
    if (const auto problem = SiteNameProblem(*fields.Rename)) return Fail(exUsage, "--rename: " + *problem);
  }
  QString why;
  const auto place = FindLibrary(libraryOption, &why);
  if (!place) return Fail(exUsage, why);
  // Only a site added makes a library; one to edit or archive must be there.
  TLibrary library;
  if (!library.Open(*place, action == "add" ? TLibraryCreate::IfMissing : TLibraryCreate::Never))
    return Fail(exLibrary, library.Error());
  if (library.ReadOnly()) return Fail(exLibrary, library.Error());
  // Records that waited for this library are stored at every opening.
  SyncOwn(library);
  const auto existing = library.FindSite(name);
  if (!existing && !library.Error().isEmpty()) return Fail(exLibrary, library.Error());
  if (action == "add") {
    if (existing) return Fail(exUsage, "a site named " + name + " exists already in " + place->Display());
    TSite site;
    site.Name = name;
    site.Address = fields.Address.value_or(QString());
    site.Notes = fields.Notes.value_or(QString());
    site.DataNumber = fields.Number.value_or(QString());
    if (!library.AddSite(site)) return Fail(exLibrary, library.Error());
    PrintOut((EscapeControls(name) + QStringLiteral(": added\n")).toUtf8());
    return exOk;
  }
  if (!existing) return Fail(exUsage, "no site named " + name + " in " + place->Display());
  if (action == "archive") {
    if (!library.ArchiveSite(name)) return Fail(exLibrary, library.Error());
    PrintOut((EscapeControls(name) + QStringLiteral(": archived\n")).toUtf8());
    return exOk;
  }
  TSite site = *existing;
  if (fields.Rename) site.Name = *fields.Rename;
  if (fields.Address) site.Address = *fields.Address;
  if (fields.Notes) site.Notes = *fields.Notes;
  if (fields.Number) site.DataNumber = *fields.Number;
  if (site.Name != name && library.FindSite(site.Name))
    return Fail(exUsage, "a site named " + site.Name + " exists already in " + place->Display());
  if (!library.UpdateSite(name, site)) return Fail(exLibrary, library.Error());
  PrintOut((EscapeControls(site.Name) + QStringLiteral(": changed\n")).toUtf8());
  return exOk;
}

int ImportDir(TLibrary& library, const QString& dirName) {
  if (!QDir(dirName).exists()) return Fail(exUsage, "no directory " + dirName);
  TFilesDone done;
  QString why;
  const bool ok = ImportSites(library, dirName, &done, &why);
  for (const QString& refused : done.Refused) PrintLine(QStringLiteral("ostrelgsm4: not imported: ") + EscapeControls(refused));
  QString counts = QStringLiteral("%1 files imported, %2 unchanged, %3 refused").arg(done.Files).arg(done.Unchanged).arg(done.Refused.size());
  if (done.Sites > 0) counts += QStringLiteral(", %1 sites without records added").arg(done.Sites);
  PrintOut(counts.toUtf8() + '\n');
  if (!ok) return Fail(exLibrary, why);
  if (!done.Refused.isEmpty()) return Fail(exUsage, QStringLiteral("%1 files were not imported").arg(done.Refused.size()));
  return exOk;
}

int ExportDir(TLibrary& library, const QString& dirName) {
  if (!MakePrivateDir(dirName)) return Fail(exUsage, "cannot create the directory " + dirName);
  TFilesDone done;
  QString why;
  const bool ok = ExportSites(library, dirName, &done, &why);
  for (const QString& refused : done.Refused) PrintLine(QStringLiteral("ostrelgsm4: not exported: ") + EscapeControls(refused));
  PrintOut(QStringLiteral("%1 sites exported\n").arg(done.Files).toUtf8());
  if (!ok) return Fail(exLibrary, why);
  if (!done.Refused.isEmpty()) return Fail(exUsage, QStringLiteral("%1 sites were not exported").arg(done.Refused.size()));
  return exOk;
}

// Records spooled by earlier versions, which noted no library: said where
// they wait.
void SayLegacy(const TRecordSpool& spool) {
  if (const int legacy = spool.Legacy(); legacy > 0)
    PrintLine(QStringLiteral("ostrelgsm4: %1 records in the spool were kept by an earlier version, which noted no "
                             "library: they wait for the default library %2")
                  .arg(legacy)
                  .arg(EscapeControls(spool.LegacyLibrary())));
}

int LibraryMaintenance(const QString& action, const QString& dir, const QString& libraryOption) {
  QString why;
  const auto place = FindLibrary(libraryOption, &why);
  if (!place) return Fail(exUsage, why);
  // check and export only read: a library that is not there is not made.
  const bool reading = action == "check" || action == "export";
  TLibrary library;
  if (!library.Open(*place, reading ? TLibraryCreate::Never : TLibraryCreate::IfMissing))
    return Fail(exLibrary, library.Error());
  if (action == "export") return ExportDir(library, dir);
  if (action == "import") {
    if (library.ReadOnly()) return Fail(exLibrary, library.Error());
    return ImportDir(library, dir);
  }
  if (action == "check") {
    const auto problems = library.Check();
    if (!problems) return Fail(exLibrary, library.Error());
    for (const QString& problem : *problems) PrintOut(EscapeControls(problem).toUtf8() + '\n');
    const TRecordSpool spool = LibrarySpool();
    const QMap<QString, int> destinations = spool.Destinations();
    const int waiting = destinations.value(place->Identity());
    if (waiting > 0) PrintLine(QStringLiteral("ostrelgsm4: %1 records wait in the spool for library sync").arg(waiting));
    SayOthersWaiting(OthersWaiting(spool, *place));
    SayLegacy(spool);
    // Records no library will take wait for a person: the check fails until
    // they are dealt with.
    const int quarantined = spool.Quarantined();
    if (quarantined > 0)
      PrintOut(QStringLiteral("records set aside in %1 (each with a .why line): %2\n")
                   .arg(EscapeControls(spool.QuarantineDir()))
                   .arg(quarantined)
                   .toUtf8());
    if (!problems->isEmpty() || quarantined > 0)
      return Fail(exLibrary, QStringLiteral("%1 problems in %2").arg(problems->size() + (quarantined > 0)).arg(place->Display()));
    PrintOut(QStringLiteral("%1: no problems\n").arg(EscapeControls(place->Display())).toUtf8());
    return exOk;
  }
  if (library.ReadOnly()) return Fail(exLibrary, library.Error());
  TRecordSpool spool = LibrarySpool();
  QString error;
  const int stored = spool.Sync(library, &error);
  const int quarantined = spool.Quarantined();
  const QString identity = place->Identity();
  const QMap<QString, int> destinations = spool.Destinations();
  const int waiting = destinations.value(identity);
  QString counts = QStringLiteral("%1 records stored, %2 waiting").arg(stored).arg(waiting);
  if (quarantined > 0) counts += QStringLiteral(", %1 set aside in %2").arg(quarantined).arg(spool.QuarantineDir());
  PrintOut(EscapeControls(counts).toUtf8() + '\n');
  // The rest, by the library each waits for: DESTINATION<tab>COUNT, the
  // destination a place --library takes.
  for (auto it = destinations.cbegin(); it != destinations.cend(); ++it)
    if (it.key() != identity && !it.key().isEmpty())
      PrintOut((EscapeControls(it.key()) + u'\t' + QString::number(it.value())).toUtf8() + '\n');
  SayLegacy(spool);
  if (waiting > 0) return Fail(exLibrary, error.isEmpty() ? QStringLiteral("records still wait") : error);
  if (quarantined > 0)
    return Fail(exLibrary, QStringLiteral("%1 records no library takes are set aside; the reason is beside each in NAME.why")
                               .arg(quarantined));
  return exOk;
}

}  // namespace

bool IsCommandLine(int argc, char* argv[]) {
  // "--port PORT" and "--adc" alone open the window.
  return !ParseWindowArgs(argc, argv).IsWindow;
}

namespace {

// A panel command's end: the records of a success are stored now (a failure
// stored them before its final line).
int Finish(int status) {
  RunBeforeFinalLine();
  return status;
}

// monitor's options checked, then its run, stopped by a signal.
int MonitorOptions(const QCommandLineParser& parser, const QString& port) {
  uint8_t channels = TDevOstrel::kBothChannels;
  if (parser.isSet(QStringLiteral("channel"))) {
    const QString channel = parser.value(QStringLiteral("channel"));
    if (channel != "1" && channel != "2") return Fail(exUsage, "--channel " + channel + ": expected 1 or 2");
    channels = channel == "1" ? 1 : 2;
  }
  int64_t durationMs = -1;
  if (parser.isSet(QStringLiteral("duration"))) {
    bool ok = false;
    const QString text = parser.value(QStringLiteral("duration"));
    const double seconds = text.toDouble(&ok);
    // Up to a year.
    if (!ok || !(seconds > 0) || seconds > 366.0 * 24 * 3600)
      return Fail(exUsage, "--duration " + text + ": expected a number of seconds above 0");
    durationMs = static_cast<int64_t>(std::llround(seconds * 1000));
  }
  const bool csv = parser.isSet(QStringLiteral("csv")), json = parser.isSet(QStringLiteral("json"));
  if (csv && json) return Fail(exUsage, "--csv and --json: choose one");
  const QString phoneText = parser.value(QStringLiteral("phone"));
  const std::string phone = ToWire(phoneText);
  if (parser.isSet(QStringLiteral("phone")) && !HasDigitsToDial(phone))
    return Fail(exUsage, "--phone " + phoneText + " holds no digits to dial");
  const bool quiet = parser.isSet(QStringLiteral("quiet"));
  TRun run(quiet, true);
  TShutdownSignals stopSignals([&run](int signal) { run.Interrupt(signal); });
  return Finish(MonitorCommand(run, port, phone, channels, durationMs,
                               csv ? TMonitorFormat::Csv : json ? TMonitorFormat::Json : TMonitorFormat::Plain, quiet));
}

int RunCommands() {

  TCliParse parse;
  if (const auto usage = ParseCliArguments(QCoreApplication::arguments(), &parse)) return Fail(exUsage, *usage);
  QCommandLineParser& parser = parse.Parser;
  if (parse.Help) {
    PrintOut(parser.helpText().toUtf8());
    return exOk;
  }
  if (parse.Version) {
    PrintOut("ostrelgsm4 " OSTREL_VERSION "\n");
    return exOk;
  }
  const QString command = QString::fromLatin1(parse.Command->Name);
  const QStringList& args = parse.Args;
  if (command == "ports") return ListPorts();
  const QString libraryOption = parser.value(QStringLiteral("library"));
  if (parser.isSet(QStringLiteral("library")) && libraryOption.isEmpty()) return Fail(exUsage, "--library needs a place");
  if (command == "library") return LibraryMaintenance(args.first(), args.value(1), libraryOption);
  if (command == "site") {
    auto given = [&parser](const char* name) {
      const QString option = QString::fromLatin1(name);
      return parser.isSet(option) ? std::optional(parser.value(option)) : std::nullopt;
    };
    return SiteCommand(args.first(), args.value(1), {given("rename"), given("address"), given("notes"), given("number")},
                       libraryOption);
  }
  if (command == "sites" || command == "history" || command == "show")
    return LibraryCommand(command, args, libraryOption, parser.isSet(QStringLiteral("json")),
                          parser.value(QStringLiteral("record")),
                          parser.isSet(QStringLiteral("diff")) ? std::optional(parser.value(QStringLiteral("diff")))
                                                               : std::nullopt);
  const QCommandLineOption portOpt("port"), outOpt("out"), inOpt("in"), backupOpt("backup"), verifyOpt("verify"),
      adcOpt("adc"), phoneOpt("phone"), quietOpt("quiet");

  const QString port = parser.value(portOpt);
  const QString file = parser.value(command == "read" ? outOpt : inOpt);
  if (port.isEmpty()) return Fail(exUsage, "--port is required");
  if (command == "monitor") return MonitorOptions(parser, port);
  if (file.isEmpty()) return Fail(exUsage, command == "read" ? "--out is required" : "--in is required");
  const std::string phone = ToWire(parser.value(phoneOpt));
  // A number with nothing a modem dials would quietly become a direct link.
  if (parser.isSet(phoneOpt) && !HasDigitsToDial(phone))
    return Fail(exUsage, "--phone " + parser.value(phoneOpt) + " holds no digits to dial");

  const bool adc = parser.isSet(adcOpt);
  // --site: the library is found (and the name checked) before the panel is
  // touched; it is opened only after the panel's work.
  std::optional<TRecorder> recorder;
  if (parser.isSet(QStringLiteral("site"))) {
    const QString site = parser.value(QStringLiteral("site"));
    if (const auto problem = SiteNameProblem(site)) return Fail(exUsage, "--site: " + *problem);
    QString why;
    const auto place = FindLibrary(libraryOption, &why);
    if (!place) return Fail(exUsage, why);
    const QString operatorName =
        parser.isSet(QStringLiteral("operator")) ? parser.value(QStringLiteral("operator")) : SystemUser();
    recorder.emplace(*place, site, operatorName,
                     parser.isSet(phoneOpt) ? parser.value(phoneOpt) : port);
  } else if (parser.isSet(QStringLiteral("operator")) || parser.isSet(QStringLiteral("library"))) {
    return Fail(exUsage, "--operator and --library record only with --site");
  }
  TRecorder* rec = recorder ? &*recorder : nullptr;
  TRun run(parser.isSet(quietOpt), adc);
  if (rec) {
    rec->Firmware = [&run] { return run.Firmware; };
    run.StepCut = [rec](TRecordOutcome outcome, const TSettings* settings) {
      if (settings) rec->Cut(outcome, *settings);
      else rec->Cut(outcome);
    };
  }
  // SIGINT, SIGTERM and SIGHUP stop the operation; the port is closed and
  // its lock released before the program ends with 128 + the signal.
  TShutdownSignals stopSignals([&run](int signal) { run.Interrupt(signal); });
  if (command == "read") return Finish(ReadCommand(run, port, phone, file, adc, rec));
  if (command == "diff")
    return Finish(DiffCommand(run, port, phone, file, adc, rec, parser.isSet(QStringLiteral("json"))));
  const TWriteSafety safety{parser.value(backupOpt), parser.isSet(verifyOpt)};
  if (parser.isSet(backupOpt) && safety.Backup.isEmpty()) return Fail(exUsage, "--backup needs a file name");
  // The backup would replace the very file about to be written.
  if (SameFile(safety.Backup, file)) return Fail(exUsage, "--backup names the file to write; choose another");
  return Finish(WriteCommand(run, port, phone, file, adc, safety, rec));
}

}  // namespace

int RunCommandLine(int argc, char* argv[]) {
  // A reader that ends early (diff ... | head -1) closes standard output:
  // the write fails with EPIPE and the run ends with its own final line,
  // instead of the signal killing it with the port still locked.
  std::signal(SIGPIPE, SIG_IGN);
  // The link's waits are short (1 ms after each character, 10 ms polls), and
  // the kernel's default slack of 50 us on each adds up over a run; the link
  // thread, started from here, inherits the finer slack.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  // No widget and no platform plugin: the command line needs no display.
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("ostrelgsm4");
  QCoreApplication::setApplicationVersion(OSTREL_VERSION);
  int status = RunCommands();
  if (status != exOutputClosed && OutputFailed()) status = FailOutput();
  // The library's work left behind past its time may still run: the run
  // ends here, without the destructors that work still uses. A transaction
  // it has open is rolled back by SQLite or the server.
  if (LibraryWorkLeft()) {
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
  }
  return status;
}
