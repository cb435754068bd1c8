#include "ui/Provision.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStandardPaths>

#include "output/OutElement.h"
#include "persist/IniFile.h"
#include "persist/ProgramDir.h"
#include "persist/SettingsCodec.h"
#include "persist/WireText.h"
#include "ui/CompareDlg.h"
#include "ui/SettingNames.h"
#include "ui/ConnectDlg.h"
#include "ui/MainForm.h"
#include "ui/MessageBox.h"
#include "ui/NavBar.h"
#include "ui/NavIcons.h"
#include "ui/OperationProgress.h"
#include "protocol/OperationSize.h"
#include "ui/WindowTexts.h"

namespace {

const char* const WriteDone = "Запись всех параметров завершена!";
const char* const CompareCaption = "Сравнить с панелью";

QString U(const char* text) { return QString::fromUtf8(text); }

}  // namespace

TProvision::TProvision(TForm1& form, QMenu* menu, TRzGroup* group) : form_(form), group_(group) {
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
    group_->AddItem(U(CompareCaption), NavIcon(TNavIcon::Compare),
                    [this] { Compare(); });
  connect(&form_, &TForm1::OperationFinished, this, &TProvision::StepFinished);
  UpdateActions();
}

TProvision::~TProvision() {
  if (inStory_) MessageBox::Hook = savedHook_;
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
  const bool free = form_.IsConnected() && !form_.IsBusy() && !IsRunning();
  if (mnuCompare_) mnuCompare_->setEnabled(free);
  if (group_)
    if (TRzGroupItem* item = group_->Item(U(CompareCaption))) item->setEnabled(!form_.IsBusy());
}

bool TProvision::Compare() {
  if (IsRunning() || !form_.IsConnected() || form_.IsBusy()) return false;
  steps_ = TProvisionSteps::ForCompare();
  BeginStory(OperationSize::ReadAllCommands);
  if (StartRead()) return true;
  EndStory(QString());
  return false;
}

bool TProvision::WriteAll() {
  if (!BackupBeforeWrite() && !VerifyAfterWrite()) return false;
  if (IsRunning() || form_.IsBusy() || !form_.Link()) return true;
  // The options as they are now hold for the whole story.
  steps_ = TProvisionSteps::ForWrite(BackupBeforeWrite(), VerifyAfterWrite());
  // One story: one progress over backup, write and check, one box at the end.
  BeginStory((steps_.Backup() ? OperationSize::ReadAllCommands : 0) + OperationSize::WriteAllCommands +
             (steps_.Verify() ? OperationSize::ReadAllCommands : 0));
  backupLine_.clear();
  if (steps_.Step() == TProvisionStep::BackupRead) {
    if (!StartRead()) EndStory(QString());
    return true;
  }
  StartWrite();
  return true;
}

void TProvision::BeginStory(int total) {
  // The steps' own message boxes are kept back: the story ends with one.
  savedHook_ = MessageBox::Hook;
  MessageBox::Hook = [](const QString&) {};
  inStory_ = true;
  if (form_.Progress()) form_.Progress()->StartSequence(total);
}

void TProvision::EndStory(const QString& message) {
  if (inStory_) MessageBox::Hook = savedHook_;
  inStory_ = false;
  if (form_.Progress()) form_.Progress()->EndSequence();
  Stop();
  if (!message.isEmpty()) Message(message, !backupLine_.isEmpty());
  backupLine_.clear();
}

// A read of the whole panel that stays out of the window's pages and shows
// no message box: the step reports the outcome itself.
bool TProvision::StartRead() {
  if (form_.ReadAllDetached()) return true;
  Stop();
  return false;
}

void TProvision::StartWrite() {
  steps_.Writing(form_.PagesSettings(TGroups::All()));
  if (!form_.WriteAll()) EndStory(QString());
}

