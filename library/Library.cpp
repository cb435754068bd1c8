#include "library/Library.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <QVariant>

namespace {

const char* const kKinds[] = {"read", "write", "verify", "backup", "compare"};

QString Now() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs); }
QDateTime Time(const QVariant& v) {
  QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
  t.setTimeSpec(Qt::UTC);
  return t;
}

// The terms search finds a site by besides its own fields: the phone numbers
// and keys its latest record holds (the [Phones] and [Keys] lines).
QStringList SearchTerms(const QByteArray& settings) {
  QStringList terms;
  QString section;
  for (QString line : QString::fromUtf8(settings).split(QRegularExpression("\r?\n"))) {
    line = line.trimmed();
    if (line.startsWith('[') && line.endsWith(']')) {
      section = line.mid(1, line.size() - 2).trimmed().toLower();
      continue;
    }
    const qsizetype eq = line.indexOf('=');
    if (eq < 0 || (section != "phones" && section != "keys")) continue;
    const QString value = line.mid(eq + 1).trimmed();
    if (value.isEmpty() || value == QString(16, '0')) continue;
    if (!terms.contains(value)) terms << value;
  }
  return terms;
}

QString Pattern(const QString& text) {
  QString escaped = text.toLower();
  escaped.replace('\\', "\\\\").replace('%', "\\%").replace('_', "\\_");
  return '%' + escaped + '%';
}

TSite SiteFrom(const QSqlQuery& q) {
  TSite s;
  s.Id = q.value(0).toLongLong();
  s.Name = q.value(1).toString();
  s.Address = q.value(2).toString();
  s.Notes = q.value(3).toString();
  s.DataNumber = q.value(4).toString();
  s.Archived = q.value(5).toInt() != 0;
  s.Created = Time(q.value(6));
  s.Changed = Time(q.value(7));
  return s;
}

// A null QString binds as SQL NULL; the columns hold empty texts instead.
QVariant Text(const QString& text) { return QVariant(text.isNull() ? QStringLiteral("") : text); }

const char* const kSiteColumns = "id, name, address, notes, data_number, archived, created, changed";

}  // namespace

QString KindName(TRecordKind kind) { return QString::fromLatin1(kKinds[int(kind)]); }

std::optional<TRecordKind> KindFromName(const QString& name) {
  for (int i = 0; i < 5; ++i)
    if (name == QLatin1String(kKinds[i])) return TRecordKind(i);
  return std::nullopt;
}

QString TLibraryPlace::Display() const {
  if (Engine == TEngine::SQLite) return File;
  QString text = QStringLiteral("postgresql://");
  if (!User.isEmpty()) text += User + '@';
  if (!Host.startsWith('/')) text += Host;
  if (Port > 0) text += ':' + QString::number(Port);
  text += '/' + Database;
  if (Host.startsWith('/')) text += QStringLiteral("?host=") + Host;
  return text;
}

std::optional<TLibraryPlace> ParseLibraryPlace(const QString& text, QString* why) {
  TLibraryPlace place;
  if (!text.startsWith(QLatin1String("postgresql://")) && !text.startsWith(QLatin1String("postgres://"))) {
    if (text.isEmpty()) {
      *why = QStringLiteral("the library place is empty");
      return std::nullopt;
    }
    place.File = text;
    return place;
  }
  const QUrl url(text, QUrl::StrictMode);
  if (!url.isValid()) {
    *why = QStringLiteral("not a PostgreSQL URL: ") + url.errorString();
    return std::nullopt;
  }
  if (!url.password().isEmpty()) {
    *why = QStringLiteral("the library URL holds a password; keep it in ~/.pgpass or PGPASSWORD instead");
    return std::nullopt;
  }
  place.Engine = TLibraryPlace::TEngine::PostgreSQL;
  place.User = url.userName();
  place.Host = url.host();
  place.Port = url.port(-1);
  place.Database = url.path().mid(1);
  const QUrlQuery query(url);
  if (query.hasQueryItem("host")) place.Host = query.queryItemValue("host", QUrl::FullyDecoded);
  if (place.Database.isEmpty()) {
    *why = QStringLiteral("the library URL names no database: postgresql://user@host/dbname");
    return std::nullopt;
  }
  return place;
}

