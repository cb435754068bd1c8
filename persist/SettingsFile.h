// Settings files: a copy of the pages' controls, the chosen port and the
// debug-log mark in INI form ("current.ini" and the files the user saves).
//
// Sections and keys, in the order Save writes them (also the order of the
// sections in a new file):
//   Connect  ComPort             text of the port dialog's ComPorts
//   Debug    Log                 mnuLog's check mark (1/0)
//   Phones   Phone1..Phone12     etPhone1..etPhone12
//   React    React1..React12     cbReact1..cbReact12
//   Norm     Norm5..Norm12       rbNorm5..rbNorm12 (entries 1..4 have none)
//   24Hours  24-1..24-4          cb241..cb244
//   Other    FastGuard, TimeOut, WaitSend, TimeOut2
//   Keys     Key0..Key9          key text of TMLV rows 1..10
//   ts1, ts2 slider0..slider4    thumb positions of ts and ts2
//   GSM      MODE1..MODE3, RING  rb1..rb3, item index of cbRing
// Phone, React and Norm keys are written entry by entry, ts1 and ts2 thumb by
// thumb. The key text "FFFFFFFFFFFFFFFF" is never stored nor kept: it is
// saved and loaded as "0000000000000000".
//
// Load sets the controls directly, so the pages' own rules follow: cbReact1
// enables or clears cbWaitSend before WaitSend is read, and radio buttons of
// one group exclude each other (a later "1" wins). A missing key gives its
// default: empty, 0, "0000000000000000"; the GSM page keeps its state, and
// ComPorts keeps its text unless a non-empty one is stored. Log "1" switches
// logging on when it is off; "0" never switches it off.
//
// GUI thread only.
#pragma once

#include <QString>
#include <functional>

#include "persist/Snapshot.h"

class QComboBox;
class TIniFile;
class TformACP;
class TformCommon;
class TformGSM;
class TformKeys;

// What a settings file is a copy of.
struct TSettingsTargets {
  QComboBox* ComPorts = nullptr;
  TformCommon* Common = nullptr;
  TformKeys* Keys = nullptr;
  TformACP* ACP = nullptr;
  TformGSM* GSM = nullptr;
  // mnuLog's check mark, and its click (called only while unmarked).
  std::function<bool()> LogMarked;
  std::function<void()> LogClick;
};

class TSettingsFile {
 public:
  explicit TSettingsFile(TSettingsTargets targets);

  // Writes every value into the file in one atomic replace; every other line
  // of the file stays. On failure the old file stays whole, *error gets
  // "Unable to write to <file>" and false is returned.
  bool Save(const QString& fileName, QString* error = nullptr) const;
  // Puts the file's values into the controls. A missing file, section or key
  // gives the defaults. A file that exists but cannot be read (or is not a
  // regular file of at most 1 MiB) fails with *error "Unable to read <file>",
  // and one that holds none of the settings sections fails as well: nothing
  // changes. A value that breaks its rule (TSettingsCheck) is not loaded, its
  // control keeps its value, the others are loaded, and false is returned
  // with *error listing every value left out.
  bool Load(const QString& fileName, QString* error = nullptr) const;
  // The pages' settings as Save writes them (the ADC thresholds with adc).
  TSnapshot Snapshot(bool adc) const;

  static inline const QString EmptyKey = QStringLiteral("0000000000000000");
  static inline const QString BlankKey = QStringLiteral("FFFFFFFFFFFFFFFF");

 private:
  // Writes every value into the INI file in memory.
  void Store(TIniFile& ini) const;

  TSettingsTargets t_;
};
