#include "library/RecordSpool.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSaveFile>
#include <QUuid>

namespace {

QStringList Waiting(const QString& dir) {
  return QDir(dir).entryList({QStringLiteral("*.record")}, QDir::Files, QDir::Name);
}

// A record names its site; a site met for the first time is created.
bool AddToSite(TLibrary& library, const QString& site, TRecord* record) {
  if (!library.FindSite(site)) {
    TSite fresh;
    fresh.Name = site;
    // Another program may have created it meanwhile.
    if (!library.AddSite(fresh) && !library.FindSite(site)) return false;
  }
  return library.AddRecord(site, record);
}

}  // namespace

TRecordSpool::TRecordSpool(QString dir, QString legacyLibrary) : dir_(std::move(dir)), legacy_(std::move(legacyLibrary)) {}

bool TRecordSpool::Put(const QString& library, const QString& site, TRecord record, QString* error) {
  if (record.Uid.isEmpty()) record.Uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
  if (!record.Time.isValid()) record.Time = QDateTime::currentDateTimeUtc();
  // Made at the first record that waits, private, and so is the folder it is
  // in when made for it (the program's folder in the user's data directory).
  const QString parent = QFileInfo(dir_).absolutePath();
  if (!QFileInfo::exists(parent) && QDir().mkpath(parent)) chmod(QFile::encodeName(parent).constData(), 0700);
  if (!QDir().mkpath(dir_) || chmod(QFile::encodeName(dir_).constData(), 0700) != 0) {
    *error = "cannot create the spool " + dir_;
    return false;
  }
  const QJsonObject json{
      {"library", library},
      {"site", site},
      {"uid", record.Uid},
      {"time", record.Time.toUTC().toString(Qt::ISODateWithMs)},
      {"operator", record.Operator},
      {"host", record.Host},
      {"kind", KindName(record.Kind)},
      {"outcome", OutcomeCode(record.Outcome)},
      {"detail", record.Detail},
      {"firmware", record.Firmware},
      {"port", record.Port},
      {"settings", QString::fromUtf8(record.Settings)},
  };
  // The time of spooling in nanoseconds first in the name: Sync stores in
  // the order spooled, also for records of one millisecond.
  const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  const QString name = QStringLiteral("%1/%2-%3.record")
                           .arg(dir_)
                           .arg(qlonglong(now.count()), 20, 10, QLatin1Char('0'))
                           .arg(record.Uid);
  QSaveFile file(name);
  if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) ||
      file.write(QJsonDocument(json).toJson(QJsonDocument::Compact)) < 0 || !file.commit()) {
    *error = "cannot write to the spool " + dir_ + ": " + file.errorString();
    return false;
  }
  return true;
}

int TRecordSpool::Count() const { return int(Waiting(dir_).size()); }

int TRecordSpool::Quarantined() const { return int(Waiting(QuarantineDir()).size()); }

namespace {

// Whether text is a settings file: lines that are blank, comments,
// [sections] or KEY=VALUE, under at least one section.
bool IsSettingsText(const QByteArray& text) {
  bool section = false;
  for (QByteArray line : text.split('\n')) {
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith(';') || line.startsWith('#')) continue;
    if (line.startsWith('[') && line.endsWith(']') && line.size() > 2) {
      section = true;
      continue;
    }
    if (!section || line.indexOf('=') <= 0) return false;
  }
  return section;
}

}  // namespace

std::optional<TSpooled> ParseSpoolFile(const QByteArray& bytes, QString* why) {
  why->clear();
  QJsonParseError parse{};
  const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parse);
  if (!doc.isObject()) {
    *why = QStringLiteral("not a record: ") + (parse.error == QJsonParseError::NoError ? "no JSON object" : parse.errorString());
    return std::nullopt;
  }
  const QJsonObject json = doc.object();
  TSpooled spooled;
  spooled.Site = json["site"].toString();
  spooled.Library = json["library"].toString();
  TRecord& r = spooled.Record;
  r.Uid = json["uid"].toString();
  r.Time = QDateTime::fromString(json["time"].toString(), Qt::ISODateWithMs);
  r.Time.setTimeSpec(Qt::UTC);
  r.Operator = json["operator"].toString();
  r.Host = json["host"].toString();
  const auto kind = KindFromName(json["kind"].toString());
  // A file of an older program holds the outcome's sentence.
  const QString outcome = json["outcome"].toString();
  if (const auto code = OutcomeFromCode(outcome); code && json.contains("detail"))
    std::tie(r.Outcome, r.Detail) = std::pair(*code, json["detail"].toString());
  else
    std::tie(r.Outcome, r.Detail) = OutcomeOfSentence(outcome);
  r.Firmware = json["firmware"].toString();
  r.Port = json["port"].toString();
  r.Settings = json["settings"].toString().toUtf8();
  if (r.Uid.isEmpty()) *why = QStringLiteral("the record has no uid");
  else if (json.contains("library") && (!json["library"].isString() || spooled.Library.isEmpty()))
    *why = QStringLiteral("the library it waits for is not named");
  else if (const auto problem = SiteNameProblem(spooled.Site)) *why = QStringLiteral("the library refuses its site name: ") + *problem;
  else if (!r.Time.isValid()) *why = QStringLiteral("its time is not a time: ") + json["time"].toString().left(40);
  else if (!kind) *why = QStringLiteral("its kind is unknown: ") + json["kind"].toString().left(40);
  else if (!IsSettingsText(r.Settings)) *why = QStringLiteral("its settings are not a settings file");
  if (!why->isEmpty()) return std::nullopt;
  r.Kind = *kind;
  return spooled;
}