std::optional<QString> SiteNameProblem(const QString& name) {
  if (name.trimmed().isEmpty()) return QStringLiteral("a site needs a name");
  if (name.size() > 200) return QStringLiteral("a site name holds at most 200 characters");
  for (const QChar c : name)
    if (c.category() == QChar::Other_Control) return QStringLiteral("a site name holds no control characters");
  return std::nullopt;
}

TLibrary::TLibrary() {
  static QAtomicInteger<quint64> counter;
  connection_ = QStringLiteral("ostrel-library-%1").arg(++counter);
}

TLibrary::~TLibrary() {
  { QSqlDatabase db = QSqlDatabase::database(connection_, false); if (db.isOpen()) db.close(); }
  if (QSqlDatabase::contains(connection_)) QSqlDatabase::removeDatabase(connection_);
}

QSqlDatabase TLibrary::Database() const { return QSqlDatabase::database(connection_, false); }
bool TLibrary::IsOpen() const { return Database().isOpen(); }

bool TLibrary::Fail(const QString& why) {
  // One line: the servers' texts run over several.
  error_ = why.simplified();
  return false;
}

bool TLibrary::Open(const TLibraryPlace& place) {
  place_ = place;
  readOnly_ = false;
  error_.clear();
  const bool sqlite = place.Engine == TLibraryPlace::TEngine::SQLite;
  QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? "QSQLITE" : "QPSQL", connection_);
  if (!db.isValid()) return Fail(QStringLiteral("the Qt SQL driver for %1 is not installed").arg(sqlite ? "SQLite" : "PostgreSQL"));
  if (sqlite) {
    const bool fresh = !QFileInfo::exists(place.File);
    if (fresh) {
      // Created private before SQLite writes a byte to it.
      QFile file(place.File);
      if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner))
        return Fail("cannot create the library " + place.File + ": " + file.errorString());
    }
    db.setDatabaseName(place.File);
    db.setConnectOptions("QSQLITE_BUSY_TIMEOUT=10000");
  } else {
    db.setDatabaseName(place.Database);
    if (!place.User.isEmpty()) db.setUserName(place.User);
    if (!place.Host.isEmpty()) db.setHostName(place.Host);
    if (place.Port > 0) db.setPort(place.Port);
    // TLS when the server offers it; a dead server is reported in seconds.
    db.setConnectOptions("sslmode=prefer;connect_timeout=5;application_name=ostrelgsm4");
  }
  if (!db.open()) return Fail("cannot open the library " + place.Display() + ": " + db.lastError().text());
  QSqlQuery q(db);
  if (sqlite) {
    // A file that is not SQLite at all fails here, at the first read.
    if (!q.exec("PRAGMA foreign_keys = ON") || !q.exec("PRAGMA journal_mode = WAL") ||
        !q.exec("SELECT count(*) FROM sqlite_master")) {
      const QString why = q.lastError().text();
      db.close();
      return Fail(place.File + " is not a site library (" + why + ")");
    }
    // The WAL files take the main file's mode from SQLite itself.
  } else {
    q.exec("SET client_min_messages = warning");
  }
  if (!Migrate()) {
    db.close();
    return false;
  }
  return true;
}

