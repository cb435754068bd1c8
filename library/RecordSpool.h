// Records waiting for the library: when the library cannot take a record
// (the server away, the disk full, the file locked) it is kept here, one
// private file (0600) each in a private directory (0700), and stored at the
// next successful connection, oldest first. A record keeps its Uid, so one
// stored but not yet removed (a crash between the two) is not stored twice.
//
// Files only; any thread, one spool directory per user.
#pragma once

#include <QString>

#include "library/Library.h"

class TRecordSpool {
 public:
  explicit TRecordSpool(QString dir);

  // Keeps the record for later; false with *error when even that failed.
  bool Put(const QString& site, TRecord record, QString* error);
  // The records waiting.
  int Count() const;
  // The records set aside in QuarantineDir().
  int Quarantined() const;
  // Stores every waiting record (creating its site when missing), removing
  // each once stored. A file no library would ever take (a site name it
  // refuses, a damaged file: no JSON, no uid, a bad time, an unknown kind,
  // settings that are not a settings file) is moved to QuarantineDir(), with
  // NAME.why beside it holding one line that says why. The number stored;
  // *error names the first failure.
  int Sync(TLibrary& library, QString* error);

  const QString& Dir() const { return dir_; }
  QString QuarantineDir() const { return dir_ + QStringLiteral("/quarantine"); }

 private:
  QString dir_;
};

// What the command line does after each panel operation with a site: opens
// the library, stores what the spool holds, then the record (creating the
// site when it is new); the record goes
// to the spool when that fails. Empty when stored, else one warning line.
QString RecordOperation(const TLibraryPlace& place, const QString& spoolDir, const QString& site, TRecord record);
