// Safe provisioning on the command line: reading the panel into the pages,
// comparing it with a settings file (diff), a backup before a write and a
// check of the panel after it. Each step runs on the session's connection.
//
// GUI thread only (the thread that owns the off-screen main window).
#pragma once

#include <QString>
#include <string>

#include "model/Settings.h"

class TForm1;
class TSession;

// Read all (write false) or Write all, then with adc the same on the ADC
// page. exOk, or, after the final line, the status of the failure (the link
// is then ended).
int RunAll(TForm1& form, TSession& session, bool adc, bool write);
// Reads the whole panel into the pages as Read all does (the ADC channels too
// with adc). exOk, or, after the final line, the status of the failure (the
// link is then ended).
int ReadIntoPages(TForm1& form, TSession& session, bool adc);

// diff: the panel against the settings file in, as a write of that file
// would leave the panel. One line a difference on standard output; exOk when
// they agree, exDifferent when not.
int DiffPanel(TForm1& form, TSession& session, const QString& port, const std::string& phone, const QString& in,
              bool adc);

// write --backup: on the open connection, reads the panel and saves it into
// backup (atomically, as read --out does), then loads in into the pages
// again. Anything but exOk means nothing may be written (the link is ended).
int BackupBeforeWrite(TForm1& form, TSession& session, const QString& port, const QString& in,
                      const QString& backup, bool adc);

// write --verify: reads the panel back and compares it with what was
// written; every difference is listed on standard output and gives
// exExchange. Ends the link.
int VerifyAfterWrite(TForm1& form, TSession& session, const TSettings& written, bool adc);