bool TLibrary::Migrate() {
  QSqlDatabase db = Database();
  const bool sqlite = place_.Engine == TLibraryPlace::TEngine::SQLite;
  QSqlQuery q(db);
  const QStringList tables = db.tables();
  if (!tables.contains("schema_version")) {
    if (!tables.isEmpty() && sqlite)
      return Fail(place_.Display() + " is not a site library (it holds other tables)");
    const QString id = sqlite ? "INTEGER PRIMARY KEY AUTOINCREMENT" : "BIGSERIAL PRIMARY KEY";
    const QStringList schema{
        "CREATE TABLE schema_version (version INTEGER NOT NULL)",
        "CREATE TABLE sites (id " + id +
            ", name TEXT NOT NULL UNIQUE, address TEXT NOT NULL DEFAULT '', notes TEXT NOT NULL DEFAULT '', "
            "data_number TEXT NOT NULL DEFAULT '', archived INTEGER NOT NULL DEFAULT 0, "
            "created TEXT NOT NULL, changed TEXT NOT NULL, search TEXT NOT NULL DEFAULT '')",
        "CREATE TABLE records (id " + id +
            ", uid TEXT NOT NULL UNIQUE, site_id BIGINT NOT NULL REFERENCES sites(id), number INTEGER NOT NULL, "
            "at TEXT NOT NULL, "
            "operator TEXT NOT NULL, host TEXT NOT NULL, kind TEXT NOT NULL, outcome TEXT NOT NULL, "
            "firmware TEXT NOT NULL, port TEXT NOT NULL, settings TEXT NOT NULL, UNIQUE (site_id, number))",
        // The phone numbers and keys of each site's latest record, for search.
        "CREATE TABLE site_terms (site_id BIGINT NOT NULL REFERENCES sites(id), term TEXT NOT NULL)",
        "CREATE INDEX site_terms_term ON site_terms(term)",
        "CREATE INDEX site_terms_site ON site_terms(site_id)",
        "INSERT INTO schema_version (version) VALUES (1)",
    };
    if (!db.transaction()) return Fail("cannot create the library: " + db.lastError().text());
    for (const QString& statement : schema) {
      if (!q.exec(statement)) {
        const QString why = q.lastError().text();
        db.rollback();
        // Another program created it meanwhile: use theirs.
        if (db.tables().contains("schema_version")) return Migrate();
        return Fail("cannot create the library: " + why);
      }
    }
    if (!db.commit()) return Fail("cannot create the library: " + db.lastError().text());
    return true;
  }
  if (!q.exec("SELECT max(version) FROM schema_version") || !q.next())
    return Fail("cannot read the library's version: " + q.lastError().text());
  const int version = q.value(0).toInt();
  if (version > kLibrarySchemaVersion) {
    readOnly_ = true;
    error_ = QStringLiteral("the library %1 was written by a newer program (schema %2, this one knows %3): "
                            "opened read-only")
                 .arg(place_.Display())
                 .arg(version)
                 .arg(kLibrarySchemaVersion);
    return true;
  }
  // Forward migrations from older versions go here, one step each.
  return true;
}

std::optional<qint64> TLibrary::SiteId(const QString& name) {
  QSqlQuery q(Database());
  q.prepare("SELECT id FROM sites WHERE name = ?");
  q.addBindValue(name);
  if (!q.exec()) {
    Fail("library: " + q.lastError().text());
    return std::nullopt;
  }
  if (!q.next()) {
    Fail("no site named " + name);
    return std::nullopt;
  }
  return q.value(0).toLongLong();
}

bool TLibrary::AddSite(const TSite& site) {
  if (readOnly_) return Fail(error_);
  if (const auto problem = SiteNameProblem(site.Name)) return Fail(*problem);
  QSqlQuery q(Database());
  q.prepare("INSERT INTO sites (name, address, notes, data_number, archived, created, changed, search) "
            "VALUES (?, ?, ?, ?, 0, ?, ?, ?)");
  const QString now = Now();
  for (const QVariant& v : {Text(site.Name), Text(site.Address), Text(site.Notes),
                            Text(site.DataNumber), QVariant(now), QVariant(now),
                            QVariant((site.Name + '\n' + site.Address + '\n' + site.Notes + '\n' + site.DataNumber).toLower())})
    q.addBindValue(v);
  if (q.exec()) return true;
  if (FindSite(site.Name)) return Fail("a site named " + site.Name + " exists already");
  return Fail("library: " + q.lastError().text());
}

bool TLibrary::UpdateSite(const QString& name, const TSite& site) {
  if (readOnly_) return Fail(error_);
  if (const auto problem = SiteNameProblem(site.Name)) return Fail(*problem);
  const auto id = SiteId(name);
  if (!id) return false;
  QSqlQuery q(Database());
  q.prepare("UPDATE sites SET name = ?, address = ?, notes = ?, data_number = ?, changed = ?, search = ? WHERE id = ?");
  for (const QVariant& v : {Text(site.Name), Text(site.Address), Text(site.Notes),
                            Text(site.DataNumber), QVariant(Now()),
                            QVariant((site.Name + '\n' + site.Address + '\n' + site.Notes + '\n' + site.DataNumber).toLower()),
                            QVariant(*id)})
    q.addBindValue(v);
  if (q.exec()) return true;
  if (site.Name != name && FindSite(site.Name)) return Fail("a site named " + site.Name + " exists already");
  return Fail("library: " + q.lastError().text());
}

