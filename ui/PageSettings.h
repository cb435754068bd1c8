// The pages as views of the settings model, and the settings files the
// window saves and loads through the model.
//
// The controls, as the field table names them (model/Fields.h): etPhone1..12,
// cbReact1..12, rbNorm5..12, cb241..244, seTimeOut, seTimeOut2, cbFastGuard,
// cbWaitSend on the common settings page; the rows of TMLV on the keys page;
// the thumbs of ts and ts2 on the ADC page; rb1..rb3 and cbRing on the GSM
// page.
//
// GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "persist/SettingsCodec.h"
#include "ui/SettingsModel.h"

class QComboBox;
class QWidget;
class TformACP;
class TformCommon;
class TformGSM;
class TformKeys;

// Keeps the pages and the model in step. At the start the pages show the
// model. A change of a control (the user's edit, a page's own rule, a
// ClearPage, a thumb the user moved) goes into the model at once through its
// field's rule; a change the rule refuses, or takes in another form (a key
// in capitals), puts the model's value back into the control. A change of
// the model sets the controls of the fields that changed, on hidden pages
// too, without coming back as an edit; the pages' rules still follow
// (cbReact1 enables cbWaitSend, which then shows the model's value).
// The slider keeps every threshold exactly as the model holds it: only the
// user's move of a thumb changes a value there.
class TPagesView : public QObject {
  Q_OBJECT
 public:
  // Any page may be missing; its fields are then not shown.
  TPagesView(TSettingsModel& model, TformCommon* common, TformKeys* keys, TformACP* acp, TformGSM* gsm,
             QObject* parent = nullptr);

  // The control that shows a field (the list for keys, the slider for
  // thresholds); nullptr when its page is missing.
  QWidget* Control(const TField& field) const;

 private:
  void Show(const TFieldList& fields);
  void ShowField(const TField& field);
  // A control changed: its value goes into the model.
  void Edited(const TField& field);
  void KeysCleared();
  std::string ControlText(const TField& field) const;

  TSettingsModel& model_;
  TformCommon* common_;
  TformKeys* keys_;
  TformACP* acp_;
  TformGSM* gsm_;
  std::vector<QWidget*> controls_;  // by the field's place in Fields()
  int showing_ = 0;
};

// What a settings file holds besides the model's settings.
struct TSettingsTargets {
  QComboBox* ComPorts = nullptr;
  TSettingsModel* Model = nullptr;
  // mnuLog's check mark, and its click (called only while unmarked).
  std::function<bool()> LogMarked;
  std::function<void()> LogClick;
};

class TPagesFile {
 public:
  explicit TPagesFile(TSettingsTargets targets);

  // Writes the model, the port and the log mark into the file in one atomic
  // replace; every other line of the file stays. On failure the old file
  // stays whole, *error gets "Unable to write to <file>" and false is
  // returned.
  bool Save(const QString& fileName, QString* error = nullptr) const;
  // Puts the file's values into the model (persist/SettingsCodec.h, the
  // lenient read). A missing file gives the defaults. A file that cannot be
  // read, or one that exists but holds none of the settings sections, fails
  // and changes nothing. A value that breaks its rule is not loaded, its
  // field keeps its value, the others are loaded, and false is returned
  // with *error listing every value left out. A file without [ts1] and
  // [ts2] leaves the thresholds alone. The port's name is taken when not
  // empty; Log "1" switches logging on, "0" never switches it off.
  bool Load(const QString& fileName, QString* error = nullptr) const;
  // The user's Load: as Load, but a setting the file lacks stays as it was
  // (TAbsentKeys::Kept), and a missing file, or one that gives no setting,
  // changes nothing either. The result says what was taken (Taken false:
  // nothing changed), what was refused and what was absent.
  TDecodedSettings LoadKeeping(const QString& fileName) const;

 private:
  bool Take(const TDecodedSettings& decoded) const;

  TSettingsTargets t_;
};
