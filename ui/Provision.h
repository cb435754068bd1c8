// Safe provisioning in the window: "Сравнить с панелью" reads the panel into
// settings of its own and shows how they differ from the window's settings;
// the options "Резервная копия перед записью" and "Проверять после записи"
// put a read of the panel into a backup file before Write all and a
// read-back with a comparison after it. The window's settings and pages are
// never changed by these reads, so the user's edits stay.
//
// The steps run one after another as the window's operations end
// (TForm1::OperationFinished). GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

#include "model/Settings.h"
#include "ops/ProvisionSteps.h"
#include "ui/OperationEnd.h"

class QAction;
class QMenu;
class TForm1;
class TOutElement;
class TPage;
class TRzGroup;
class TdlgCompare;

class TProvision : public QObject {
  Q_OBJECT
 public:
  // Adds its menu items to menu and its navigation item to group.
  TProvision(TForm1& form, QMenu* menu, TRzGroup* group);
  ~TProvision() override;

  // "Сравнить с панелью": false when nothing was started (not connected, or
  // an operation is running).
  bool Compare();
  // Write all with the options on; false when both are off (the caller
  // writes as usual) or when nothing could be started.
  bool WriteAll();
  bool IsRunning() const { return steps_.Step() != TProvisionStep::None; }

  bool BackupBeforeWrite() const;
  bool VerifyAfterWrite() const;
  void SetBackupBeforeWrite(bool on);
  void SetVerifyAfterWrite(bool on);
  // The options in "current.ini" ([Options] Backup, Verify).
  void LoadOptions(const QString& fileName);
  bool SaveOptions(const QString& fileName, QString* error);

  // Where backups go: "backups" in the user's data directory.
  static QString BackupDir();
  static constexpr int kBackupsKept = 50;
  // Deletes the oldest backups in dir (by modification time) until kept
  // remain, keep (the one just written) always among them.
  static void PruneBackups(const QString& dir, const QString& keep, int kept);
  // The last backup file written; empty before the first.
  const QString& LastBackup() const { return lastBackup_; }
  // The table of the last comparison (created on first use).
  TdlgCompare* CompareDialog() const { return dialog_; }

  // Enables the items as the window's state allows.
  void UpdateActions();

 signals:
  // A compare, a backup or a check after writing has ended (the write
  // between them is the window's own Write all): for the site library.
  void StepEnded(const TOperationEnd& end);

 private:
  bool StartRead();
  void StepFinished();
  void CompareFinished();
  void BackupFinished(const QString& error);
  void StartWrite();
  void WriteFinished();
  void VerifyFinished();
  void Stop();
  // A story: the steps of one user action, with one progress and one box.
  void BeginStory(int total);
  void EndStory(const QString& message);
  QString Failure() const;
  TSettings ReadSettings() const;
  bool SaveBackup(QString* error);
  void Report(const QString& line);
  // A box that names the backup just made offers to open its folder.
  void Message(const QString& text, bool namesBackup = false);
  void Said(TRecordKind kind, TRecordOutcome outcome, const QString& detail = QString());

  TForm1& form_;
  QAction* mnuCompare_ = nullptr;
  QAction* mnuBackup_ = nullptr;
  QAction* mnuVerify_ = nullptr;
  TRzGroup* group_ = nullptr;
  TdlgCompare* dialog_ = nullptr;

  TProvisionSteps steps_;  // the story's steps: which one runs, how it ended
  TSettings panel_;        // what the last read of this object's steps found
  QString lastBackup_;
  QString backupLine_;     // "\nРезервная копия панели: <file>" once made
  bool inStory_ = false;
  std::function<void(const QString&)> savedHook_;
};
