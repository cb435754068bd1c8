// What both front ends (the command line and the window) share around the
// site library: where it is, where records wait when it is away, who is
// working, and the settings as a record holds them (the text of a settings
// file).
//
// Files and the environment only; any thread (ProgramDir's test override is
// set before any of these run).
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "library/Library.h"
#include "model/Operation.h"
#include "library/RecordSpool.h"
#include "model/Settings.h"

// Where the library is: option (the command line's --library), else
// $OSTREL_LIBRARY, else [Library] Url= of "current.ini" (the window's
// setting), else library.sqlite in the data directory.
std::optional<TLibraryPlace> FindLibraryPlace(const QString& option, QString* why);

// The private directory where records wait for their library: always in
// the user's data directory (UserDataDir), also for a copy run from its
// build tree, so that every copy of the program finds them.
QString LibrarySpoolDir();
// The spool there. Records that earlier versions spooled noted no library:
// they wait for the default library file of the user's data directory
// (library.sqlite there), the one those versions used unless told
// otherwise, never for whichever library opens next.
TRecordSpool LibrarySpool();

// The operator of a record: the system user.
QString SystemUser();

// The settings as the text of a settings file, with "Connect"/"ComPort" set
// to port: the bytes Save would write to a new file.
QByteArray RecordSettingsText(const TSettings& settings, const QString& port);

// A record's settings back as a value: the groups whose sections the text
// holds (the ADC thresholds only with [ts1] or [ts2]). Records kept before
// reads were canonical may hold both rows of a loop as its normal state:
// they read as the lower row, as every read does now.
TSettings RecordSettings(const QByteArray& text);
// A record's text as a file write accepts (show): the same rule applied,
// every other line as it was.
QByteArray CanonicalRecordText(const QByteArray& text);

// How an operation's result is recorded: its outcome's code.
TRecordOutcome RecordOutcomeOf(TOutcome outcome);
inline TRecordOutcome RecordOutcomeOf(const TOperationResult& result) { return RecordOutcomeOf(result.Outcome); }
