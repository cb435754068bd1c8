#include "library/LibrarySql.h"

#include <QHash>
#include <QSqlError>
#include <algorithm>
#include <vector>

using namespace LibrarySql;

namespace {

// Schema version 2: the search index, filled for every site there is.
QStringList GramsSchema(bool sqlite) {
  return {QStringLiteral("CREATE TABLE site_grams (gram TEXT %1NOT NULL, site_id BIGINT NOT NULL REFERENCES sites(id), "
                         "PRIMARY KEY (gram, site_id))%2")
              .arg(sqlite ? "" : "COLLATE \"C\" ", sqlite ? " WITHOUT ROWID" : "")};
}

// Schema version 4: the chain of each site's records (see RecordHash), and
// triggers by which the database itself keeps records as they were stored
// and sites for good (they are archived instead).
QStringList ChainColumns() {
  return {"ALTER TABLE records ADD COLUMN previous TEXT NOT NULL DEFAULT ''",
          "ALTER TABLE records ADD COLUMN hash TEXT NOT NULL DEFAULT ''"};
}

// The trigger that refuses to change a record (on PostgreSQL to delete one
// too), after the function it calls on PostgreSQL.
QString KeptTrigger(bool sqlite) {
  return sqlite ? "CREATE TRIGGER records_kept BEFORE UPDATE ON records "
                  "BEGIN SELECT RAISE(ABORT, 'the site library keeps its records as stored: no UPDATE'); END"
                : "CREATE TRIGGER records_kept BEFORE UPDATE OR DELETE ON records "
                  "FOR EACH ROW EXECUTE FUNCTION ostrel_library_keeps()";
}

QStringList ChainTriggers(bool sqlite) {
  if (sqlite)
    return {KeptTrigger(sqlite),
            "CREATE TRIGGER records_not_deleted BEFORE DELETE ON records "
            "BEGIN SELECT RAISE(ABORT, 'the site library keeps its records as stored: no DELETE'); END",
            "CREATE TRIGGER sites_not_deleted BEFORE DELETE ON sites "
            "BEGIN SELECT RAISE(ABORT, 'sites are archived, never deleted'); END"};
  // TRUNCATE passes row triggers by: refused on its own.
  return {"CREATE OR REPLACE FUNCTION ostrel_library_keeps() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
          "RAISE EXCEPTION 'the site library keeps its % as stored: no %', TG_TABLE_NAME, TG_OP "
          "USING ERRCODE = 'restrict_violation'; END $$",
          KeptTrigger(sqlite),
          "CREATE TRIGGER records_not_truncated BEFORE TRUNCATE ON records "
          "FOR EACH STATEMENT EXECUTE FUNCTION ostrel_library_keeps()",
          "CREATE TRIGGER sites_not_deleted BEFORE DELETE ON sites "
          "FOR EACH ROW EXECUTE FUNCTION ostrel_library_keeps()",
          "CREATE TRIGGER sites_not_truncated BEFORE TRUNCATE ON sites "
          "FOR EACH STATEMENT EXECUTE FUNCTION ostrel_library_keeps()"};
}

// Schema version 5: each record's outcome as a code (RecordOutcome.h), with
// what the code leaves open. The column outcome keeps the sentences of the
// records kept before; new records leave it empty.
QStringList CodeColumns() {
  return {QStringLiteral("ALTER TABLE records ADD COLUMN code TEXT NOT NULL DEFAULT '%1'")
              .arg(OutcomeCode(TRecordOutcome::Unknown)),
          "ALTER TABLE records ADD COLUMN detail TEXT NOT NULL DEFAULT ''"};
}

// The code and detail of every record there is, from its sentence: the one
// change ever made to stored records, with the trigger that refuses changes
// out of the way for this transaction alone. Each record keeps its sentence
// and its hash, which covers the sentence; the integrity check holds its
// code and detail to the sentence (OutcomeOfSentence).
bool CodeOutcomes(QSqlDatabase& db, bool sqlite, QString* why) {
  QStringList sentences;
  {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec("SELECT DISTINCT outcome FROM records")) return (*why = q.lastError().text(), false);
    while (q.next()) sentences << q.value(0).toString();
  }
  QSqlQuery q(db);
  if (!q.exec(sqlite ? "DROP TRIGGER IF EXISTS records_kept" : "DROP TRIGGER IF EXISTS records_kept ON records"))
    return (*why = q.lastError().text(), false);
  q.prepare("UPDATE records SET code = ?, detail = ? WHERE outcome = ?");
  for (const QString& sentence : sentences) {
    const auto [outcome, detail] = OutcomeOfSentence(sentence);
    q.bindValue(0, OutcomeCode(outcome));
    q.bindValue(1, Text(detail));
    q.bindValue(2, Text(sentence));
    if (!Exec(q, why)) return false;
  }
  return q.exec(KeptTrigger(sqlite)) || (*why = q.lastError().text(), false);
}

