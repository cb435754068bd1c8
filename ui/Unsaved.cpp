#include "ui/Unsaved.h"

#include <QAction>
#include <algorithm>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStyle>
#include <QTreeWidget>

#include "persist/ProgramDir.h"
#include "persist/SettingsCodec.h"
#include "persist/SettingsDialogs.h"
#include "ui/CompareDlg.h"
#include "ui/MainForm.h"
#include "ui/Marks.h"
#include "ui/MessageBox.h"
#include "ui/NavBar.h"
#include "ui/OperationEnd.h"
#include "ui/Provision.h"
#include "ui/RecentFiles.h"
#include "ui/SettingNames.h"
#include "ui/SettingsModel.h"
#include "ui/WindowTexts.h"
#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/KeyDialog.h"  // f_keys.h holds a QPointer to the dialog
#include "ui/f_keys.h"

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

const char* const kUndoCaption = "Отменить загрузку";
const char* const kCompareFileCaption = "Сравнить с файлом…";
// Loads that can be undone, the newest last.
constexpr size_t kUndoDepth = 10;

QString PageList(TGroups groups) {
  QStringList pages;
  const std::pair<TGroup, const char*> order[] = {
      {TGroup::Common, "Общие"}, {TGroup::Keys, "Ключи"}, {TGroup::Gsm, "GSM"}, {TGroup::Adc, "АЦП"}};
  for (const auto& [group, name] : order)
    if (groups.Has(group)) pages << U(name);
  return pages.join(U(", "));
}

// The item that follows item (or the one named so) in menu; none at the end.
QAction* ActionAfter(QMenu* menu, const QAction* item) {
  const QList<QAction*> actions = menu->actions();
  const qsizetype at = actions.indexOf(item);
  return at >= 0 && at + 1 < actions.size() ? actions[at + 1] : nullptr;
}
QAction* ActionAfter(QMenu* menu, const char* name) {
  for (QAction* a : menu->actions())
    if (a->objectName() == QLatin1String(name)) return ActionAfter(menu, a);
  return nullptr;
}

}  // namespace

// --- The window's hooks ---

void TForm1::SetUpUnsaved() {
  unsaved_ = new TUnsaved(*this);
  // "Сравнить с файлом…" in "Файл", at the place left for it.
  if (QMenu* file = menuBar()->findChild<QMenu*>("mnuFile")) {
    QAction* compare = new QAction(U(kCompareFileCaption), file);
    compare->setObjectName("mnuCompareFile");
    connect(compare, &QAction::triggered, unsaved_, &TUnsaved::CompareWithFileAction);
    file->insertAction(ActionAfter(file, "mnuFileCompareSlot"), compare);
  }
  // "Отменить загрузку" beside "Загрузить", whose effect it takes back.
  if (QMenu* menu = menuBar()->findChild<QMenu*>("mnuProperties"))
    menu->insertAction(ActionAfter(menu, mnuLoad_), unsaved_->UndoAction());
  addAction(unsaved_->UndoAction());
  // A read of the page shown, or of everything, replaces what it reads.
  const struct {
    const char* Item;
    bool All;
  } reads[] = {{"Прочитать", false}, {"Прочитать всё", true}};
  for (const auto& r : reads) {
    TRzGroupItem* item = groupSettings_->Item(U(r.Item));
    if (!item) continue;
    item->OnClick = [this, action = item->OnClick, all = r.All] {
      if (!link_ || busy_ || link_->Finished()) return action();
      const TGroups groups = all ? TGroups::All() : TGroups(GroupOfPage(device_.GetPage()));
      if (unsaved_->MayReplace(TReplacing::Read, groups)) action();
    };
  }
}

// --- TUnsaved ---

TUnsaved::TUnsaved(TForm1& form) : QObject(&form), form_(form) {
  setObjectName("Unsaved");
  // What the pages hold when the window opens ("current.ini") is where the
  // changes start from.
  baseline_ = form_.Model()->Copy(TGroups::AllWithAdc());
  caption_ = form_.windowTitle();
  undoAction_ = new QAction(U(kUndoCaption), this);
  undoAction_->setObjectName("mnuUndoLoad");
  undoAction_->setShortcut(QKeySequence::Undo);
  undoAction_->setToolTip(U("Вернуть страницы к виду до последней загрузки (Ctrl+Z)"));
  connect(undoAction_, &QAction::triggered, this, [this] { UndoLoad(); });
  UpdateUndo();
  connect(form_.Model(), &TSettingsModel::Changed, this, [this] { Update(); });
  connect(&form_, &TForm1::OperationEnded, this, &TUnsaved::OperationEnded);
  connect(&form_, &TForm1::OperationFinished, this, &TUnsaved::OperationFinished);
  Update();
}

TGroups TUnsaved::ChangedGroups() const {
  TGroups groups;
  for (const TField* f : changed_) groups |= f->Group;
  return groups;
}

