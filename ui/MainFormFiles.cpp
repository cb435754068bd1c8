// The main window: settings files, the Save and Load actions, the debug log.
#include "ui/MainForm.h"
#include <QApplication>
#include <QDate>
#include <QFileInfo>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSocketNotifier>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <unistd.h>
#include "OstrelVersion.h"
#include "persist/DebugLog.h"
#include "persist/Layout.h"
#include "persist/ProgramDir.h"
#include "persist/SettingsDialogs.h"
#include "serial/GuiSync.h"
#include "ui/ConnectDlg.h"
#include "ui/FileNames.h"
#include "ui/GuiThread.h"
#include "ui/KeyDialog.h"
#include "ui/MessageBox.h"
#include "ui/NavBar.h"
#include "ui/OperationProgress.h"
#include "ui/Panel.h"
#include "ui/PageSettings.h"
#include "ui/Page.h"
#include "ui/Provision.h"
#include "ui/RecentFiles.h"
#include "ui/Sites.h"
#include "ui/SplashDlg.h"
#include "ui/StatusPane.h"
#include "ui/Unsaved.h"
#include "ui/WindowTexts.h"
#include "persist/WireText.h"
#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/f_keys.h"

// --- Persistence: settings files, the Save and Load actions, the debug log ---

TSettingsTargets TForm1::SettingsTargets() {
  return {dlgConnect_->ComPorts(), model_, [this] { return mnuLog_->isChecked(); }, [this] { mnuLogClick(); }};
}

bool TForm1::SaveSettings(const QString& fileName, QString* error) {
  return TPagesFile(SettingsTargets()).Save(fileName, error);
}

bool TForm1::LoadSettings(const QString& fileName, QString* error) {
  return TPagesFile(SettingsTargets()).Load(fileName, error);
}

TSettings TForm1::PagesSettings(TGroups groups) { return model_->Copy(groups); }

void TForm1::ShowSettings(const TSettings& settings) { model_->Set(settings); }

void TForm1::SaveAction() {
  if (busy_) return;
  // The dialogs open in the folder last used (at first the user's documents),
  // and Save suggests a name from the current site and the date.
  const QString file =
      SettingsDialogs::Choose(SettingsDialogs::TKind::Save, this, FileDialogDir(),
                              FileNames::SuggestedSettingsName(sites_ ? sites_->CurrentSite() : QString(),
                                                               QDate::currentDate()));
  if (file.isEmpty()) return;
  bool saved = false;
  PersistStep([&](QString* e) { return saved = Said(SaveSettings(file, e), file, e); });
  if (saved) recent_->Add(file);
  if (saved) unsaved_->Saved();
}

void TForm1::LoadAction() {
  if (busy_) return;
  const QString file = SettingsDialogs::Choose(SettingsDialogs::TKind::Load, this, FileDialogDir());
  if (!file.isEmpty()) LoadFile(file);
}

QString TForm1::FileDialogDir() const { return recent_->LastDir(FileNames::DocumentsDir()); }

void TForm1::LoadFile(const QString& file) { LoadUserFile(file, false); }

void TForm1::LoadRecentFile(const QString& file) { LoadUserFile(file, true); }

void TForm1::LoadUserFile(const QString& file, bool recent) {
  // One operation at a time, a load included.
  if (busy_) return;
  // Changes the file would replace are asked about; the load can be undone.
  TDecodedSettings peek;
  LoadSettingsFile(file, model_->Copy(TGroups::AllWithAdc()), &peek, nullptr, TAbsentKeys::Kept);
  const TUnsaved::TPoint before = unsaved_->Point();
  if (peek.Taken && !unsaved_->MayReplace(TReplacing::LoadFile, peek.Settings.Groups, QString::fromUtf8("«%1»").arg(QFileInfo(file).fileName()),
                                          [this, file, recent] { LoadUserFile(file, recent); }))
    return;
  TDecodedSettings loaded;
  PersistStep([&](QString*) {
    loaded = TPagesFile(SettingsTargets()).LoadKeeping(file);
    return true;
  });
  QWidget* parent = isVisible() ? this : nullptr;
  if (!loaded.Taken) {
    if (recent && loaded.Read == TFileRead::Missing) {
      if (MessageBox::Ask(WindowTexts::RecentFileGone(file), parent)) recent_->Remove(file);
      return;
    }
    MessageBox::Show(WindowTexts::LoadRefused(file, loaded), parent, MessageBox::TKind::Error);
    return;
  }
  recent_->Add(file);
  unsaved_->Loaded(before, loaded);
  const QString leftOut = WindowTexts::LoadLeftOut(WindowTexts::FileSource(file), loaded);
  if (!leftOut.isEmpty()) MessageBox::Show(leftOut, parent, MessageBox::TKind::Warning);
}

bool TForm1::IsLogging() const { return log_ && log_->IsOn(); }

void TForm1::mnuLogClick() {
  // A checkable menu item flips its mark before its action runs: our own
  // state decides, and the mark is set from it afterwards.
  const bool on = log_ ? log_->IsOn() : logMarked_;
  QString error;
  bool failed = false;
  if (!on) {
    // A log that cannot be opened leaves logging off, without a word.
    logMarked_ = !log_ || log_->SwitchOn();
    if (log_ && logMarked_) applier_.LogLine = [this](const std::string& text) { log_->WriteLine(text); };
  } else {
    applier_.LogLine = nullptr;
    failed = log_ && !Said(log_->SwitchOff(&error), ProgramDir() + "log.txt", &error);
    logMarked_ = false;
  }
  mnuLog_->setChecked(logMarked_);
  if (failed) MessageBox::Show(error, this);
}

void TForm1::StopShowingBoxes() {
  MessageBox::ShowNoMore([self = QPointer<TForm1>(this)](const QString& text) {
    if (self && self->log_ && self->log_->IsOn()) self->log_->WriteLine(ToWire(text));
  });
}

bool TForm1::Said(bool ok, const QString& fileName, QString* error) {
  // The persistence layer words its failures for the command line; the
  // window says them in Russian, with the system's reason for this file.
  if (!ok && error) *error = WindowTexts::WriteFailure(fileName);
  return ok;
}

bool TForm1::LoadSettingsSaying(const QString& fileName, QString* error) {
  const bool ok = LoadSettings(fileName, error);
  if (!ok && error) {
    const QString said = WindowTexts::LoadFailure(fileName);
    *error = said.isEmpty() ? WindowTexts::ReadFailure(fileName) : said;
  }
  return ok;
}

void TForm1::PersistStep(const std::function<bool(QString*)>& step) {
  QString error;
  bool ok = false;
  try {
    ok = step(&error);
  } catch (const std::exception& e) {
    error = QString::fromUtf8(e.what());
  } catch (...) {
    error = QString::fromUtf8("Неизвестная ошибка");
  }
  if (!ok) MessageBox::Show(error, isVisible() ? this : nullptr);
}