void TProvision::StepFinished() {
  const TProvisionStep step = steps_.Step();
  if (step == TProvisionStep::None) return;
  const bool linkUp = form_.Link() && !form_.Link()->Finished() && !form_.Link()->IsTerminated();
  if (!linkUp) {
    steps_.Abandon();
    if (step != TProvisionStep::Write)
      Said(step == TProvisionStep::CompareRead  ? TRecordKind::Compare
           : step == TProvisionStep::BackupRead ? TRecordKind::Backup
                                                : TRecordKind::Verify,
           RecordOutcomeOf(form_.LastResult()));
    // The window says the lost link in a box of its own; the story ends
    // there, in the memo.
    Report(U("Операция прервана: связь с панелью потеряна") + backupLine_);
    return EndStory(QString());
  }
  const TOperationResult& result = form_.LastResult();
  const bool ok = result.Succeeded();
  // What was read stays here, never in the window's settings.
  if (ok && step != TProvisionStep::Write) panel_ = result.Settings;
  switch (step) {
    case TProvisionStep::CompareRead:
      steps_.CompareRead(result, ReadSettings(), form_.PagesSettings(TGroups::All()));
      return CompareFinished();
    case TProvisionStep::BackupRead: {
      QString error;
      if (!ok) error = Failure();
      const bool saved = ok && SaveBackup(&error);
      steps_.BackupRead(result, saved);
      return BackupFinished(error);
    }
    case TProvisionStep::Write:
      steps_.Written(result);
      return WriteFinished();
    case TProvisionStep::VerifyRead:
      steps_.VerifyRead(result, ReadSettings());
      return VerifyFinished();
    case TProvisionStep::None:
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
  TSettings settings = panel_;
  settings.Groups = settings.Groups & TGroups::All();
  return settings;
}

void TProvision::CompareFinished() {
  if (steps_.End() == TProvisionEnd::CompareNotDone) {
    Said(TRecordKind::Compare, RecordOutcomeOf(form_.LastResult()));
    return EndStory(U("Сравнение не выполнено: ") + Failure());
  }
  EndStory(QString());
  const std::vector<TDifference> differences = steps_.Found();
  const bool same = steps_.End() == TProvisionEnd::Same;
  if (same) Said(TRecordKind::Compare, TRecordOutcome::Same, QStringLiteral("the pages"));
  else
    Said(TRecordKind::Compare, TRecordOutcome::Different,
         QStringLiteral("%1 settings differ from the pages").arg(int(differences.size())));
  Report(same ? U("Сравнение: настройки на панели и на страницах совпадают")
              : U("Сравнение: отличаются настройки: %1").arg(int(differences.size())));
  if (!dialog_) {
    dialog_ = new TdlgCompare(&form_);
    // Its rows hold the panel of this connection: they go with it.
    connect(&form_, &TForm1::LinkFinished, dialog_, &QDialog::reject);
  }
  dialog_->Show(differences);
}

void TProvision::BackupFinished(const QString& error) {
  const TProvisionEnd end = steps_.End();
  Said(TRecordKind::Backup, end == TProvisionEnd::BackupNotRead    ? RecordOutcomeOf(form_.LastResult())
                            : end == TProvisionEnd::BackupNotSaved ? TRecordOutcome::NotSaved
                                                                   : TRecordOutcome::Success);
  if (steps_.Ended()) return EndStory(U("Резервная копия не создана, запись отменена: ") + error);
  Report(U("Резервная копия панели: ") + lastBackup_);
  backupLine_ = U("\nРезервная копия панели: ") + lastBackup_;
  StartWrite();
}

// The panel as just read, with the window's ADC thresholds (Read all leaves
// the ADC channels alone), under a name of date and time; the oldest go
// beyond the last kBackupsKept.
bool TProvision::SaveBackup(QString* error) {
  const QString dir = BackupDir();
  if (!MakePrivateDir(dir)) {
    *error = WindowTexts::WriteFailure(dir);
    return false;
  }
  const QString name =
      dir + "/panel-" + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) + ".ini";
  TSettings backup = ReadSettings();
  CopyGroup(backup, form_.PagesSettings(TGroup::Adc), TGroup::Adc);
  const TFileHeader header{form_.ConnectDialog()->ComPorts()->currentText(), false};
  if (!SaveSettingsFile(name, backup, header, false, error)) {
    *error = WindowTexts::WriteFailure(name);
    return false;
  }
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

void TProvision::WriteFinished() {
  if (steps_.End() == TProvisionEnd::WriteFailed) return EndStory(Failure() + backupLine_);
  if (steps_.End() == TProvisionEnd::Done) return EndStory(U(WriteDone) + backupLine_);
  if (!StartRead())
    EndStory(U("Запись всех параметров завершена, но проверка после записи не выполнена: ") + Failure() +
             backupLine_);
}

void TProvision::VerifyFinished() {
  if (steps_.End() == TProvisionEnd::VerifyNotDone) {
    Said(TRecordKind::Verify, RecordOutcomeOf(form_.LastResult()));
    return EndStory(U("Запись всех параметров завершена, но проверка после записи не выполнена: ") + Failure() +
                    backupLine_);
  }
  const std::vector<TDifference> differences = steps_.Found();
  QStringList names;
  for (const TDifference& d : differences) names << FieldName(*d.Field);
  const bool kept = steps_.End() == TProvisionEnd::Done;
  Said(TRecordKind::Verify, kept ? TRecordOutcome::Success : TRecordOutcome::NotKept, kept ? QString() : names.join(", "));
  if (kept) {
    Report(U("Проверка после записи: панель хранит записанные настройки"));
    return EndStory(U("Запись всех параметров завершена и проверена: панель хранит записанные настройки.") +
                    backupLine_);
  }
  // The memo names the value as the file writes it, the box as the page
  // does: one line a setting, grouped by page.
  for (const TDifference& d : differences)
    Report(U("Проверка после записи: ") + DifferenceLine(d, U("на панели"), U("записано")));
  const std::vector<SettingNames::TRow> rows = SettingNames::Rows(differences);
  QStringList lines;
  for (const SettingNames::TRow& r : rows)
    lines << r.Page + U(" — ") + r.Name + U(": на панели «") + r.Left + U("», записано «") + r.Right + U("»");
  EndStory(U("Запись выполнена, но панель не сохранила настройки (%1):\n").arg(int(rows.size())) +
           lines.join('\n') + backupLine_);
}

void TProvision::Stop() {
  steps_.Abandon();  // an ended story keeps its end
  UpdateActions();
}

// What the step read is recorded: the panel as the read found it.
void TProvision::Said(TRecordKind kind, TRecordOutcome outcome, const QString& detail) {
  TOperationEnd end;
  end.Kind = kind;
  end.Outcome = outcome;
  end.Detail = detail;
  end.Settings = form_.LastResult().Settings;
  emit StepEnded(end);
}

void TProvision::Report(const QString& line) { form_.Memo()->appendPlainText(line); }

void TProvision::Message(const QString& text, bool namesBackup) {
  Report(text);
  QWidget* parent = form_.isVisible() ? &form_ : nullptr;
  // A box that names a backup offers to open its folder.
  if (namesBackup && !lastBackup_.isEmpty())
    MessageBox::ShowWithFolder(text, QFileInfo(lastBackup_).absolutePath(), parent);
  else
    MessageBox::Show(text, parent);
}
