#include "library/Library.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <QVariant>
#include <algorithm>
#include <string>

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

// The search index: every run of three characters (code points) of a
// site's name, address, notes and data number and of the phone numbers and
// keys of its latest record, in lower case, each field followed by two
// kGramEnd, so that every text of one or two characters a field holds
// starts one of its grams. Search looks up the grams of the text and checks
// the few sites that hold them all exactly.
constexpr char32_t kGramEnd = 0x01;
constexpr int kGramLength = 3;

void AddGrams(const QString& field, QSet<QString>* grams) {
  if (field.isEmpty()) return;
  std::u32string text = field.toLower().toStdU32String();
  text.append(kGramLength - 1, kGramEnd);
  for (size_t i = 0; i + kGramLength <= text.size(); ++i)
    grams->insert(QString::fromUcs4(text.data() + i, kGramLength));
}

QSet<QString> SiteGrams(const TSite& site, const QStringList& terms) {
  QSet<QString> grams;
  for (const QString& field : {site.Name, site.Address, site.Notes, site.DataNumber}) AddGrams(field, &grams);
  for (const QString& term : terms) AddGrams(term, &grams);
  return grams;
}

// The text followed by the highest character: the end of the range of the
// grams that start with the text.
QString AfterPrefix(const QString& text) { return text + QString::fromUcs4(U"\U0010FFFF", 1); }

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
const char* const kSiteColumnsOfS = "s.id, s.name, s.address, s.notes, s.data_number, s.archived, s.created, s.changed";

// At most this many rows of one gram are counted: a gram held by more sites
// is no help in narrowing a search.
constexpr int kGramCountCap = 2000;
// Statements that add or remove many grams take this many at a time.
constexpr int kChunk = 200;

QString Placeholders(int count, const QString& one) {
  QStringList list;
  for (int i = 0; i < count; ++i) list << one;
  return list.join(QStringLiteral(", "));
}

// A transaction: on SQLite one that takes the write lock at once, so that
// two programs never both read and then both wait to write.
bool Begin(QSqlDatabase& db, bool sqlite, QString* why) {
  if (!sqlite) return db.transaction() || (*why = db.lastError().text(), false);
  QSqlQuery q(db);
  return q.exec("BEGIN IMMEDIATE") || (*why = q.lastError().text(), false);
}

bool Commit(QSqlDatabase& db, bool sqlite, QString* why) {
  if (!sqlite) return db.commit() || (*why = db.lastError().text(), false);
  QSqlQuery q(db);
  return q.exec("COMMIT") || (*why = q.lastError().text(), false);
}

void Rollback(QSqlDatabase& db, bool sqlite) {
  if (sqlite) QSqlQuery(db).exec("ROLLBACK");
  else db.rollback();
}

bool Exec(QSqlQuery& q, QString* why) { return q.exec() || (*why = q.lastError().text(), false); }

std::optional<TSite> SiteById(QSqlDatabase& db, qint64 id, QString* why) {
  QSqlQuery q(db);
  q.prepare(QStringLiteral("SELECT %1 FROM sites WHERE id = ?").arg(kSiteColumns));
  q.addBindValue(id);
  if (!Exec(q, why)) return std::nullopt;
  if (!q.next()) {
    *why = QStringLiteral("no site numbered %1").arg(id);
    return std::nullopt;
  }
  return SiteFrom(q);
}

std::optional<QStringList> StoredTerms(QSqlDatabase& db, qint64 id, QString* why) {
  QSqlQuery q(db);
  q.setForwardOnly(true);
  q.prepare("SELECT term FROM site_terms WHERE site_id = ?");
  q.addBindValue(id);
  if (!Exec(q, why)) return std::nullopt;
  QStringList terms;
  while (q.next()) terms << q.value(0).toString();
  return terms;
}

