// What a settings file may hold, value by value, so that nothing the panel
// cannot take exactly as written is loaded into the pages or sent to it.
//
// Each setting that a write sends has a rule:
//   Phones   Phone1..Phone12                 digits and "+", at most 20 (may be empty)
//   React, Norm, 24Hours, Other FastGuard/WaitSend, GSM MODE1..MODE3   0 or 1
//   Other    TimeOut, TimeOut2               integer 0..255
//   Keys     Key0..Key9                      1 to 16 hexadecimal digits, either case
//   ts1, ts2 slider0..slider4                integer 0..1023 (sent only with the ADC page)
//   GSM      RING                            integer 0..5 (the item index of cbRing)
// and two rules tie values together: the two rows of a loop (Norm N and
// Norm N + 4) cannot both be the normal state, and MODE1..MODE3 name one GSM
// module (two of them 1 is refused, and so is all three 0). A key name given twice in one section (in any letter
// case, also in two parts of one section) is refused as ambiguous.
//
// Pure functions on a loaded file; any thread.
#pragma once

#include <QString>
#include <optional>
#include <vector>

class TIniFile;

class TSettingsCheck {
 public:
  // One value that cannot be loaded as it stands.
  struct TProblem {
    QString Section;
    QString Key;
    QString Text;  // "[Phones] Phone1, line 3: ..." without the file name
  };

  // adc: the thresholds (ts1, ts2) count as settings that are sent.
  // forWrite: also the rule that only a write needs (see CheckSettingsForWrite).
  TSettingsCheck(const TIniFile& ini, bool adc, bool forWrite = false);

  // Whether the file holds any of the sections above.
  bool HasSettings() const { return hasSettings_; }
  // The values present that break their rule or are given twice, in file order.
  const std::vector<TProblem>& Problems() const { return problems_; }
  // Whether the value of section/key must be left out of a load.
  bool Rejected(const QString& section, const QString& key) const;
  // The first setting that is sent but not in the file ("[Other] TimeOut"), if any.
  std::optional<QString> FirstMissing() const { return missing_; }

 private:
  void CheckValues(const TIniFile& ini, bool adc);
  void CheckGroups(const TIniFile& ini);
  void CheckThresholdOrder(const TIniFile& ini);
  void Reject(const QString& section, const QString& key, int line, const QString& text);

  bool hasSettings_ = false;
  std::vector<TProblem> problems_;
  std::optional<QString> missing_;
};

// The strict check of "write": loads the file and gives the reason it must not
// be sent, naming the file, the section, the key and the rule; nothing when it
// can be sent as it stands: it holds every setting that is sent, each within
// its rule. adc: the thresholds are sent too, and then each channel's five
// must also rise strictly from slider0 to slider4, since the slider moves
// thumbs that overlap or cross before they are sent. (A window load takes
// such thresholds as the slider allows, as files saved before the ADC page
// was ever shown hold five zeros.)
std::optional<QString> CheckSettingsForWrite(const QString& fileName, bool adc);
