#include "library/Library.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

namespace {

// Held while a SQLite library is opened, and created or upgraded: programs
// opening libraries of one folder take turns. SQLite's own locks do not
// cover a file that is still being made (two programs may each find it new
// and empty, and one is refused at once, without waiting). A lock on the
// folder, not on the file: closing another descriptor of the file would
// release SQLite's own locks on it.
class TOpeningLock {
 public:
  explicit TOpeningLock(const QString& file) {
    fd_ = open(QFile::encodeName(QFileInfo(file).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0)
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~TOpeningLock() {
    if (fd_ >= 0) close(fd_);
  }
  TOpeningLock(const TOpeningLock&) = delete;
  TOpeningLock& operator=(const TOpeningLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace

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
  ++failures_;
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
  std::optional<TOpeningLock> opening;
  if (sqlite) {
    opening.emplace(place.File);
    const QFileInfo info(place.File);
    // An empty file is one whose creator has not written to it yet.
    if (create == TLibraryCreate::Never && (!info.exists() || (info.isFile() && info.size() == 0)))
      return FailMissing();
    if (!info.exists()) {
      // Created private before SQLite writes a byte to it, and only when not
      // there: another program creating it at the same moment may be
      // writing to it already.
      QFile file(place.File);
      if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (!file.setPermissions(QFile::ReadOwner | QFile::WriteOwner))
          return Fail("cannot create the library " + place.File + ": " + file.errorString());
      } else if (!QFileInfo::exists(place.File)) {
        return Fail("cannot create the library " + place.File + ": " + file.errorString());
      }
    }
    db.setDatabaseName(place.File);
    qint64 wait = 10000;
    if (deadline_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - std::chrono::steady_clock::now());
      // Never 0: SQLite would not wait at all, not even for a lock about to go.
      wait = std::max<qint64>(1, left.count());
    }
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(wait));
  } else {
    db.setDatabaseName(place.Database);
    if (!place.User.isEmpty()) db.setUserName(place.User);
    if (!place.Host.isEmpty()) db.setHostName(place.Host);
    if (place.Port > 0) db.setPort(place.Port);
    // Within a budget, libpq's shortest time-out (2 s) bounds the work left
    // behind; the later connect_timeout is the one libpq takes.
    db.setConnectOptions(place.ConnectOptions() + (deadline_ ? QStringLiteral(";connect_timeout=2") : QString()));
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
    if (deadline_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - std::chrono::steady_clock::now());
      const qint64 ms = std::max<qint64>(1, left.count());
      q.exec(QStringLiteral("SET statement_timeout = %1").arg(ms));
      q.exec(QStringLiteral("SET lock_timeout = %1").arg(ms));
    }
  }
  if (!Migrate()) {
    db.close();
    return false;
  }
  return true;
}