namespace {

// Moves a spool file to the quarantine, with NAME.why beside it.
bool SetAside(const QString& from, const QString& quarantine, const QString& name, const QString& why) {
  if (!QDir().mkpath(quarantine) || chmod(QFile::encodeName(quarantine).constData(), 0700) != 0) return false;
  QSaveFile note(quarantine + '/' + name + QStringLiteral(".why"));
  if (!note.open(QIODevice::WriteOnly) || note.write(why.simplified().toUtf8() + '\n') < 0 || !note.commit())
    return false;
  return QFile::rename(from, quarantine + '/' + name);
}

}  // namespace

namespace {

QByteArray ReadSpoolFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.read(16 * 1024 * 1024);
}

}  // namespace

QMap<QString, int> TRecordSpool::Destinations() const {
  QMap<QString, int> destinations;
  for (const QString& name : Waiting(dir_)) {
    QString why;
    const auto spooled = ParseSpoolFile(ReadSpoolFile(dir_ + '/' + name), &why);
    ++destinations[!spooled ? QString() : spooled->Library.isEmpty() ? legacy_ : spooled->Library];
  }
  return destinations;
}

int TRecordSpool::Legacy() const {
  int legacy = 0;
  for (const QString& name : Waiting(dir_)) {
    QString why;
    const auto spooled = ParseSpoolFile(ReadSpoolFile(dir_ + '/' + name), &why);
    legacy += spooled && spooled->Library.isEmpty();
  }
  return legacy;
}

int TRecordSpool::Sync(TLibrary& library, QString* error, const std::function<bool()>& goOn) {
  int stored = 0;
  const QString identity = library.Place().Identity();
  for (const QString& name : Waiting(dir_)) {
    if (goOn && !goOn()) break;
    const QString path = dir_ + '/' + name;
    QString why;
    std::optional<TSpooled> spooled = ParseSpoolFile(ReadSpoolFile(path), &why);
    if (!spooled) {
      // Never stored half, never tried again.
      const bool moved = SetAside(path, QuarantineDir(), name, why);
      if (error->isEmpty())
        *error = moved ? "the spool file " + name + " is set aside in " + QuarantineDir() + ": " + why
                       : "the spool file " + name + " cannot be stored (" + why + ") nor set aside in " + QuarantineDir();
      continue;
    }
    // Earlier versions noted no library: theirs is the legacy one, never
    // whichever library opens next.
    if ((spooled->Library.isEmpty() ? legacy_ : spooled->Library) != identity) continue;
    if (!AddToSite(library, spooled->Site, &spooled->Record)) {
      if (error->isEmpty()) *error = library.Error();
      if (!library.IsOpen()) break;
      continue;
    }
    QFile::remove(path);
    ++stored;
  }
  return stored;
}

namespace {

// Work left behind past its budget, still running.
struct TLeftWork {
  std::mutex Mutex;
  std::condition_variable Ended;
  int Running = 0;
};

TLeftWork& LeftWork() {
  static TLeftWork* left = new TLeftWork;  // never destroyed: work may end after exit's destructors
  return *left;
}

// What the thread of RecordOperations and its caller share.
struct TWork {
  std::mutex Mutex;
  std::condition_variable Ended;
  // Set last, under Mutex; atomic as well, so that what the thread wrote
  // before it is ordered for the caller however the wait ended.
  std::atomic<bool> Finished{false};
  bool LeftBehind = false;  // the caller's time is over: store nothing more
  std::vector<bool> Stored;
  bool Refused = false;     // a site name no library takes
  QString Error;
};

void Work(const std::shared_ptr<TWork>& work, const TLibraryPlace& place, const TRecordSpool& spool,
          const QString& site, std::vector<TRecord> records, std::chrono::steady_clock::time_point deadline) {
  auto goOn = [&work, deadline] {
    const std::lock_guard<std::mutex> lock(work->Mutex);
    return !work->LeftBehind && std::chrono::steady_clock::now() < deadline;
  };
  QString error;
  bool refused = false;
  {
    TLibrary library;
    library.SetDeadline(deadline);
    // A record is stored only while the caller still waits for it: once its
    // time is over, the caller spools it instead.
    library.SetCommitGate([&work] {
      const std::lock_guard<std::mutex> lock(work->Mutex);
      return !work->LeftBehind;
    });
    if (library.Open(place) && !library.ReadOnly()) {
      // What waited for this library goes in first: the history keeps the order.
      TRecordSpool(spool).Sync(library, &error, goOn);
      error.clear();
      for (size_t i = 0; i < records.size(); ++i) {
        if (!goOn()) break;
        if (!AddToSite(library, site, &records[i])) {
          error = library.Error();
          // A name the library refuses would wait in the spool forever.
          refused = SiteNameProblem(site).has_value();
          break;
        }
        const std::lock_guard<std::mutex> lock(work->Mutex);
        work->Stored[i] = true;
      }
    } else {
      error = library.Error();
    }
  }
  const std::lock_guard<std::mutex> lock(work->Mutex);
  work->Error = error;
  work->Refused = refused;
  work->Finished = true;
  work->Ended.notify_all();
}

}  // namespace

