#include "ui/Provision.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStandardPaths>
#include <QStyle>

#include "output/OutElement.h"
#include "persist/IniFile.h"
#include "persist/ProgramDir.h"
#include "persist/SettingsCodec.h"
#include "ui/CompareDlg.h"
#include "ui/ConnectDlg.h"
#include "ui/KeyDialog.h"
#include "ui/MainForm.h"
#include "ui/MessageBox.h"
#include "ui/NavBar.h"
#include "ui/PageSettings.h"
#include "persist/WireText.h"
#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/f_keys.h"

namespace {

const char* const CompareCaption = "Сравнить с панелью";

QString U(const char* text) { return QString::fromUtf8(text); }

}  // namespace

TProvision::TProvision(TForm1& form, QMenu* menu, TRzGroup* group)
    : form_(form),
      // Pages of the window's classes that only reads of this class fill; they
      // have no parent and are never shown.
      common_(new TformCommon(nullptr)),
      keys_(new TformKeys(nullptr)),
      gsm_(new TformGSM(nullptr)),
      acp_(form.ACPPage()),
      group_(group) {
  keys_->ClearPage();
  if (menu) {
    menu->addSeparator();
    mnuCompare_ = menu->addAction(U(CompareCaption), this, [this] { Compare(); });
    mnuCompare_->setObjectName("mnuCompare");
    mnuBackup_ = menu->addAction(U("Резервная копия перед записью"));
    mnuBackup_->setObjectName("mnuBackup");
    mnuBackup_->setCheckable(true);
    mnuVerify_ = menu->addAction(U("Проверять после записи"));
    mnuVerify_->setObjectName("mnuVerify");
    mnuVerify_->setCheckable(true);
  }
  if (group_)
    group_->AddItem(U(CompareCaption), form.style()->standardIcon(QStyle::SP_FileDialogContentsView),
                    [this] { Compare(); });
  connect(&form_, &TForm1::OperationFinished, this, &TProvision::StepFinished);
  UpdateActions();
}

TProvision::~TProvision() {
  delete common_;
  delete keys_;
  delete gsm_;
}

bool TProvision::BackupBeforeWrite() const { return mnuBackup_ && mnuBackup_->isChecked(); }
bool TProvision::VerifyAfterWrite() const { return mnuVerify_ && mnuVerify_->isChecked(); }
void TProvision::SetBackupBeforeWrite(bool on) {
  if (mnuBackup_) mnuBackup_->setChecked(on);
}
void TProvision::SetVerifyAfterWrite(bool on) {
  if (mnuVerify_) mnuVerify_->setChecked(on);
}

void TProvision::LoadOptions(const QString& fileName) {
  TIniFile ini(fileName);
  (void)ini.Load();  // an unreadable file leaves the options off
  SetBackupBeforeWrite(ini.ReadBool("Options", "Backup", false));
  SetVerifyAfterWrite(ini.ReadBool("Options", "Verify", false));
}

bool TProvision::SaveOptions(const QString& fileName, QString* error) {
  TIniFile ini(fileName);
  (void)ini.Load();
  ini.WriteBool("Options", "Backup", BackupBeforeWrite());
  ini.WriteBool("Options", "Verify", VerifyAfterWrite());
  return ini.Save(error);
}

QString TProvision::BackupDir() { return DataDir() + QStringLiteral("backups"); }

void TProvision::UpdateActions() {
  const bool free = form_.IsConnected() && !form_.IsBusy() && step_ == TStep::Idle;
  if (mnuCompare_) mnuCompare_->setEnabled(free);
  if (group_)
    if (TRzGroupItem* item = group_->Item(U(CompareCaption))) item->setEnabled(!form_.IsBusy());
}

bool TProvision::Compare() {
  if (step_ != TStep::Idle || !form_.IsConnected()) return false;
  return StartRead(TStep::Compare);
}

bool TProvision::WriteAll() {
  if (!BackupBeforeWrite() && !VerifyAfterWrite()) return false;
  if (step_ != TStep::Idle || form_.IsBusy() || !form_.Link()) return true;
  if (BackupBeforeWrite()) return StartRead(TStep::Backup);
  StartWrite();
  return true;
}

// A read of the whole panel that stays out of the window's pages and shows
// no message box: the step reports the outcome itself.
bool TProvision::StartRead(TStep step) {
  step_ = step;
  if (form_.ReadAllDetached()) return true;
  step_ = TStep::Idle;
  UpdateActions();
  return false;
}

void TProvision::StartWrite() {
  written_ = form_.PagesSettings(TGroups::All());
  step_ = TStep::Write;
  if (!form_.WriteAll()) Stop();
}