bool TLibrary::ArchiveSite(const QString& name) {
  if (readOnly_) return Fail(error_);
  const auto id = SiteId(name);
  if (!id) return false;
  QSqlQuery q(Database());
  q.prepare("UPDATE sites SET archived = 1, changed = ? WHERE id = ?");
  q.addBindValue(Now());
  q.addBindValue(*id);
  return q.exec() || Fail("library: " + q.lastError().text());
}

std::optional<TSite> TLibrary::FindSite(const QString& name) {
  QSqlQuery q(Database());
  q.prepare(QStringLiteral("SELECT %1 FROM sites WHERE name = ?").arg(kSiteColumns));
  q.addBindValue(name);
  if (!q.exec()) {
    Fail("library: " + q.lastError().text());
    return std::nullopt;
  }
  if (!q.next()) return std::nullopt;
  return SiteFrom(q);
}

std::vector<TSite> TLibrary::Search(const QString& text, int limit, bool archived) {
  std::vector<TSite> sites;
  QSqlQuery q(Database());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT %1 FROM sites WHERE (archived = 0 OR ? = 1) AND (search LIKE ? ESCAPE '\\' "
                           "OR id IN (SELECT site_id FROM site_terms WHERE lower(term) LIKE ? ESCAPE '\\')) "
                           "ORDER BY name LIMIT ?")
                .arg(kSiteColumns));
  const QString pattern = Pattern(text);
  q.addBindValue(archived ? 1 : 0);
  q.addBindValue(pattern);
  q.addBindValue(pattern);
  q.addBindValue(limit);
  if (!q.exec()) {
    Fail("library: " + q.lastError().text());
    return sites;
  }
  while (q.next()) sites.push_back(SiteFrom(q));
  return sites;
}

bool TLibrary::AddRecord(const QString& site, TRecord* record) {
  if (readOnly_) return Fail(error_);
  if (record->Uid.isEmpty()) record->Uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
  QSqlDatabase db = Database();
  const bool sqlite = place_.Engine == TLibraryPlace::TEngine::SQLite;
  // Two programs may append to one site at once: the number is taken inside
  // the transaction, and a number taken twice (PostgreSQL) is tried again.
  for (int attempt = 0; attempt < 50; ++attempt) {
    QSqlQuery q(db);
    const bool begun = sqlite ? q.exec("BEGIN IMMEDIATE") : db.transaction();
    if (!begun) return Fail("library: " + (sqlite ? q.lastError() : db.lastError()).text());
    auto rollback = [&](const QString& why) {
      if (sqlite) QSqlQuery(db).exec("ROLLBACK");
      else db.rollback();
      return Fail(why);
    };
    const auto id = SiteId(site);
    if (!id) return rollback(error_);
    q.prepare("SELECT number, at FROM records WHERE uid = ?");
    q.addBindValue(record->Uid);
    if (!q.exec()) return rollback("library: " + q.lastError().text());
    if (q.next()) {
      // Stored before: the spool met a crash between storing and removing it.
      record->Number = q.value(0).toInt();
      record->Time = Time(q.value(1));
      rollback(QString());
      error_.clear();
      return true;
    }
    q.prepare("SELECT coalesce(max(number), 0) + 1 FROM records WHERE site_id = ?");
    q.addBindValue(*id);
    if (!q.exec() || !q.next()) return rollback("library: " + q.lastError().text());
    const int number = q.value(0).toInt();
    const QString at = (record->Time.isValid() ? record->Time.toUTC() : QDateTime::currentDateTimeUtc())
                           .toString(Qt::ISODateWithMs);
    QSqlQuery insert(db);
    insert.prepare("INSERT INTO records (uid, site_id, number, at, operator, host, kind, outcome, firmware, port, settings) "
                   "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (const QVariant& v : {QVariant(record->Uid), QVariant(*id), QVariant(number), QVariant(at), Text(record->Operator),
                              Text(record->Host), QVariant(KindName(record->Kind)), Text(record->Outcome),
                              Text(record->Firmware), Text(record->Port),
                              QVariant(QString::fromUtf8(record->Settings))})
      insert.addBindValue(v);
    if (!insert.exec()) {
      const QString why = insert.lastError().text();
      rollback(why);
      if (!sqlite && why.contains("unique", Qt::CaseInsensitive)) continue;
      return Fail("library: " + why);
    }
    // The site is found by the latest record's numbers and keys.
    const QStringList terms = SearchTerms(record->Settings);
    if (!terms.isEmpty()) {
      QSqlQuery del(db);
      del.prepare("DELETE FROM site_terms WHERE site_id = ?");
      del.addBindValue(*id);
      if (!del.exec()) return rollback("library: " + del.lastError().text());
      for (const QString& term : terms) {
        QSqlQuery add(db);
        add.prepare("INSERT INTO site_terms (site_id, term) VALUES (?, ?)");
        add.addBindValue(*id);
        add.addBindValue(term);
        if (!add.exec()) return rollback("library: " + add.lastError().text());
      }
    }
    const bool committed = sqlite ? QSqlQuery(db).exec("COMMIT") : db.commit();
    if (!committed) return rollback("library: " + db.lastError().text());
    record->Number = number;
    record->Time = Time(at);
    return true;
  }
  return Fail("library: the record could not be numbered (too many programs at once)");
}