TRecorded RecordOperations(const TLibraryPlace& place, const TRecordSpool& spool, const QString& site,
                           std::vector<TRecord> records, std::chrono::milliseconds budget) {
  for (TRecord& r : records) {
    // Made here: the spool and the library know a record by its Uid.
    if (r.Uid.isEmpty()) r.Uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!r.Time.isValid()) r.Time = QDateTime::currentDateTimeUtc();
  }
  const auto deadline = std::chrono::steady_clock::now() + budget;
  auto work = std::make_shared<TWork>();
  work->Stored.assign(records.size(), false);
  {
    const std::lock_guard<std::mutex> lock(LeftWork().Mutex);
    ++LeftWork().Running;
  }
  std::thread thread([work, place, spool, site, records, deadline]() mutable {
    // Nothing thrown leaves the thread.
    try {
      Work(work, place, spool, site, std::move(records), deadline);
    } catch (...) {
      const std::lock_guard<std::mutex> lock(work->Mutex);
      work->Error = QStringLiteral("the library's work failed");
      work->Finished = true;
      work->Ended.notify_all();
    }
    TLeftWork& left = LeftWork();
    const std::lock_guard<std::mutex> lock(left.Mutex);
    --left.Running;
    left.Ended.notify_all();
  });
  TRecorded recorded;
  std::vector<bool> stored;
  QString why;
  bool finished = false;
  {
    std::unique_lock<std::mutex> lock(work->Mutex);
    finished = work->Ended.wait_until(lock, deadline, [&work] { return work->Finished.load(); });
    // From here on the thread stores nothing: what it has not stored is spooled.
    work->LeftBehind = true;
    stored = work->Stored;
    why = work->Error;
    if (work->Refused) recorded.Where = TRecorded::TWhere::NotRecorded;
  }
  if (finished) thread.join();
  else thread.detach();
  const QString identity = place.Identity();
  const QMap<QString, int> destinations = spool.Destinations();
  for (auto it = destinations.cbegin(); it != destinations.cend(); ++it)
    if (it.key() != identity) recorded.ForOthers += it.value();
  if (recorded.Where == TRecorded::TWhere::NotRecorded) {
    recorded.Warning = "the operation was not recorded: " + why;
    return recorded;
  }
  if (!finished) {
    const qint64 ms = budget.count();
    why = (ms % 1000 == 0 ? QStringLiteral("no answer within %1 s").arg(ms / 1000) : QStringLiteral("no answer within %1 ms").arg(ms)) +
          (why.isEmpty() ? QString() : ": " + why);
  }
  for (size_t i = 0; i < records.size(); ++i) {
    if (stored[i]) continue;
    recorded.Where = TRecorded::TWhere::Spooled;
    QString spoolError;
    if (!TRecordSpool(spool).Put(identity, site, records[i], &spoolError)) {
      recorded.Where = TRecorded::TWhere::NotRecorded;
      recorded.Warning = "the operation was not recorded: " + why + "; " + spoolError;
      return recorded;
    }
  }
  if (recorded.Where == TRecorded::TWhere::Spooled)
    recorded.Warning = "the library is not available (" + why + "); the record waits in " + spool.Dir() + " for library sync";
  return recorded;
}

QString RecordOperation(const TLibraryPlace& place, const QString& spoolDir, const QString& site, TRecord record,
                        std::chrono::milliseconds budget) {
  return RecordOperations(place, TRecordSpool(spoolDir), site, {std::move(record)}, budget).Warning;
}

bool LibraryWorkLeft() {
  const std::lock_guard<std::mutex> lock(LeftWork().Mutex);
  return LeftWork().Running > 0;
}

void WaitForLibraryWork() {
  std::unique_lock<std::mutex> lock(LeftWork().Mutex);
  LeftWork().Ended.wait(lock, [] { return LeftWork().Running == 0; });
}
