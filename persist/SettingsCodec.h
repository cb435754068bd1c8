// Settings files in INI form, read into and written from the settings model.
//
// Sections and keys, in the order they are written (also the order of the
// sections in a new file):
//   Connect  ComPort             the port's name
//   Debug    Log                 the debug log's mark (1/0)
//   Phones   Phone1..Phone12     then the fields of model/Fields.h, group by
//   React    React1..React12     group, as far as the settings hold them:
//   Norm     Norm5..Norm12       flags "1"/"0", numbers in decimal, keys as
//   24Hours  24-1..24-4          16 upper-case hexadecimal digits (a key of
//   Other    FastGuard, TimeOut, WaitSend, TimeOut2      all ones as zeros),
//   Keys     Key0..Key9
//   ts1, ts2 slider0..slider4    (only with the ADC thresholds)
//   GSM      MODE1..MODE3, RING  the module as three flags, the ring's index
// Files are written in UTF-8; Windows-1251 files are read (TIniFile).
//
// Two ways to read a file:
//  - strict (write, diff): the file must hold every setting that is sent,
//    each within its rule, or it is refused with the file, section, key and
//    rule named;
//  - lenient (the window's Load): a value that breaks its rule is skipped and
//    listed, and a file without [ts1] and [ts2] leaves the thresholds alone.
//    A missing key gives its default (the GSM page keeps its state) when
//    "current.ini" is loaded at start; a file the user loads, or a library
//    record, leaves a setting it lacks as it was and lists it.
// Two rules tie values together: the two rows of a loop (Norm N and Norm
// N + 4) cannot both be the normal state, and MODE1..MODE3 name one GSM
// module. A key name given twice in one section (in any letter case) is
// refused as ambiguous.
//
// Pure functions on files and values; one thread at a time per file.
#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "model/Fields.h"
#include "model/Settings.h"
#include "persist/SmallFile.h"

class TIniFile;

struct TSettingsProblem {
  QString Section;
  QString Key;
  QString Text;            // "[Phones] Phone1, line 3: ..." without the file name
  std::vector<int> Lines;  // every line that gives the key, 1-based
};

// What a setting that a file lacks gives when the file is loaded over
// settings.
enum class TAbsentKeys {
  Defaults,  // its default, the GSM settings excepted: "current.ini" at start
  Kept,      // nothing, it stays as it was: a file the user loads, a record
};

// What a settings file holds besides the settings.
struct TFileHeader {
  QString Port;
  bool Log = false;
};

struct TDecodedSettings {
  TSettings Settings;
  TFileHeader Header;
  bool HasSettings = false;                  // any of the settings sections
  bool HasValues = false;                    // a key of any setting, refused ones too
  bool Taken = false;                        // the load took the values
  TFileRead Read = TFileRead::Ok;            // what reading the file gave
  std::vector<TSettingsProblem> Problems;    // values skipped, in file order
  std::optional<QString> Missing;            // first sent setting not in the file
  // The settings of the groups read that the file does not give, in the
  // order of the field table. A loop's normal state and the GSM module are
  // each held by several keys: a "1" taken for one of them gives the others,
  // which are then not absent.
  std::vector<const TField*> Absent;
};

// Reads an INI file in memory over base. sent: the groups a write sends
// (they decide what counts as missing, and which thresholds are checked).
// absent: what a setting the file lacks gives (strict reads refuse such a
// file anyway).
TDecodedSettings DecodeSettings(const TIniFile& ini, const TSettings& base, TGroups sent,
                                TAbsentKeys absent = TAbsentKeys::Defaults);
// Writes the header and the groups the settings hold into an INI file in
// memory; every other line stays.
void EncodeSettings(const TSettings& settings, const TFileHeader& header, TIniFile& ini);

// The strict read of write and diff: the settings of the groups asked for,
// or the reason the file must not be sent, naming the file, the section, the
// key and the rule.
std::optional<QString> ReadSettingsForWrite(const QString& fileName, TGroups groups, TSettings* settings);

// Loads a file leniently over base (the window's Load); decoded->Taken says
// whether its values were taken. false with *error when it cannot be read
// ("Unable to read <file>"), when an existing file holds no settings
// (nothing taken), or when values were skipped (the others taken; *error
// lists every one).
// With TAbsentKeys::Kept (the user's Load) a missing file, and a file that
// gives no setting at all, are not loaded either, and a file that lacks
// settings is taken for what it gives and also fails, *error listing what it
// lacks. The thresholds count only in a file with [ts1] or [ts2].
bool LoadSettingsFile(const QString& fileName, const TSettings& base, TDecodedSettings* decoded, QString* error,
                      TAbsentKeys absent = TAbsentKeys::Defaults);
// The settings text of a library record loaded over base as the user's Load
// takes a file: only the groups whose sections the text holds (a record of
// one page's read holds that page's group), what it lacks of them kept and
// listed in Absent. Taken when it gives any setting.
TDecodedSettings LoadSettingsText(const QByteArray& text, const TSettings& base);

// Saves into a file in one atomic replace. fresh: a new file holding only
// these settings and the header, whatever the file held before; otherwise
// every other line of an existing file stays. On failure the old file stays
// whole, *error gets "Unable to write to <file>".
bool SaveSettingsFile(const QString& fileName, const TSettings& settings, const TFileHeader& header, bool fresh,
                      QString* error);

// "[Phones] Phone3: panel '+79161234567' file '+79031234567'".
QString DifferenceLine(const TDifference& d, const QString& leftName, const QString& rightName);
// "[Phones] Phone3".
QString FieldName(const TField& field);
