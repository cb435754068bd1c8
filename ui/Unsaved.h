// Changes not yet written: the window's settings against a baseline, what
// was last read from the panel, written to it, loaded or saved. Every setting
// that differs is marked on its control, its page's navigation item gets a
// "*" and so does the window's caption. Before a load, a read or closing
// would replace or drop such changes the user is asked what to do with them
// ("Записать в панель", "Сохранить в файл…", "Отбросить", "Отмена"). A load
// can be undone ("Отменить загрузку", Ctrl+Z): the pages and the baseline
// return to what they were before it.
//
// "Сравнить с файлом…" shows how a settings file differs from the pages
// without loading it.
//
// What differs is the model's comparison (Differences, model/Fields.h).
// GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

#include "model/Fields.h"
#include "model/Settings.h"

class QAction;
class QWidget;
class TForm1;
class TdlgCompare;
struct TDecodedSettings;
struct TOperationEnd;

// What is about to replace the pages' settings.
enum class TReplacing { LoadFile, LoadRecord, Read, Close };

// The answers to the question, as the buttons say them.
enum class TUnsavedAnswer { Write, Save, Discard, Cancel };

class TUnsaved : public QObject {
  Q_OBJECT
 public:
  explicit TUnsaved(TForm1& form);

  // The fields whose values differ from the baseline, in the order of the
  // field table.
  const std::vector<const TField*>& Changed() const { return changed_; }
  TGroups ChangedGroups() const;
  bool HasChanges(TGroups groups = TGroups::AllWithAdc()) const { return !(ChangedGroups() & groups).Empty(); }
  const TSettings& Baseline() const { return baseline_; }

  // Asks what to do with the changes in groups before what replaces them;
  // true when it may go on. No question when those groups hold no change.
  // "Отбросить" puts the baseline back into those groups first; "Сохранить
  // в файл…" goes on once the file is saved; "Записать в панель" (offered
  // while connected, for everything but a read) starts Write all and runs
  // again once the write has left nothing unwritten (false now). what names
  // the file or record for the question.
  bool MayReplace(TReplacing replacing, TGroups groups, const QString& what = QString(),
                  std::function<void()> again = nullptr);

  // The pages and the baseline as they are now: a load takes one first, and
  // Loaded keeps it for undo.
  struct TPoint {
    TSettings Pages;
    TSettings Baseline;
  };
  TPoint Point() const;
  // A load took loaded's values (its absent and refused settings kept
  // theirs): they are the baseline now, and the load can be undone.
  void Loaded(const TPoint& before, const TDecodedSettings& loaded);
  // Everything the pages hold was saved into a settings file.
  void Saved();
  // Undoes the last load: false when there is none, or the panel is busy.
  bool UndoLoad();
  bool CanUndo() const { return !undo_.empty(); }
  QAction* UndoAction() const { return undoAction_; }

  // "Сравнить с файлом…": the dialog, then CompareWithFile.
  void CompareWithFileAction();
  // Shows how the file's settings differ from the pages'; the pages stay.
  // false when the file gives no settings (said in a box).
  bool CompareWithFile(const QString& file);
  TdlgCompare* FileCompareDialog() const { return compare_; }

  // The buttons of the question, in their order.
  static QString AnswerText(TUnsavedAnswer answer);

 private:
  void Update();
  void OperationEnded(const TOperationEnd& end);
  void OperationFinished();
  void MarkControls(const std::vector<const TField*>& changed);
  std::vector<QWidget*> ControlsOf(const TField& field) const;
  QString Question(TReplacing replacing, TGroups groups, const QString& what) const;
  void UpdateUndo();

  TForm1& form_;
  TSettings baseline_;
  std::vector<const TField*> changed_;
  std::vector<QWidget*> marked_;
  std::vector<TPoint> undo_;
  QAction* undoAction_ = nullptr;
  QString caption_;  // the window's caption without the mark
  TdlgCompare* compare_ = nullptr;
  // An action waiting for the write that "Записать в панель" started.
  std::function<void()> pending_;
  TGroups pendingGroups_;
};
