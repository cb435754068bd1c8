#include "library/RecordSpool.h"

#include <sys/stat.h>

#include <chrono>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
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
      {"outcome", record.Outcome},
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

int TRecordSpool::Sync(TLibrary& library, QString* error) {
  int stored = 0;
  for (const QString& name : Waiting(dir_)) {
    QFile file(dir_ + '/' + name);
    if (!file.open(QIODevice::ReadOnly)) continue;
    const QJsonObject json = QJsonDocument::fromJson(file.read(16 * 1024 * 1024)).object();
    file.close();
    TRecord r;
    r.Uid = json["uid"].toString();
    r.Time = QDateTime::fromString(json["time"].toString(), Qt::ISODateWithMs);
    r.Time.setTimeSpec(Qt::UTC);
    r.Operator = json["operator"].toString();
    r.Host = json["host"].toString();
    r.Kind = KindFromName(json["kind"].toString()).value_or(TRecordKind::Read);
    r.Outcome = json["outcome"].toString();
    r.Firmware = json["firmware"].toString();
    r.Port = json["port"].toString();
    r.Settings = json["settings"].toString().toUtf8();
    if (r.Uid.isEmpty() || r.Settings.isEmpty()) {
      // Not one of ours, or cut short: set aside, never stored half.
      QFile::rename(file.fileName(), file.fileName() + ".bad");
      if (error->isEmpty()) *error = "the spool file " + name + " is damaged; set aside as " + name + ".bad";
      continue;
    }
    if (!AddToSite(library, json["site"].toString(), &r)) {
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
