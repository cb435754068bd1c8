// The site library: every panel the installer looks after (a site) and the
// whole history of its settings (records), kept in SQLite on this computer or
// in PostgreSQL for a team, through Qt SQL with the same queries on both.
//
// A site has a unique name (up to 200 characters, no control characters), an
// address, notes and the number of its panel's GSM data line; it is archived,
// never deleted. A record is appended once and never changed: time (UTC),
// operator, host, kind, outcome (a code, with a detail), firmware version,
// port or number, and the settings as the INI text of a settings file. The database itself refuses
// to change or delete a record or to delete a site (triggers), and each
// record holds a hash of its content and of the site's previous record, so
// that Check() finds a record changed with the triggers out of the way.
//
// One TLibrary holds one Qt SQL connection and belongs to the thread that
// opened it (Qt SQL connections are per thread): a window opens its own
// TLibrary on a worker thread. Every call returns at once with what the
// database said; none throws.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "library/RecordOutcome.h"

// The schema this program writes; a library with a higher version is opened
// read-only.
inline constexpr int kLibrarySchemaVersion = 5;

enum class TRecordKind { Read, Write, Verify, Backup, Compare };
QString KindName(TRecordKind kind);
std::optional<TRecordKind> KindFromName(const QString& name);

struct TSite {
  qint64 Id = 0;
  QString Name;
  QString Address;
  QString Notes;
  QString DataNumber;
  bool Archived = false;
  QDateTime Created;  // UTC
  QDateTime Changed;  // UTC
};

struct TRecord {
  // Unique over every library: a record stored twice (from the spool after
  // a crash) is kept once. AddRecord makes one when empty.
  QString Uid;
  int Number = 0;            // 1, 2, ... within its site
  QDateTime Time;            // UTC
  QString Operator;
  QString Host;
  TRecordKind Kind = TRecordKind::Read;
  TRecordOutcome Outcome = TRecordOutcome::Success;
  QString Detail;            // what the outcome leaves open (RecordOutcome.h)
  QString Firmware;
  QString Port;              // the port, or the number dialled
  QByteArray Settings;       // INI text of a settings file
};

// Where the library lives: a SQLite file or a PostgreSQL URL
// ("postgresql://user@host:port/dbname", "?host=/socket/dir" for a Unix
// socket), with libpq's parameters sslmode, sslrootcert, sslcert, sslkey,
// connect_timeout and application_name; what the URL leaves out libpq takes
// from its PG* environment variables. Never holds a password: libpq finds it
// in ~/.pgpass or PGPASSWORD.
struct TLibraryPlace {
  enum class TEngine { SQLite, PostgreSQL } Engine = TEngine::SQLite;
  QString File;      // SQLite
  QString User, Host, Database;
  int Port = -1;
  QMap<QString, QString> Parameters;  // libpq's name -> value, host aside
  // The place as the user may be shown it (no password, ever): the file,
  // or the server, user and database.
  QString Display() const;
  // The URL that gives this place back, its parameters with it.
  QString Url() const;
  // The options for Qt's PostgreSQL driver: the URL's parameters, quoted
  // as libpq reads them, and nothing that would override a PG* variable.
  QString ConnectOptions() const;
  // Which library this is, the same however the place was written: the
  // SQLite file's absolute canonical path, or the canonical URL
  // "postgresql://user@host:port/dbname" (a socket directory as
  // "?host=/dir"), with what the URL leaves out taken as libpq takes it
  // (PGUSER, PGHOST, PGPORT, else the system user, the local socket and
  // 5432) and no parameters: records waiting for a library are bound to it,
  // and it is a place --library takes.
  QString Identity() const;
};

// Parses a place: a postgresql:// or postgres:// URL, or a file name. A URL
// that carries a password in any form is refused (it would end up in shell
// histories), and so is a parameter the library does not take; the reason
// never shows the password.
std::optional<TLibraryPlace> ParseLibraryPlace(const QString& text, QString* why);

// A site name the library accepts: why not, or nothing.
std::optional<QString> SiteNameProblem(const QString& name);

// Whether Open may create a library that is not there: commands that only
// read one never do.
enum class TLibraryCreate { IfMissing, Never };

class TLibrary {
 public:
  TLibrary();
  ~TLibrary();
  TLibrary(const TLibrary&) = delete;
  TLibrary& operator=(const TLibrary&) = delete;

  // Opens (and creates or upgrades) the library. false with Error() when it
  // cannot be used at all; a newer schema opens read-only (ReadOnly(), with
  // Error() saying so). With TLibraryCreate::Never a missing SQLite file, or
  // a database without the library's tables, is left as it is: false, and
  // Missing().
  bool Open(const TLibraryPlace& place, TLibraryCreate create = TLibraryCreate::IfMissing);
  bool IsOpen() const;
  // The place of the last Open.
  const TLibraryPlace& Place() const { return place_; }
  // Work within a budget, set before Open: a locked SQLite file is waited
  // for until deadline at the most (else 10 s), a PostgreSQL statement runs
  // until then at the most. libpq gives up a connection after 2 s at the
  // least: a caller that must not wait leaves the work behind.
  void SetDeadline(std::chrono::steady_clock::time_point deadline) { deadline_ = deadline; }
  // Asked just before a record's commit: false rolls the record back, and
  // AddRecord fails saying the time ran out.
  void SetCommitGate(std::function<bool()> gate) { commitGate_ = std::move(gate); }
  // The last Open found no library and was not to create one.
  bool Missing() const { return missing_; }
  bool ReadOnly() const { return readOnly_; }
  // The last failure, for a final line.
  const QString& Error() const { return error_; }
  // How many calls have failed so far: a call that returns nothing (an empty
  // history, no such site) failed when this grew.
  int Failures() const { return failures_; }

  // Site changes. false with Error() on a refused name, a name taken, a
  // missing site, or a database failure.
  bool AddSite(const TSite& site);
  bool UpdateSite(const QString& name, const TSite& site);
  bool ArchiveSite(const QString& name);
  // Brings an archived site back into the list of sites, its history as it was.
  bool RestoreSite(const QString& name);
  std::optional<TSite> FindSite(const QString& name);
  // Sites whose name, address, notes, data number or any phone number or key
  // of their latest record holds text (any letter case); archived ones only
  // with archived. At most limit, by name. A text of digits and a phone
  // number's separators finds the numbers by their digits too, 8 and +7
  // alike for 11-digit Russian numbers.
  std::vector<TSite> Search(const QString& text, int limit, bool archived = false);

  // Appends a record to the site; its Number is set. false with Error().
  bool AddRecord(const QString& site, TRecord* record);
  std::vector<TRecord> History(const QString& site, bool withSettings = false);
  std::optional<TRecord> Record(const QString& site, int number);
  // Integrity: the problems found (empty when clean), or nothing with Error()
  // when the check itself failed.
  std::optional<QStringList> Check();

  // The connection (this thread's), for tests and the benchmark.
  QSqlDatabase Database() const;

 private:
  bool Fail(const QString& why);
  bool FailMissing();
  bool Migrate();
  std::optional<qint64> SiteId(const QString& name);
  std::vector<TSite> SearchText(const QString& text, int limit, bool archived);

  QString connection_;
  TLibraryPlace place_;
  TLibraryCreate create_ = TLibraryCreate::IfMissing;
  bool readOnly_ = false;
  bool missing_ = false;
  QString error_;
  int failures_ = 0;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  std::function<bool()> commitGate_;
};
