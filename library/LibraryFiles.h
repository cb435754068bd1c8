// Sites out to a folder of settings files and back in (library export and
// library import).
//
// An export writes a file per site, archived ones too: its latest record's
// settings as a file write accepts, and a [Site] section with the site's own
// fields (Name, Address, Notes, Number, Archived; "\" escapes a line break
// and itself), so that importing the folder into an empty library gives the
// same sites and settings back, whatever their file names became. A site
// without records gives a file of its [Site] section alone.
//
// An import makes a record (a backup) of each *.ini file write accepts, for
// the site its [Site] Name= names, else the file's name without ".ini"; the
// thresholds come with a file that has [ts1] or [ts2]. A site it creates
// takes the section's fields; one that exists keeps its own. A file whose
// settings are the site's latest record already adds nothing.
//
// Files and the library only; the thread that opened the library.
#pragma once

#include <QString>
#include <QStringList>

#include "library/Library.h"

struct TFilesDone {
  int Files = 0;         // export: files written; import: records added
  int Sites = 0;         // import: sites added without a record (a file of [Site] alone)
  int Unchanged = 0;     // import: files the library holds already
  QStringList Refused;   // one line each: the site or file, and why
};

// The names of the sites' files, in the sites' order: the name with the
// characters file systems refuse (any of / \ : * ? " < > |, control
// characters) made "_", never hidden, cut on a character's boundary to fit
// 248 bytes of UTF-8 with ".ini" (255 while it is written under a temporary
// name); names that would be one file (in any letter
// case) take " (2)", " (3)", ... the site whose name is its file's keeping
// it plain.
QStringList ExportFileNames(const QStringList& sites);

// Every site into dir, which exists. A file that cannot be written is named
// in Refused with why, and the others are written; false with *why when the
// library fails (what was written stays).
bool ExportSites(TLibrary& library, const QString& dir, TFilesDone* done, QString* why);

// Every *.ini file of dir, by name. A file refused (write would refuse it,
// or the library refuses its site) is named in Refused; false with *why when
// the library fails.
bool ImportSites(TLibrary& library, const QString& dir, TFilesDone* done, QString* why);
