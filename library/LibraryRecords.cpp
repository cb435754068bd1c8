#include "library/LibrarySql.h"

#include <QCryptographicHash>
#include <QHash>
#include <QSqlError>
#include <QUuid>

using namespace LibrarySql;

namespace {

const char* const kKinds[] = {"read", "write", "verify", "backup", "compare"};

// Whether a record is as stored: its hash of the second form, or of the
// first with the code and detail that its sentence gives (a record kept
// before outcome codes).
bool Holds(const QStringList& content, const QString& previous, const QString& hash) {
  if (RecordHash(content, previous) == hash) return true;
  const QStringList first = content.mid(0, kChainValues);
  if (RecordHash(first, previous) != hash) return false;
  // The columns outcome, code and detail of kCodedChainColumns.
  const auto [outcome, detail] = OutcomeOfSentence(content[6]);
  return content[10] == OutcomeCode(outcome) && content[11] == detail;
}

// The chains of a site's records, with the problems found: the first break
// of each site, named by the site and the record.
bool CheckChains(QSqlDatabase& db, QStringList* problems, QString* why) {
  struct TBreak {
    qint64 Site;
    QString What;
  };
  std::vector<TBreak> breaks;
  {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1, previous, hash FROM records ORDER BY site_id, number").arg(kCodedChainColumns)))
      return (*why = q.lastError().text(), false);
    qint64 site = -1;
    int lastNumber = 0;
    QString last;
    bool broken = false;
    QStringList content;
    while (q.next()) {
      content.clear();
      for (int i = 0; i < kCodedChainValues; ++i) content << q.value(i).toString();
      const qint64 siteId = q.value(0).toLongLong();
      const int number = q.value(1).toInt();
      if (siteId != site) {
        site = siteId;
        lastNumber = 0;
        last.clear();
        broken = false;
      }
      const QString previous = q.value(kCodedChainValues).toString();
      const QString hash = q.value(kCodedChainValues + 1).toString();
      if (!broken && previous != last) {
        broken = true;
        breaks.push_back({site, lastNumber == 0 ? QStringLiteral("record %1 does not start the chain of hashes").arg(number)
                                               : QStringLiteral("record %1 does not follow record %2 in the chain of hashes")
                                                     .arg(number)
                                                     .arg(lastNumber)});
      } else if (!broken && !Holds(content, previous, hash)) {
        broken = true;
        breaks.push_back({site, QStringLiteral("record %1 is not what was stored (its hash differs)").arg(number)});
      }
      last = hash;
      lastNumber = number;
    }
  }
  for (const TBreak& b : breaks) {
    const auto site = SiteById(db, b.Site, why);
    *problems << QStringLiteral("site %1: %2").arg(site ? site->Name : QStringLiteral("#%1").arg(b.Site), b.What);
  }
  return true;
}

}  // namespace

namespace LibrarySql {

// A record's hash: SHA-256, as 64 lower-case hex digits, over
//   "ostrel-record 2\n", then for each of the twelve columns of
//   kCodedChainColumns (site id, number, time, operator, host, kind,
//   outcome, firmware, port, settings, code, detail) and last the previous
//   record's hash ("" for a site's first record): its length in UTF-8 bytes
//   in decimal, ':', its UTF-8 bytes, '\n'.
// Records kept before outcome codes have the first form: "ostrel-record 1\n"
// and the ten columns of kChainColumns; their code and detail are their
// outcome sentence's (OutcomeOfSentence), checked apart.
// Each value is the text the column holds, the same on SQLite and
// PostgreSQL: numbers in decimal ("17"), the time as stored
// ("2026-12-11T10:55:42.123Z"), the kind by name ("read"), the settings as
// the INI text. The site is its id, which a rename keeps. Covering the
// previous hash makes a site's records one chain: a record changed or
// removed behind the program's back breaks it at that record.
QString RecordHash(const QStringList& content, const QString& previous) {
  QCryptographicHash sha(QCryptographicHash::Sha256);
  sha.addData(content.size() == kChainValues ? QByteArrayView("ostrel-record 1\n")
                                              : QByteArrayView("ostrel-record 2\n"));
  auto add = [&sha](const QString& value) {
    const QByteArray bytes = value.toUtf8();
    sha.addData(QByteArray::number(bytes.size()) + ':');
    sha.addData(bytes);
    sha.addData(QByteArrayView("\n"));
  };
  for (const QString& value : content) add(value);
  add(previous);
  return QString::fromLatin1(sha.result().toHex());
}

QString Stored(const QString& text) {
  const QString stored = QString::fromUtf8(text.toUtf8());
  return stored.isNull() ? QStringLiteral("") : stored;
}

}  // namespace LibrarySql

QString KindName(TRecordKind kind) { return QString::fromLatin1(kKinds[int(kind)]); }

std::optional<TRecordKind> KindFromName(const QString& name) {
  for (int i = 0; i < 5; ++i)
    if (name == QLatin1String(kKinds[i])) return TRecordKind(i);
  return std::nullopt;
}

