#include "library/RecordSpool.h"

#include <sys/stat.h>

#include <chrono>
#include <optional>
#include <tuple>

#include <QDir>
#include <QFile>
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

TRecordSpool::TRecordSpool(QString dir) : dir_(std::move(dir)) {}

bool TRecordSpool::Put(const QString& site, TRecord record, QString* error) {
  if (record.Uid.isEmpty()) record.Uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
  if (!record.Time.isValid()) record.Time = QDateTime::currentDateTimeUtc();
  if (!QDir().mkpath(dir_) || chmod(QFile::encodeName(dir_).constData(), 0700) != 0) {
    *error = "cannot create the spool " + dir_;
    return false;
  }
  const QJsonObject json{
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

// The record a spool file holds, or why no library will ever take it.
std::optional<TRecord> ReadSpooled(const QByteArray& bytes, QString* site, QString* why) {
  QJsonParseError parse{};
  const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parse);
  if (!doc.isObject()) {
    *why = QStringLiteral("not a record: ") + (parse.error == QJsonParseError::NoError ? "no JSON object" : parse.errorString());
    return std::nullopt;
  }
  const QJsonObject json = doc.object();
  TRecord r;
  *site = json["site"].toString();
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
  else if (const auto problem = SiteNameProblem(*site)) *why = QStringLiteral("the library refuses its site name: ") + *problem;
  else if (!r.Time.isValid()) *why = QStringLiteral("its time is not a time: ") + json["time"].toString().left(40);
  else if (!kind) *why = QStringLiteral("its kind is unknown: ") + json["kind"].toString().left(40);
  else if (!IsSettingsText(r.Settings)) *why = QStringLiteral("its settings are not a settings file");
  if (!why->isEmpty()) return std::nullopt;
  r.Kind = *kind;
  return r;
}

// Moves a spool file to the quarantine, with NAME.why beside it.
bool SetAside(const QString& from, const QString& quarantine, const QString& name, const QString& why) {
  if (!QDir().mkpath(quarantine) || chmod(QFile::encodeName(quarantine).constData(), 0700) != 0) return false;
  QSaveFile note(quarantine + '/' + name + QStringLiteral(".why"));
  if (!note.open(QIODevice::WriteOnly) || note.write(why.simplified().toUtf8() + '\n') < 0 || !note.commit())
    return false;
  return QFile::rename(from, quarantine + '/' + name);
}

}  // namespace

int TRecordSpool::Sync(TLibrary& library, QString* error) {
  int stored = 0;
  for (const QString& name : Waiting(dir_)) {
    QFile file(dir_ + '/' + name);
    if (!file.open(QIODevice::ReadOnly)) continue;
    const QByteArray bytes = file.read(16 * 1024 * 1024);
    file.close();
    QString site, why;
    std::optional<TRecord> r = ReadSpooled(bytes, &site, &why);
    if (!r) {
      // Never stored half, never tried again.
      const bool moved = SetAside(file.fileName(), QuarantineDir(), name, why);
      if (error->isEmpty())
        *error = moved ? "the spool file " + name + " is set aside in " + QuarantineDir() + ": " + why
                       : "the spool file " + name + " cannot be stored (" + why + ") nor set aside in " + QuarantineDir();
      continue;
    }
    if (!AddToSite(library, site, &*r)) {
      if (error->isEmpty()) *error = library.Error();
      if (!library.IsOpen()) break;
      continue;
    }
    QFile::remove(file.fileName());
    ++stored;
  }
  return stored;
}

QString RecordOperation(const TLibraryPlace& place, const QString& spoolDir, const QString& site, TRecord record) {
  TRecordSpool spool(spoolDir);
  TLibrary library;
  QString why;
  if (library.Open(place) && !library.ReadOnly()) {
    QString ignored;
    spool.Sync(library, &ignored);
    if (AddToSite(library, site, &record)) return {};
    // A name the library refuses would wait in the spool forever.
    if (const auto problem = SiteNameProblem(site)) return "the operation was not recorded: " + *problem;
    why = library.Error();
  } else {
    why = library.Error();
  }
  QString spoolError;
  if (!spool.Put(site, record, &spoolError)) return "the operation was not recorded: " + why + "; " + spoolError;
  return "the library is not available (" + why + "); the record waits in " + spoolDir + " for library sync";
}
