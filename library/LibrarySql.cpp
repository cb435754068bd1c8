#include "library/LibrarySql.h"

#include <QSqlError>

namespace LibrarySql {

QString Now() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs); }
QDateTime Time(const QVariant& v) {
  QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
  t.setTimeSpec(Qt::UTC);
  return t;
}

QVariant Text(const QString& text) { return QVariant(text.isNull() ? QStringLiteral("") : text); }

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

QString Placeholders(int count, const QString& one) {
  QStringList list;
  for (int i = 0; i < count; ++i) list << one;
  return list.join(QStringLiteral(", "));
}

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

TDbFault FaultOf(const QSqlError& error, bool sqlite) {
  const QString code = error.nativeErrorCode();
  if (!sqlite) {
    // unique_violation; serialization_failure, deadlock_detected, lock_not_available.
    if (code == QLatin1String("23505")) return TDbFault::Unique;
    if (code == QLatin1String("40001") || code == QLatin1String("40P01") || code == QLatin1String("55P03"))
      return TDbFault::Busy;
    return TDbFault::Other;
  }
  // Qt gives SQLite's extended result code where SQLite has one: the low
  // byte is the primary code.
  bool number = false;
  const int result = code.toInt(&number);
  if (!number) return TDbFault::Other;
  constexpr int kBusy = 5, kLocked = 6, kConstraint = 19;
  constexpr int kConstraintPrimaryKey = kConstraint | (6 << 8), kConstraintUnique = kConstraint | (8 << 8);
  if (result == kConstraintUnique || result == kConstraintPrimaryKey) return TDbFault::Unique;
  if ((result & 0xff) == kBusy || (result & 0xff) == kLocked) return TDbFault::Busy;
  return TDbFault::Other;
}

}  // namespace LibrarySql