std::vector<TRecord> TLibrary::History(const QString& site, bool withSettings) {
  std::vector<TRecord> records;
  const auto id = SiteId(site);
  if (!id) return records;
  QSqlQuery q(Database());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT number, at, operator, host, kind, outcome, firmware, port, %1 FROM records "
                           "WHERE site_id = ? ORDER BY number")
                .arg(withSettings ? "settings" : "''"));
  q.addBindValue(*id);
  if (!q.exec()) {
    Fail("library: " + q.lastError().text());
    return records;
  }
  while (q.next()) {
    TRecord r;
    r.Number = q.value(0).toInt();
    r.Time = Time(q.value(1));
    r.Operator = q.value(2).toString();
    r.Host = q.value(3).toString();
    r.Kind = KindFromName(q.value(4).toString()).value_or(TRecordKind::Read);
    r.Outcome = q.value(5).toString();
    r.Firmware = q.value(6).toString();
    r.Port = q.value(7).toString();
    r.Settings = q.value(8).toString().toUtf8();
    records.push_back(std::move(r));
  }
  return records;
}

std::optional<TRecord> TLibrary::Record(const QString& site, int number) {
  for (TRecord& r : History(site, true))
    if (r.Number == number) return std::move(r);
  if (error_.isEmpty() || FindSite(site)) Fail(QStringLiteral("%1 has no record %2").arg(site).arg(number));
  return std::nullopt;
}

std::optional<QStringList> TLibrary::Check() {
  QStringList problems;
  QSqlQuery q(Database());
  const bool sqlite = place_.Engine == TLibraryPlace::TEngine::SQLite;
  if (sqlite) {
    if (!q.exec("PRAGMA integrity_check")) {
      Fail("library: " + q.lastError().text());
      return std::nullopt;
    }
    while (q.next())
      if (q.value(0).toString() != "ok") problems << q.value(0).toString();
  }
  const QStringList checks{
      "SELECT count(*) FROM records WHERE site_id NOT IN (SELECT id FROM sites)",
      "SELECT count(*) FROM site_terms WHERE site_id NOT IN (SELECT id FROM sites)",
      "SELECT count(*) FROM records WHERE settings = '' OR kind NOT IN ('read','write','verify','backup','compare')",
      "SELECT count(*) FROM (SELECT site_id FROM records GROUP BY site_id HAVING count(*) <> max(number)) gaps",
  };
  const QStringList what{"records of no site", "search terms of no site", "records without settings or kind",
                         "sites whose record numbers have gaps"};
  for (int i = 0; i < checks.size(); ++i) {
    if (!q.exec(checks[i]) || !q.next()) {
      Fail("library: " + q.lastError().text());
      return std::nullopt;
    }
    if (q.value(0).toLongLong() > 0) problems << QStringLiteral("%1: %2").arg(what[i]).arg(q.value(0).toLongLong());
  }
  return problems;
}