// Changes the site's grams from old to now: only those that differ.
bool StoreGrams(QSqlDatabase& db, qint64 id, const QSet<QString>& old, const QSet<QString>& now, QString* why) {
  QStringList gone, added;
  for (const QString& gram : old)
    if (!now.contains(gram)) gone << gram;
  for (const QString& gram : now)
    if (!old.contains(gram)) added << gram;
  std::sort(gone.begin(), gone.end());
  std::sort(added.begin(), added.end());
  for (qsizetype i = 0; i < gone.size(); i += kChunk) {
    const int n = int(std::min<qsizetype>(kChunk, gone.size() - i));
    QSqlQuery q(db);
    q.prepare("DELETE FROM site_grams WHERE site_id = ? AND gram IN (" + Placeholders(n, "?") + ")");
    q.addBindValue(id);
    for (int k = 0; k < n; ++k) q.addBindValue(gone[i + k]);
    if (!Exec(q, why)) return false;
  }
  for (qsizetype i = 0; i < added.size(); i += kChunk) {
    const int n = int(std::min<qsizetype>(kChunk, added.size() - i));
    QSqlQuery q(db);
    q.prepare("INSERT INTO site_grams (gram, site_id) VALUES " + Placeholders(n, "(?, ?)") +
              " ON CONFLICT DO NOTHING");
    for (int k = 0; k < n; ++k) {
      q.addBindValue(added[i + k]);
      q.addBindValue(id);
    }
    if (!Exec(q, why)) return false;
  }
  return true;
}

// The terms of the site's latest record, and its grams with them, when they
// changed. Inside the caller's transaction, after the record is stored.
bool StoreTerms(QSqlDatabase& db, bool sqlite, qint64 id, const QStringList& terms, QString* why) {
  const auto old = StoredTerms(db, id, why);
  if (!old) return false;
  if (QSet<QString>(old->begin(), old->end()) == QSet<QString>(terms.begin(), terms.end())) return true;
  if (!sqlite) {
    // The site's row is locked: a change of its name, address or notes
    // meanwhile would compute its grams from the old terms.
    QSqlQuery lock(db);
    lock.prepare("UPDATE sites SET archived = archived WHERE id = ?");
    lock.addBindValue(id);
    if (!Exec(lock, why)) return false;
  }
  const auto site = SiteById(db, id, why);
  if (!site || !StoreGrams(db, id, SiteGrams(*site, *old), SiteGrams(*site, terms), why)) return false;
  QSqlQuery del(db);
  del.prepare("DELETE FROM site_terms WHERE site_id = ?");
  del.addBindValue(id);
  if (!Exec(del, why)) return false;
  for (qsizetype i = 0; i < terms.size(); i += kChunk) {
    const int n = int(std::min<qsizetype>(kChunk, terms.size() - i));
    QSqlQuery add(db);
    add.prepare("INSERT INTO site_terms (site_id, term) VALUES " + Placeholders(n, "(?, ?)"));
    for (int k = 0; k < n; ++k) {
      add.addBindValue(id);
      add.addBindValue(terms[i + k]);
    }
    if (!Exec(add, why)) return false;
  }
  return true;
}

// Schema version 2: the search index, filled for every site there is.
QStringList GramsSchema(bool sqlite) {
  return {QStringLiteral("CREATE TABLE site_grams (gram TEXT %1NOT NULL, site_id BIGINT NOT NULL REFERENCES sites(id), "
                         "PRIMARY KEY (gram, site_id))%2")
              .arg(sqlite ? "" : "COLLATE \"C\" ", sqlite ? " WITHOUT ROWID" : "")};
}