void TUnsaved::Update() {
  std::vector<const TField*> changed;
  for (const TDifference& d : Differences(baseline_, form_.Model()->Settings())) changed.push_back(d.Field);
  MarkControls(changed);
  changed_ = std::move(changed);
  const TGroups groups = ChangedGroups();
  const std::pair<TGroup, const char*> items[] = {
      {TGroup::Common, "Общие"}, {TGroup::Keys, "Ключи"}, {TGroup::Gsm, "GSM"}, {TGroup::Adc, "АЦП"}};
  for (const auto& [group, caption] : items)
    if (auto* item = form_.NavigationBar()->findChild<TRzGroupItem*>(U(caption))) item->SetChanged(groups.Has(group));
  // The caption keeps its text; "*" in front says that something is unwritten.
  const QString title = groups.Empty() ? caption_ : QStringLiteral("* ") + caption_;
  if (form_.windowTitle() != title) form_.setWindowTitle(title);
}

std::vector<QWidget*> TUnsaved::ControlsOf(const TField& field) const {
  QWidget* page = nullptr;
  switch (field.Group) {
    case TGroup::Common:
      page = form_.CommonPage();
      break;
    case TGroup::Gsm:
      page = form_.GSMPage();
      break;
    default:
      // Keys are rows of a list; thresholds are thumbs of one slider: their
      // page's item says it.
      return {};
  }
  if (!page) return {};
  QWidget* control = page->findChild<QWidget*>(QString::fromStdString(field.Control));
  return control ? std::vector<QWidget*>{control} : std::vector<QWidget*>{};
}

void TUnsaved::MarkControls(const std::vector<const TField*>& changed) {
  std::vector<QWidget*> marked;
  for (const TField* f : changed)
    for (QWidget* w : ControlsOf(*f)) marked.push_back(w);
  for (QWidget* w : marked_)
    if (std::find(marked.begin(), marked.end(), w) == marked.end()) Marks::Set(w, TMark::Unsaved, false);
  for (QWidget* w : marked) Marks::Set(w, TMark::Unsaved, true);
  marked_ = std::move(marked);
  // Key rows: the row's key cell.
  if (TformKeys* keys = form_.KeysPage()) {
    QTreeWidget* list = keys->List();
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
      const bool on = std::any_of(changed.begin(), changed.end(),
                                  [row](const TField* f) { return f->Rule == TRule::Key && f->Index == row; });
      QTreeWidgetItem* item = list->topLevelItem(row);
      if (on)
        item->setBackground(1, QColor(Marks::kUnsavedRgb));
      else
        item->setData(1, Qt::BackgroundRole, QVariant());
    }
  }
}

// --- The question ---

QString TUnsaved::AnswerText(TUnsavedAnswer answer) {
  switch (answer) {
    case TUnsavedAnswer::Write:
      return U("Записать в панель");
    case TUnsavedAnswer::Save:
      return U("Сохранить в файл…");
    case TUnsavedAnswer::Discard:
      return U("Отбросить");
    case TUnsavedAnswer::Cancel:
      return U("Отмена");
  }
  return QString();
}

QString TUnsaved::Question(TReplacing replacing, TGroups groups, const QString& what) const {
  const QString changed = U("На страницах (%1) есть изменения, не записанные в панель и не сохранённые в файл.\n")
                              .arg(PageList(ChangedGroups() & groups));
  switch (replacing) {
    case TReplacing::LoadFile:
      return changed + U("Загрузка файла %1 заменит их. Что сделать с изменениями?").arg(what);
    case TReplacing::LoadRecord:
      return changed + U("Загрузка %1 заменит их. Что сделать с изменениями?").arg(what);
    case TReplacing::Read:
      return changed + U("Чтение из панели заменит их. Что сделать с изменениями?");
    case TReplacing::Close:
      return changed + U("Что сделать с ними перед выходом?");
  }
  return changed;
}

bool TUnsaved::MayReplace(TReplacing replacing, TGroups groups, const QString& what, std::function<void()> again) {
  if (!HasChanges(groups)) return true;
  std::vector<TUnsavedAnswer> answers;
  // Writing before a read would only read back what was written; Write all
  // carries neither the ADC thresholds nor a write while the panel is busy.
  const bool canWrite = replacing != TReplacing::Read && form_.IsConnected() && !form_.IsBusy() &&
                        (ChangedGroups() & groups).Without(TGroups::All()).Empty();
  if (canWrite) answers.push_back(TUnsavedAnswer::Write);
  answers.insert(answers.end(), {TUnsavedAnswer::Save, TUnsavedAnswer::Discard, TUnsavedAnswer::Cancel});
  QStringList buttons;
  for (TUnsavedAnswer a : answers) buttons << AnswerText(a);
  const int chosen = MessageBox::Choose(Question(replacing, groups, what), buttons, int(answers.size()) - 1,
                                        form_.isVisible() ? &form_ : nullptr);
  // No one was asked (boxes collected, or the program is being stopped):
  // the action goes on as it always did.
  if (chosen < 0) return true;
  if (chosen >= int(answers.size())) return false;
  switch (answers[size_t(chosen)]) {
    case TUnsavedAnswer::Write:
      pending_ = std::move(again);
      pendingGroups_ = groups;
      form_.WriteAllAction();
      if (!form_.IsBusy()) pending_ = nullptr;  // nothing was started
      return false;
    case TUnsavedAnswer::Save:
      form_.SaveAction();
      return !HasChanges(groups);
    case TUnsavedAnswer::Discard: {
      TSettings back = baseline_;
      back.Groups = groups;
      form_.ShowSettings(back);
      return true;
    }
    case TUnsavedAnswer::Cancel:
      return false;
  }
  return false;
}

