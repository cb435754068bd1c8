#include "library/LibrarySql.h"

#include <QHash>
#include <QSqlError>
#include <vector>

using namespace LibrarySql;

namespace {

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

// Each site's terms with its phone numbers' digits, and their grams.
bool AddPhoneDigits(QSqlDatabase& db, bool sqlite, QString* why) {
  QHash<qint64, QStringList> terms;
  {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec("SELECT site_id, term FROM site_terms")) return (*why = q.lastError().text(), false);
    while (q.next()) terms[q.value(0).toLongLong()] << q.value(1).toString();
  }
  for (auto it = terms.cbegin(); it != terms.cend(); ++it)
    if (!StoreTerms(db, sqlite, it.key(), WithPhoneDigits(it.value()), why)) return false;
  return true;
}

}  // namespace

bool TLibrary::Migrate() {
  QSqlDatabase db = Database();
  const bool sqlite = place_.Engine == TLibraryPlace::TEngine::SQLite;
  QSqlQuery q(db);
  const QStringList tables = db.tables();
  if (!tables.contains("schema_version")) {
    if (!tables.isEmpty() && sqlite)
      return Fail(place_.Display() + " is not a site library (it holds other tables)");
    if (create_ == TLibraryCreate::Never) return FailMissing();
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
  if (now <= 2) {
    // 2 -> 3: phone numbers found by their digits.
    if (!AddPhoneDigits(db, sqlite, &why)) return fail(why);
  }
  if (now < kLibrarySchemaVersion &&
      !q.exec(QStringLiteral("UPDATE schema_version SET version = %1").arg(kLibrarySchemaVersion)))
    return fail(q.lastError().text());
  if (!Commit(db, sqlite, &why)) return fail(why);
  return true;
}
