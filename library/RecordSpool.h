// Records waiting for their library: when a library cannot take a record
// (the server away, the disk full, the file locked, no answer in time) it is
// kept here, one private file (0600) each in a private directory (0700),
// with the identity of the library it is for (TLibraryPlace::Identity), and
// stored there, and only there, when that library next opens, oldest
// first. A record keeps its Uid, so one stored but not yet removed (a crash
// between the two, or an answer that came after the time given) is not
// stored twice.
//
// Files only; any thread, one spool directory per user.
#pragma once

#include <QMap>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "library/Library.h"

// What a spool file holds.
struct TSpooled {
  QString Site;
  // The identity of the library it waits for; empty in the files of
  // earlier versions, which noted none.
  QString Library;
  TRecord Record;
};

// The record a spool file's bytes hold, or nothing with *why saying why no
// library will ever take it (no JSON, no uid, a site name the library
// refuses, a bad time, an unknown kind, settings that are not a settings
// file). Bytes from anywhere: the only reader of spool files.
std::optional<TSpooled> ParseSpoolFile(const QByteArray& bytes, QString* why);

class TRecordSpool {
 public:
  // legacyLibrary: the identity of the library that records spooled by
  // earlier versions (no library noted) wait for.
  explicit TRecordSpool(QString dir, QString legacyLibrary = QString());

  // Keeps the record for the library of that identity; false with *error
  // when even that failed.
  bool Put(const QString& library, const QString& site, TRecord record, QString* error);
  // The records waiting, for any library.
  int Count() const;
  // The records waiting, by the identity of their library (a damaged file,
  // which a sync sets aside, under "").
  QMap<QString, int> Destinations() const;
  // The records waiting that earlier versions spooled (all for legacyLibrary).
  int Legacy() const;
  // The records set aside in QuarantineDir().
  int Quarantined() const;
  // Stores every record waiting for the library open in library (creating
  // its site when missing), removing each once stored, while goOn() says
  // so; records for other libraries are left as they are. A file no library
  // would ever take (see ParseSpoolFile) is moved to QuarantineDir(), with
  // NAME.why beside it holding one line that says why. The number stored;
  // *error names the first failure.
  int Sync(TLibrary& library, QString* error, const std::function<bool()>& goOn = {});

  const QString& Dir() const { return dir_; }
  const QString& LegacyLibrary() const { return legacy_; }
  QString QuarantineDir() const { return dir_ + QStringLiteral("/quarantine"); }

 private:
  QString dir_;
  QString legacy_;
};

// The time the command line gives the library after the panel's last
// answer: past it, the records wait in the spool. The run ends within a
// second of that answer: the rest is for the port's closing, the spool and
// the program's exit.
inline constexpr std::chrono::milliseconds kLibraryBudget{900};

// What became of the records of an operation.
struct TRecorded {
  enum class TWhere { Stored, Spooled, NotRecorded };
  TWhere Where = TWhere::Stored;
  // One line when not stored.
  QString Warning;
  // Records in the spool for other libraries, left there.
  int ForOthers = 0;
};

// What the command line does after a panel operation with a site: opens the
// library, stores what waits for it in the spool, then the records
// (creating the site when it is new), all within budget. The work runs on a
// thread of its own; when the budget is over first, the records not stored
// go to the spool, and the work still running is left behind: it stores
// nothing more (it ends at the latest when libpq's connection time-out or
// the statement time-out ends it), and LibraryWorkLeft() says so until it
// ends.
TRecorded RecordOperations(const TLibraryPlace& place, const TRecordSpool& spool, const QString& site,
                           std::vector<TRecord> records, std::chrono::milliseconds budget = kLibraryBudget);
// One record: empty when stored, else one warning line.
QString RecordOperation(const TLibraryPlace& place, const QString& spoolDir, const QString& site, TRecord record,
                        std::chrono::milliseconds budget = kLibraryBudget);

// Whether work that RecordOperations left behind still runs: a program
// ends then with _exit, never through the destructors that work still uses.
bool LibraryWorkLeft();
// Waits until no work left behind runs (tests).
void WaitForLibraryWork();