bool FillGrams(QSqlDatabase& db, QString* why) {
  QHash<qint64, QStringList> terms;
  {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec("SELECT site_id, term FROM site_terms")) return (*why = q.lastError().text(), false);
    while (q.next()) terms[q.value(0).toLongLong()] << q.value(1).toString();
  }
  std::vector<TSite> sites;
  {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM sites").arg(kSiteColumns))) return (*why = q.lastError().text(), false);
    while (q.next()) sites.push_back(SiteFrom(q));
  }
  for (const TSite& site : sites)
    if (!StoreGrams(db, site.Id, {}, SiteGrams(site, terms.value(site.Id)), why)) return false;
  return true;
}

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
    QStringList schema{
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
    };
    schema << GramsSchema(sqlite);
    schema << QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(kLibrarySchemaVersion);
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
  q.finish();
  if (version > kLibrarySchemaVersion) {
    readOnly_ = true;
    error_ = QStringLiteral("the library %1 was written by a newer program (schema %2, this one knows %3): "
                            "opened read-only")
                 .arg(place_.Display())
                 .arg(version)
                 .arg(kLibrarySchemaVersion);
    return true;
  }
  if (version == kLibrarySchemaVersion) return true;
  // Forward migrations, one step each, in one transaction: another program
  // opening the library meanwhile waits, then finds it migrated.
  QString why;
  if (!Begin(db, sqlite, &why)) return Fail("cannot upgrade the library: " + why);
  auto fail = [&](const QString& what) {
    Rollback(db, sqlite);
    return Fail("cannot upgrade the library " + place_.Display() + ": " + what);
  };
  if (!sqlite && !q.exec("LOCK TABLE schema_version IN EXCLUSIVE MODE")) return fail(q.lastError().text());
  if (!q.exec("SELECT max(version) FROM schema_version") || !q.next()) return fail(q.lastError().text());
  const int now = q.value(0).toInt();
  q.finish();
  if (now > kLibrarySchemaVersion) {
    // A newer program got there first.
    Rollback(db, sqlite);
    return Migrate();
  }
  if (now == 1) {
    // 1 -> 2: the search index.
    for (const QString& statement : GramsSchema(sqlite))
      if (!q.exec(statement)) return fail(q.lastError().text());
    if (!FillGrams(db, &why)) return fail(why);
  }
  if (now < kLibrarySchemaVersion &&
      !q.exec(QStringLiteral("UPDATE schema_version SET version = %1").arg(kLibrarySchemaVersion)))
    return fail(q.lastError().text());
  if (!Commit(db, sqlite, &why)) return fail(why);
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
  QSqlDatabase db = Database();
  const bool sqlite = place_.Engine == TLibraryPlace::TEngine::SQLite;
  QString why;
  if (!Begin(db, sqlite, &why)) return Fail("library: " + why);
  QSqlQuery q(db);
  q.prepare("INSERT INTO sites (name, address, notes, data_number, archived, created, changed, search) "
            "VALUES (?, ?, ?, ?, 0, ?, ?, ?)");
  const QString now = Now();
  for (const QVariant& v : {Text(site.Name), Text(site.Address), Text(site.Notes),
                            Text(site.DataNumber), QVariant(now), QVariant(now),
                            QVariant((site.Name + '\n' + site.Address + '\n' + site.Notes + '\n' + site.DataNumber).toLower())})
    q.addBindValue(v);
  if (!Exec(q, &why)) {
    Rollback(db, sqlite);
    if (FindSite(site.Name)) return Fail("a site named " + site.Name + " exists already");
    return Fail("library: " + why);
  }
  q.finish();
  const auto id = SiteId(site.Name);
  if (!id) {
    Rollback(db, sqlite);
    return false;
  }
  if (!StoreGrams(db, *id, {}, SiteGrams(site, {}), &why) || !Commit(db, sqlite, &why)) {
    Rollback(db, sqlite);
    return Fail("library: " + why);
  }
  return true;
}