void TUnsaved::OperationEnded(const TOperationEnd& end) {
  if (end.Outcome != TRecordOutcome::Success) return;
  // A read: the pages now hold what the panel holds; a write: the panel
  // holds what was sent.
  const TGroups groups = end.Settings.Groups;
  if (end.Kind == TRecordKind::Read)
    CopyGroups(baseline_, form_.Model()->Copy(groups), groups);
  else if (end.Kind == TRecordKind::Write)
    CopyGroups(baseline_, end.Settings, groups);
  else
    return;
  Update();
}

void TUnsaved::OperationFinished() {
  if (!pending_) return;
  // A write with a backup before it or a check after it is several steps.
  if (form_.IsBusy() || (form_.Provision() && form_.Provision()->IsRunning())) return;
  std::function<void()> pending = std::move(pending_);
  pending_ = nullptr;
  // A failed write said so in its box; the action waits for the user.
  if (!HasChanges(pendingGroups_) && pending) pending();
}

// --- Loads and their undo ---

TUnsaved::TPoint TUnsaved::Point() const { return {form_.Model()->Copy(TGroups::AllWithAdc()), baseline_}; }

void TUnsaved::Loaded(const TPoint& before, const TDecodedSettings& loaded) {
  // What the load gave is the baseline now; a setting the file lacked, or
  // whose value it refused, keeps its own.
  const TGroups groups = loaded.Settings.Groups;
  TSettings next = baseline_;
  CopyGroups(next, form_.Model()->Copy(groups), groups);
  std::vector<const TField*> kept = loaded.Absent;
  for (const TSettingsProblem& p : loaded.Problems)
    if (const TField* f = FindField(p.Section.toStdString(), p.Key.toStdString())) kept.push_back(f);
  for (const TField* f : kept) {
    if (f->Rule == TRule::ModuleFlag)
      next.Module = baseline_.Module;
    else
      SetFieldText(next, *f, FieldText(baseline_, *f));
  }
  baseline_ = next;
  undo_.push_back(before);
  if (undo_.size() > kUndoDepth) undo_.erase(undo_.begin());
  UpdateUndo();
  Update();
}

bool TUnsaved::UndoLoad() {
  if (undo_.empty() || form_.IsBusy()) return false;
  const TPoint point = undo_.back();
  undo_.pop_back();
  baseline_ = point.Baseline;
  form_.ShowSettings(point.Pages);
  form_.Memo()->appendPlainText(U("Загрузка отменена: страницы восстановлены"));
  UpdateUndo();
  Update();
  return true;
}

void TUnsaved::UpdateUndo() { undoAction_->setEnabled(!undo_.empty()); }

void TUnsaved::Saved() {
  baseline_ = form_.Model()->Copy(TGroups::AllWithAdc());
  Update();
}

// --- Compare with a file ---

void TUnsaved::CompareWithFileAction() {
  const QString file = SettingsDialogs::Choose(SettingsDialogs::TKind::Load, &form_,
                                               form_.RecentFiles()->LastDir(ProgramDir()));
  if (!file.isEmpty()) CompareWithFile(file);
}

bool TUnsaved::CompareWithFile(const QString& file) {
  const TSettings pages = form_.Model()->Copy(TGroups::AllWithAdc());
  // Read as Load reads it, over the pages: what the file lacks agrees.
  TDecodedSettings decoded;
  LoadSettingsFile(file, pages, &decoded, nullptr, TAbsentKeys::Kept);
  if (!decoded.Taken) {
    MessageBox::Show(WindowTexts::LoadRefused(file, decoded), form_.isVisible() ? &form_ : nullptr,
                     MessageBox::TKind::Error);
    return false;
  }
  TSettings fromFile = decoded.Settings;
  const TGroups groups = fromFile.Groups;
  if (!compare_) compare_ = new TdlgCompare(&form_);
  compare_->setObjectName("dlgCompareFile");
  compare_->SetSides(U("Сравнение с файлом «%1»").arg(QFileInfo(file).fileName()), U("В файле"), U("На странице"),
                     U("Файл и страницы совпадают."));
  compare_->Show(Differences(fromFile, form_.Model()->Copy(groups)));
  return true;
}
