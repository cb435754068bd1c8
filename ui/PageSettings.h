// The part of a settings file that lives in the window: moving settings
// between the settings model and the pages' controls, and the files the
// window saves and loads through it.
//
// The controls, as the field table names them (model/Fields.h): etPhone1..12,
// cbReact1..12, rbNorm5..12, cb241..244, seTimeOut, seTimeOut2, cbFastGuard,
// cbWaitSend on the common settings page; the rows of TMLV on the keys page;
// the thumbs of ts and ts2 on the ADC page; rb1..rb3 and cbRing on the GSM
// page. Applying settings sets the controls directly, so the pages' own rules
// follow: cbReact1 enables or clears cbWaitSend before WaitSend is set, and
// radio buttons of one group exclude each other.
//
// GUI thread only.
#pragma once

#include <QString>
#include <functional>

#include "model/Settings.h"

class QComboBox;
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

// The settings the pages show; they hold the groups of the pages given.
TSettings ReadPages(const TSettingsTargets& t);
// Shows the groups that the settings hold in the pages given.
void ApplyToPages(const TSettingsTargets& t, const TSettings& settings);

class TPagesFile {
 public:
  explicit TPagesFile(TSettingsTargets targets);

  // Writes the pages, the port and the log mark into the file in one atomic
  // replace; every other line of the file stays. On failure the old file
  // stays whole, *error gets "Unable to write to <file>" and false is
  // returned.
  bool Save(const QString& fileName, QString* error = nullptr) const;
  // Puts the file's values into the controls (persist/SettingsCodec.h, the
  // lenient read). A missing file gives the defaults. A file that cannot be
  // read, or one that exists but holds none of the settings sections, fails
  // and changes nothing. A value that breaks its rule is not loaded, its
  // control keeps its value, the others are loaded, and false is returned
  // with *error listing every value left out. A file without [ts1] and
  // [ts2] leaves the ADC page alone. The port's name is taken when not
  // empty; Log "1" switches logging on, "0" never switches it off.
  bool Load(const QString& fileName, QString* error = nullptr) const;

 private:
  TSettingsTargets t_;
};