bool TLibrary::UpdateSite(const QString& name, const TSite& site) {
  if (readOnly_) return Fail(error_);
  if (const auto problem = SiteNameProblem(site.Name)) return Fail(*problem);
  const auto id = SiteId(name);
  if (!id) return false;
  QSqlDatabase db = Database();
  const bool sqlite = place_.Engine == TLibraryPlace::TEngine::SQLite;
  QString why;
  if (!Begin(db, sqlite, &why)) return Fail("library: " + why);
  auto rollback = [&](const QString& text) {
    Rollback(db, sqlite);
    return Fail(text);
  };
  if (!sqlite) {
    // Locked first: a record stored meanwhile would change the terms.
    QSqlQuery lock(db);
    lock.prepare("UPDATE sites SET archived = archived WHERE id = ?");
    lock.addBindValue(*id);
    if (!Exec(lock, &why)) return rollback("library: " + why);
  }
  const auto old = SiteById(db, *id, &why);
  const auto terms = old ? StoredTerms(db, *id, &why) : std::nullopt;
  if (!terms) return rollback("library: " + why);
  QSqlQuery q(db);
  q.prepare("UPDATE sites SET name = ?, address = ?, notes = ?, data_number = ?, changed = ?, search = ? WHERE id = ?");
  for (const QVariant& v : {Text(site.Name), Text(site.Address), Text(site.Notes),
                            Text(site.DataNumber), QVariant(Now()),
                            QVariant((site.Name + '\n' + site.Address + '\n' + site.Notes + '\n' + site.DataNumber).toLower()),
                            QVariant(*id)})
    q.addBindValue(v);
  if (!Exec(q, &why)) {
    Rollback(db, sqlite);
    if (site.Name != name && FindSite(site.Name)) return Fail("a site named " + site.Name + " exists already");
    return Fail("library: " + why);
  }
  if (!StoreGrams(db, *id, SiteGrams(*old, *terms), SiteGrams(site, *terms), &why) || !Commit(db, sqlite, &why))
    return rollback("library: " + why);
  return true;
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
  QSqlDatabase db = Database();
  const QString lowered = text.toLower();
  const std::u32string chars = lowered.toStdU32String();
  // What every site found satisfies, checked exactly.
  QString where = QStringLiteral(
      "(s.archived = 0 OR ? = 1) AND (s.search LIKE ? ESCAPE '\\' OR EXISTS (SELECT 1 FROM site_terms t "
      "WHERE t.site_id = s.id AND lower(t.term) LIKE ? ESCAPE '\\'))");
  const QString pattern = Pattern(text);
  QVariantList values{archived ? 1 : 0, pattern, pattern};
  // The index narrows it down: the grams of the text (a few spread over a
  // long one), each counted up to a cap; a gram no site holds ends the
  // search, the rarest one picks the sites to check. A text that crosses a
  // line or holds the index's own end mark is looked for without it, as is
  // one in a library of a newer schema.
  const bool indexed = !chars.empty() && !readOnly_ && !lowered.contains(u'\n') &&
                       std::find(chars.begin(), chars.end(), kGramEnd) == chars.end();
  // Whether many sites may hold the text.
  bool common = true;
  if (indexed) {
    struct TGram {
      QString Text;
      int Count = 0;
    };
    std::vector<TGram> grams;
    const bool shortText = chars.size() < size_t(kGramLength);
    if (shortText) {
      grams.push_back({lowered});
    } else {
      const size_t count = chars.size() - kGramLength + 1;
      constexpr size_t kMostGrams = 8;
      for (size_t k = 0; k < std::min(count, kMostGrams); ++k) {
        const size_t at = count <= kMostGrams ? k : k * (count - 1) / (kMostGrams - 1);
        const QString gram = QString::fromUcs4(chars.data() + at, kGramLength);
        if (std::none_of(grams.begin(), grams.end(), [&](const TGram& g) { return g.Text == gram; }))
          grams.push_back({gram});
      }
    }
    const QString match = shortText ? QStringLiteral("gram >= ? AND gram < ?") : QStringLiteral("gram = ?");
    for (TGram& gram : grams) {
      QSqlQuery q(db);
      q.prepare(QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM site_grams WHERE %1 LIMIT %2) c")
                    .arg(match)
                    .arg(kGramCountCap));
      q.addBindValue(gram.Text);
      if (shortText) q.addBindValue(AfterPrefix(gram.Text));
      if (!q.exec() || !q.next()) {
        Fail("library: " + q.lastError().text());
        return sites;
      }
      gram.Count = q.value(0).toInt();
      if (gram.Count == 0) return sites;
    }
    std::sort(grams.begin(), grams.end(), [](const TGram& a, const TGram& b) { return a.Count < b.Count; });
    if (grams.front().Count < kGramCountCap) {
      // Few sites hold the rarest gram: those, if they hold the other rare
      // ones too (a common gram narrows nothing and costs a long read).
      QString candidates = "SELECT g0.site_id FROM site_grams g0 WHERE g0." + match;
      QVariantList candidateValues{grams.front().Text};
      if (shortText) candidateValues << AfterPrefix(grams.front().Text);
      for (size_t k = 1; k < grams.size() && grams[k].Count < kGramCountCap; ++k) {
        candidates += QStringLiteral(" AND EXISTS (SELECT 1 FROM site_grams g%1 WHERE g%1.gram = ? AND g%1.site_id = g0.site_id)").arg(k);
        candidateValues << grams[k].Text;
      }
      where = "s.id IN (" + candidates + ") AND " + where;
      values = candidateValues + values;
      common = false;
    } else if (!shortText) {
      // Every gram is common: the sites in order of name, each looked up.
      for (size_t k = 0; k < grams.size(); ++k) {
        where += QStringLiteral(" AND EXISTS (SELECT 1 FROM site_grams g%1 WHERE g%1.gram = ? AND g%1.site_id = s.id)").arg(k);
        values << grams[k].Text;
      }
    }
    // A short text held by many sites: the first sites by name hold it.
  }
  auto run = [&](const QString& from) {
    sites.clear();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM %2 s WHERE %3 ORDER BY s.name LIMIT ?").arg(kSiteColumnsOfS, from, where));
    for (const QVariant& v : values) q.addBindValue(v);
    q.addBindValue(limit);
    if (!q.exec()) return Fail("library: " + q.lastError().text());
    while (q.next()) sites.push_back(SiteFrom(q));
    return true;
  };
  // A text many sites hold is looked for first among the first sites by
  // name: when they hold enough, those are the first matches (a server's
  // planner may otherwise check every site before it sorts).
  constexpr int kWindow = 400;
  if (common && limit <= kWindow / 4) {
    if (!run(QStringLiteral("(SELECT * FROM sites ORDER BY name LIMIT %1)").arg(kWindow))) return {};
    if (int(sites.size()) == limit) return sites;
  }
  if (!run(QStringLiteral("sites"))) return {};
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
    QString why;
    if (!terms.isEmpty() && !StoreTerms(db, sqlite, *id, terms, &why)) return rollback("library: " + why);
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
  // The search index (of this program's schema): each site's grams are
  // those of its fields and terms, compared by count and a sum of hashes.
  if (!readOnly_) {
    struct TSum {
      quint64 Hash = 0;
      qint64 Count = 0;
      bool operator==(const TSum&) const = default;
    };
    auto hash = [](const QString& gram, qint64 site) {
      return (quint64(qHash(gram, 0x5bd1e995)) * 0x9E3779B97F4A7C15ull) ^ (quint64(site) * 0xC2B2AE3D27D4EB4Full);
    };
    QHash<qint64, TSum> stored, expected;
    QHash<qint64, QStringList> termsOf;
    qint64 orphans = 0;
    // One query at a time: a PostgreSQL connection streams one result.
    QSqlQuery each(Database());
    each.setForwardOnly(true);
    auto fail = [&] {
      Fail("library: " + each.lastError().text());
      return std::nullopt;
    };
    if (!each.exec("SELECT gram, site_id FROM site_grams")) return fail();
    while (each.next()) {
      const qint64 site = each.value(1).toLongLong();
      TSum& sum = stored[site];
      sum.Hash += hash(each.value(0).toString(), site);
      ++sum.Count;
    }
    if (!each.exec("SELECT site_id, term FROM site_terms")) return fail();
    while (each.next()) termsOf[each.value(0).toLongLong()] << each.value(1).toString();
    if (!each.exec(QStringLiteral("SELECT %1 FROM sites").arg(kSiteColumns))) return fail();
    while (each.next()) {
      const TSite site = SiteFrom(each);
      TSum& sum = expected[site.Id];
      for (const QString& gram : SiteGrams(site, termsOf.value(site.Id))) {
        sum.Hash += hash(gram, site.Id);
        ++sum.Count;
      }
    }
    qint64 stale = 0;
    for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
      if (!expected.contains(it.key())) ++orphans;
      else if (!(expected.value(it.key()) == it.value())) ++stale;
    }
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
      if (it.value().Count > 0 && !stored.contains(it.key())) ++stale;
    if (orphans > 0) problems << QStringLiteral("search grams of no site: %1 sites").arg(orphans);
    if (stale > 0) problems << QStringLiteral("sites whose search index is out of date: %1").arg(stale);
  }
  return problems;
}