// The chains of the records there are, each site's in the order of its
// numbers, a chunk at a time (a server streams one result at a time).
bool FillChain(QSqlDatabase& db, QString* why) {
  std::vector<qint64> order;
  {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec("SELECT id FROM records ORDER BY site_id, number")) return (*why = q.lastError().text(), false);
    while (q.next()) order.push_back(q.value(0).toLongLong());
  }
  QHash<qint64, QString> last;  // each site's latest hash so far
  for (size_t first = 0; first < order.size(); first += kChunk) {
    const int n = int(std::min<size_t>(kChunk, order.size() - first));
    QHash<qint64, QStringList> content;
    {
      QSqlQuery q(db);
      q.setForwardOnly(true);
      q.prepare(QStringLiteral("SELECT id, %1 FROM records WHERE id IN (%2)").arg(kChainColumns, Placeholders(n, "?")));
      for (int i = 0; i < n; ++i) q.addBindValue(order[first + i]);
      if (!Exec(q, why)) return false;
      while (q.next()) {
        QStringList values;
        for (int i = 1; i <= 10; ++i) values << q.value(i).toString();
        content.insert(q.value(0).toLongLong(), values);
      }
    }
    QSqlQuery q(db);
    q.prepare(QStringLiteral("WITH v (id, previous, hash) AS (VALUES %1) "
                             "UPDATE records SET previous = v.previous, hash = v.hash FROM v WHERE records.id = v.id")
                  .arg(Placeholders(n, "(CAST(? AS BIGINT), CAST(? AS TEXT), CAST(? AS TEXT))")));
    for (int i = 0; i < n; ++i) {
      const qint64 id = order[first + i];
      const QStringList& values = content[id];
      const qint64 site = values.value(0).toLongLong();
      const QString previous = last.value(site);
      const QString hash = RecordHash(values, previous);
      last.insert(site, hash);
      q.addBindValue(id);
      q.addBindValue(Text(previous));
      q.addBindValue(hash);
    }
    if (!Exec(q, why)) return false;
  }
  return true;
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
    schema << ChainColumns() << ChainTriggers(sqlite) << CodeColumns();
    schema << QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(kLibrarySchemaVersion);
    // On SQLite the write lock is taken first, waiting for it as for any
    // lock: two programs creating one new file at once take turns, and the
    // second finds the first one's library.
    QString why;
    if (!Begin(db, sqlite, &why)) return Fail("cannot create the library: " + why);
    if (sqlite) {
      bool made = false;
      {
        QSqlQuery there(db);
        made = there.exec("SELECT count(*) FROM sqlite_master WHERE name = 'schema_version'") && there.next() &&
               there.value(0).toInt() > 0;
      }
      if (made) {
        Rollback(db, sqlite);
        return Migrate();
      }
    }
    for (const QString& statement : schema) {
      if (!q.exec(statement)) {
        why = q.lastError().text();
        q.finish();
        Rollback(db, sqlite);
        // Another program created it meanwhile: use theirs.
        if (db.tables().contains("schema_version")) return Migrate();
        return Fail("cannot create the library: " + why);
      }
    }
    q.finish();
    if (!Commit(db, sqlite, &why)) return Fail("cannot create the library: " + why);
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
  if (now < 2) {
    // 1 -> 2: the search index.
    for (const QString& statement : GramsSchema(sqlite))
      if (!q.exec(statement)) return fail(q.lastError().text());
    if (!FillGrams(db, &why)) return fail(why);
  }
  if (now < 3) {
    // 2 -> 3: phone numbers found by their digits.
    if (!AddPhoneDigits(db, sqlite, &why)) return fail(why);
  }
  if (now < 4) {
    // -> 4: the chain of the records there are, then the triggers.
    for (const QString& statement : ChainColumns())
      if (!q.exec(statement)) return fail(q.lastError().text());
    if (!FillChain(db, &why)) return fail(why);
    for (const QString& statement : ChainTriggers(sqlite))
      if (!q.exec(statement)) return fail(q.lastError().text());
  }
  if (now < 5) {
    // -> 5: the outcomes as codes.
    for (const QString& statement : CodeColumns())
      if (!q.exec(statement)) return fail(q.lastError().text());
    if (!CodeOutcomes(db, sqlite, &why)) return fail(why);
  }
  if (now < kLibrarySchemaVersion &&
      !q.exec(QStringLiteral("UPDATE schema_version SET version = %1").arg(kLibrarySchemaVersion)))
    return fail(q.lastError().text());
  if (!Commit(db, sqlite, &why)) return fail(why);
  return true;
}
