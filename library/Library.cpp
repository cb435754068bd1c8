#include "library/Library.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

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

bool TLibrary::FailMissing() {
  missing_ = true;
  return Fail("there is no library at " + place_.Display() +
              " (site add, library import or a panel command with --site creates one)");
}

bool TLibrary::Open(const TLibraryPlace& place, TLibraryCreate create) {
  place_ = place;
  create_ = create;
  readOnly_ = false;
  missing_ = false;
  error_.clear();
  const bool sqlite = place.Engine == TLibraryPlace::TEngine::SQLite;
  QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? "QSQLITE" : "QPSQL", connection_);
  if (!db.isValid()) return Fail(QStringLiteral("the Qt SQL driver for %1 is not installed").arg(sqlite ? "SQLite" : "PostgreSQL"));
  if (sqlite) {
    const QFileInfo info(place.File);
    // An empty file is one whose creator has not written to it yet.
    if (create == TLibraryCreate::Never && (!info.exists() || (info.isFile() && info.size() == 0)))
      return FailMissing();
    if (!info.exists()) {
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
    db.setConnectOptions(place.ConnectOptions());
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
