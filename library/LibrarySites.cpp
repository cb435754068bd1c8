#include "library/LibrarySql.h"

#include <QSqlError>

using namespace LibrarySql;

std::optional<QString> SiteNameProblem(const QString& name) {
  if (name.trimmed().isEmpty()) return QStringLiteral("a site needs a name");
  if (name.size() > 200) return QStringLiteral("a site name holds at most 200 characters");
  for (const QChar c : name)
    if (c.category() == QChar::Other_Control) return QStringLiteral("a site name holds no control characters");
  return std::nullopt;
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

bool TLibrary::RestoreSite(const QString& name) {
  if (readOnly_) return Fail(error_);
  const auto id = SiteId(name);
  if (!id) return false;
  QSqlQuery q(Database());
  q.prepare("UPDATE sites SET archived = 0, changed = ? WHERE id = ?");
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