bool TLibrary::AddRecord(const QString& site, TRecord* record) {
  if (readOnly_) return Fail(error_);
  if (record->Uid.isEmpty()) record->Uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
  QSqlDatabase db = Database();
  const bool sqlite = place_.Engine == TLibraryPlace::TEngine::SQLite;
  // Two programs may append to one site at once: the number is taken inside
  // the transaction, and a number taken twice (PostgreSQL) is tried again.
  for (int attempt = 0; attempt < 50; ++attempt) {
    QString why;
    if (!Begin(db, sqlite, &why)) return Fail("library: " + why);
    auto rollback = [&](const QString& text) {
      Rollback(db, sqlite);
      return Fail(text);
    };
    const auto id = SiteId(site);
    if (!id) return rollback(error_);
    // Every statement is finished before the commit: one left open keeps
    // SQLite from checkpointing, and its write-ahead log grows without end.
    int number = 0;
    QString previous;
    {
      QSqlQuery q(db);
      q.setForwardOnly(true);
      q.prepare("SELECT number, at FROM records WHERE uid = ?");
      q.addBindValue(record->Uid);
      if (!Exec(q, &why)) return rollback("library: " + why);
      if (q.next()) {
        // Stored before: the spool met a crash between storing and removing it.
        record->Number = q.value(0).toInt();
        record->Time = Time(q.value(1));
        q.finish();
        Rollback(db, sqlite);
        error_.clear();
        return true;
      }
      q.finish();
      // The site's latest record gives both the number and the hash the new
      // record follows, read inside the transaction that stores it: two
      // programs never chain onto the same record (SQLite holds the write
      // lock; on PostgreSQL the second one's number is taken and it retries).
      q.prepare("SELECT number, hash FROM records WHERE site_id = ? ORDER BY number DESC LIMIT 1");
      q.addBindValue(*id);
      if (!q.exec()) return rollback("library: " + q.lastError().text());
      const bool follows = q.next();
      number = follows ? q.value(0).toInt() + 1 : 1;
      previous = follows ? q.value(1).toString() : QString();
      q.finish();
    }
    const QString at = (record->Time.isValid() ? record->Time.toUTC() : QDateTime::currentDateTimeUtc())
                           .toString(Qt::ISODateWithMs);
    const QStringList content{QString::number(*id),       QString::number(number),       at,
                              Stored(record->Operator),   Stored(record->Host),          KindName(record->Kind),
                              QStringLiteral(""),         Stored(record->Firmware),      Stored(record->Port),
                              QString::fromUtf8(record->Settings), OutcomeCode(record->Outcome),
                              Stored(record->Detail)};
    {
      QSqlQuery insert(db);
      insert.prepare("INSERT INTO records (uid, site_id, number, at, operator, host, kind, outcome, firmware, port, "
                     "settings, code, detail, previous, hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
      insert.addBindValue(record->Uid);
      insert.addBindValue(*id);
      insert.addBindValue(number);
      for (int i = 2; i < content.size(); ++i) insert.addBindValue(content[i]);
      insert.addBindValue(Text(previous));
      insert.addBindValue(RecordHash(content, previous));
      if (!insert.exec()) {
        const QSqlError error = insert.lastError();
        insert.finish();
        Rollback(db, sqlite);
        // Another program took the number meanwhile (PostgreSQL): again.
        if (FaultOf(error, sqlite) == TDbFault::Unique) continue;
        return Fail("library: " + error.text());
      }
    }
    // The site is found by the latest record's numbers and keys.
    const QStringList terms = SearchTerms(record->Settings);
    if (!terms.isEmpty() && !StoreTerms(db, sqlite, *id, terms, &why)) return rollback("library: " + why);
    if (commitGate_ && !commitGate_()) return rollback("library: the time for the library ran out");
    if (!Commit(db, sqlite, &why)) return rollback("library: " + why);
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
  q.prepare(QStringLiteral("SELECT number, at, operator, host, kind, code, firmware, port, %1, detail FROM records "
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
    r.Outcome = OutcomeFromCode(q.value(5).toString()).value_or(TRecordOutcome::Unknown);
    r.Detail = q.value(9).toString();
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
      QStringLiteral("SELECT count(*) FROM records WHERE code NOT IN (%1)").arg(OutcomeCodesSql()),
      "SELECT count(*) FROM (SELECT site_id FROM records GROUP BY site_id HAVING count(*) <> max(number)) gaps",
  };
  const QStringList what{"records of no site", "search terms of no site", "records without settings or kind",
                         "records whose outcome is no known code", "sites whose record numbers have gaps"};
  for (int i = 0; i < checks.size(); ++i) {
    if (!q.exec(checks[i]) || !q.next()) {
      Fail("library: " + q.lastError().text());
      return std::nullopt;
    }
    if (q.value(0).toLongLong() > 0) problems << QStringLiteral("%1: %2").arg(what[i]).arg(q.value(0).toLongLong());
  }
  q.finish();
  // The chains, by this program's rules: a newer program's may differ.
  QSqlDatabase db = Database();
  QString why;
  if (!readOnly_ && !CheckChains(db, &problems, &why)) {
    Fail("library: " + why);
    return std::nullopt;
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