void TProvision::StepFinished() {
  const TStep step = step_;
  if (step == TStep::Idle) return;
  const bool linkUp = form_.Link() && !form_.Link()->Finished();
  const bool ok = linkUp && form_.LastResult().Succeeded();
  // What was read goes into this object's pages, never into the window's.
  if (ok && step != TStep::Write)
    ApplyToPages({nullptr, common_, keys_, nullptr, gsm_, nullptr, nullptr}, form_.LastResult().Settings);
  switch (step) {
    case TStep::Compare:
      return CompareFinished(ok);
    case TStep::Backup:
      return BackupFinished(ok);
    case TStep::Write:
      return WriteFinished(ok);
    case TStep::Verify:
      return VerifyFinished(ok);
    case TStep::Idle:
      break;
  }
}

QString TProvision::Failure() const {
  const std::string message = ResultMessage(form_.LastResult());
  const TOutcome outcome = form_.LastResult().Outcome;
  if (message.empty() || outcome == TOutcome::LinkLost || outcome == TOutcome::Interrupted)
    return U("связь с панелью потеряна");
  return FromWire(message);
}

TSettings TProvision::ReadSettings() const {
  TSettings settings = ReadPages({nullptr, common_, keys_, nullptr, gsm_, nullptr, nullptr});
  settings.Groups = settings.Groups & TGroups::All();
  return settings;
}

void TProvision::CompareFinished(bool ok) {
  Stop();
  if (!ok) return Message(U("Сравнение не выполнено: ") + Failure());
  const std::vector<TDifference> differences = Differences(ReadSettings(), form_.PagesSettings(TGroups::All()));
  Report(differences.empty() ? U("Сравнение: настройки на панели и на страницах совпадают")
                               : U("Сравнение: различаются настроек: %1").arg(int(differences.size())));
  if (!dialog_) {
    dialog_ = new TdlgCompare(&form_);
    dialog_->setWindowFlag(Qt::Window);
  }
  dialog_->Show(differences);
}

void TProvision::BackupFinished(bool ok) {
  QString error;
  if (!ok) error = Failure();
  if (ok && !SaveBackup(&error)) ok = false;
  if (!ok) {
    Stop();
    return Message(U("Резервная копия не создана, запись отменена: ") + error);
  }
  Report(U("Резервная копия панели: ") + lastBackup_);
  StartWrite();
}

// The panel as just read, with the window's ADC thresholds (Read all leaves
// the ADC channels alone), under a name of date and time; the oldest go
// beyond the last kBackupsKept.
bool TProvision::SaveBackup(QString* error) {
  const QString dir = BackupDir();
  if (!MakePrivateDir(dir)) {
    *error = QStringLiteral("Unable to write to ") + dir;
    return false;
  }
  const QString name =
      dir + "/panel-" + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) + ".ini";
  const TPagesFile file({form_.ConnectDialog()->ComPorts(), common_, keys_, acp_, gsm_, nullptr, nullptr});
  if (!file.Save(name, error)) return false;
  lastBackup_ = name;
  PruneBackups(dir, name, kBackupsKept);
  return true;
}

// By modification time, not by name: a clock set wrong once leaves names
// from the future that would sort after every new backup.
void TProvision::PruneBackups(const QString& dir, const QString& keep, int kept) {
  QDir backups(dir);
  QFileInfoList files =
      backups.entryInfoList({QStringLiteral("panel-*.ini")}, QDir::Files, QDir::Time | QDir::Reversed);
  const QString keepPath = QFileInfo(keep).absoluteFilePath();
  files.removeIf([&](const QFileInfo& f) { return f.absoluteFilePath() == keepPath; });
  // The backup just written counts as the newest of the kept ones.
  while (files.size() > kept - 1 && !files.isEmpty()) QFile::remove(files.takeFirst().absoluteFilePath());
}

void TProvision::WriteFinished(bool ok) {
  if (!ok || !VerifyAfterWrite()) return Stop();
  if (!StartRead(TStep::Verify)) {
    Stop();
    Message(U("Проверка после записи не выполнена: ") + Failure());
  }
}

void TProvision::VerifyFinished(bool ok) {
  Stop();
  if (!ok) return Message(U("Проверка после записи не выполнена: ") + Failure());
  const std::vector<TDifference> differences = Differences(ReadSettings(), written_);
  if (differences.empty()) return Report(U("Проверка после записи: панель хранит записанные настройки"));
  QStringList lines;
  for (const TDifference& d : differences) {
    lines << DifferenceLine(d, U("на панели"), U("записано"));
    Report(U("Проверка после записи: ") + lines.last());
  }
  Message(U("Панель не сохранила настроек: %1\n").arg(int(differences.size())) + lines.join('\n'));
}

void TProvision::Stop() {
  step_ = TStep::Idle;
  UpdateActions();
}

void TProvision::Report(const QString& line) { form_.Memo()->appendPlainText(line); }

void TProvision::Message(const QString& text) {
  Report(text);
  MessageBox::Show(text, form_.isVisible() ? &form_ : nullptr);
}
