// The "Объекты" group: the library's page, the sites and the current site.
// The records' actions are in SitesRecords.cpp; the recording of operations
// and the offer to attach a read in SitesRecording.cpp.
#include "ui/Sites.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>

#include "library/LibraryUse.h"
#include "library/RecordSpool.h"
#include "link/xModem.h"
#include "persist/IniFile.h"
#include "persist/WireText.h"
#include "ui/ConnectDlg.h"
#include "ui/MainForm.h"
#include "ui/MessageBox.h"
#include "ui/NavBar.h"
#include "ui/NavIcons.h"
#include "ui/Provision.h"
#include "ui/SiteDialogs.h"
#include "ui/SiteLibrary.h"
#include "ui/SplashDlg.h"
#include "ui/StatusPane.h"

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

QString KindShown(TRecordKind kind) {
  switch (kind) {
    case TRecordKind::Read:
      return U("Чтение");
    case TRecordKind::Write:
      return U("Запись");
    case TRecordKind::Verify:
      return U("Проверка");
    case TRecordKind::Backup:
      return U("Резервная копия");
    case TRecordKind::Compare:
      return U("Сравнение");
  }
  return {};
}

// A record's outcome as the window says it: its code's text, and for the
// codes whose detail names settings or a file, the detail.
QString OutcomeShown(TRecordOutcome outcome, const QString& detail) {
  static const struct {
    TRecordOutcome Outcome;
    const char* Shown;
    bool WithDetail;
  } shown[] = {{TRecordOutcome::Success, "успешно", false},
               {TRecordOutcome::FailedRequest, "панель не подтвердила запрос", false},
               {TRecordOutcome::Refused, "панель отказала", false},
               {TRecordOutcome::LinkLost, "связь с панелью потеряна", false},
               {TRecordOutcome::Interrupted, "прервано", false},
               {TRecordOutcome::NotConnected, "панель не ответила при подключении", false},
               {TRecordOutcome::NotSaved, "файл не сохранён", false},
               {TRecordOutcome::NotKept, "панель не сохранила: ", true},
               {TRecordOutcome::Same, "совпадает", false},
               {TRecordOutcome::Different, "отличается", false},
               {TRecordOutcome::Imported, "загружено из файла ", true},
               {TRecordOutcome::Unknown, "неизвестно: ", true}};
  static_assert(std::size(shown) == kRecordOutcomes);
  const auto& s = shown[int(outcome)];
  return s.WithDetail ? U(s.Shown) + detail : U(s.Shown);
}

class TEnterFilter : public QObject {
 public:
  TEnterFilter(QObject* parent, std::function<void()> action) : QObject(parent), action_(std::move(action)) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    action_();
    return true;
  }

 private:
  std::function<void()> action_;
};

// Why a site was not saved, as the library thread found it.
enum class TSaveFail { None, NameTaken, NameArchived, Unavailable, Failed };

QWidget* Parent(TForm1& form) { return form.isVisible() ? &form : nullptr; }

}  // namespace

std::function<bool(const QString&, QWidget*)> TSites::Confirm = [](const QString& question, QWidget* parent) {
  QMessageBox box(QMessageBox::Question, U("Объекты"), question, QMessageBox::Yes | QMessageBox::No, parent);
  box.button(QMessageBox::Yes)->setText(U("Да"));
  box.button(QMessageBox::No)->setText(U("Нет"));
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
};

std::function<std::optional<TSite>(const TSite&, const QString&, QWidget*)> TSites::EditCard =
    [](const TSite& start, const QString& note, QWidget* parent) {
      TdlgSite dialog(parent);
      dialog.setWindowTitle(start.Id == 0 ? U("Новый объект") : U("Объект: ") + start.Name);
      dialog.SetSite(start);
      if (!note.isEmpty()) dialog.SetNote(note);
      if (dialog.exec() != QDialog::Accepted) return std::optional<TSite>();
      return std::optional<TSite>(dialog.Site());
    };

TSites::TSites(TForm1& form, TRzGroupBar* bar, TformSites* page) : QObject(&form), form_(form), page_(page) {
  library_ = new TSiteLibrary(LibrarySpool(), this);
  connect(library_, &TSiteLibrary::Opened, this, &TSites::ShowLibraryState);
  connect(library_, &TSiteLibrary::Found, this, &TSites::Searched);
  connect(library_, &TSiteLibrary::HistoryLoaded, this, &TSites::HistoryLoaded);
  connect(library_, &TSiteLibrary::Stored, this, [this](const QString& site, const QString& warning) {
    if (!warning.isEmpty()) {
      form_.Memo()->appendPlainText(U("Операция не записана в библиотеку объектов (запись ждёт в очереди): ") +
                                    warning);
    }
    if (site == historySite_) library_->LoadHistory(site);
  });

  group_ = bar->AddGroup("RzGroup5", U("Объекты"));
  group_->AddItem(U("Объекты"), NavIcon(TNavIcon::Sites), [this] { ShowSitesPage(); });
  group_->AddItem(U("Новый объект"), NavIcon(TNavIcon::NewSite), [this] { NewSite(); });

  pane_ = new TRzStatusPane(&form);
  pane_->setObjectName("pSite");
  pane_->setMinimumWidth(100);
  pane_->setMaximumWidth(260);
  pane_->hide();
  form.statusBar()->addWidget(pane_);

  offer_ = new QWidget(&form);
  offer_->setObjectName("pAttachOffer");
  auto* offerLayout = new QHBoxLayout(offer_);
  offerLayout->setContentsMargins(0, 0, 0, 0);
  auto* offerText = new QLabel(U("Чтение не привязано к объекту"), offer_);
  offerText->setObjectName("lbAttachOffer");
  auto* offerAttach = new QPushButton(U("Привязать…"), offer_);
  offerAttach->setObjectName("btAttachOffer");
  auto* offerDecline = new QPushButton(U("Не привязывать"), offer_);
  offerDecline->setObjectName("btDeclineOffer");
  offerLayout->addWidget(offerText);
  offerLayout->addWidget(offerAttach);
  offerLayout->addWidget(offerDecline);
  connect(offerAttach, &QPushButton::clicked, this, &TSites::OpenAttachDialog);
  connect(offerDecline, &QPushButton::clicked, this, &TSites::DeclineAttach);
  offer_->hide();
  form.statusBar()->addPermanentWidget(offer_);

  debounce_ = new QTimer(this);
  debounce_->setSingleShot(true);
  debounce_->setInterval(250);
  connect(debounce_, &QTimer::timeout, this, &TSites::RunSearch);
  connect(page_->Search(), &QLineEdit::textChanged, debounce_, qOverload<>(&QTimer::start));
  page_->Search()->installEventFilter(new TEnterFilter(this, [this] {
    debounce_->stop();
    RunSearch();
    page_->SitesList()->setFocus();
  }));
  page_->SitesList()->installEventFilter(new TEnterFilter(this, [this] { MakeCurrent(); }));
  connect(page_->ShowArchived(), &QCheckBox::toggled, this, &TSites::RunSearch);
  page_->History()->installEventFilter(new TEnterFilter(this, [this] { CompareRecords(); }));
  connect(page_->SitesList(), &QTreeWidget::currentItemChanged, this, [this] { SiteChosen(); });
  connect(page_->History(), &QTreeWidget::itemSelectionChanged, this, &TSites::UpdateButtons);

  const std::pair<const char*, void (TSites::*)()> actions[] = {
      {"btNewSite", &TSites::NewSite},          {"btEditSite", &TSites::EditSite},
      {"btArchiveSite", &TSites::ArchiveSite},  {"btRestoreSite", &TSites::RestoreSite},
      {"btCurrentSite", &TSites::MakeCurrent},  {"btCallSite", &TSites::Call},
      {"btCompareRecords", &TSites::CompareRecords}, {"btLoadRecord", &TSites::LoadRecord},
      {"btSaveRecord", &TSites::SaveRecord}};
  for (const auto& [name, action] : actions) connect(page_->Button(name), &QPushButton::clicked, this, action);
  connect(&form, &TForm1::LinkFinished, this, &TSites::UpdateButtons);
  connect(&form, &TForm1::LinkStarted, this, &TSites::LinkStarted);
  // Connected or not once the progress dialog closes.
  connect(form.SplashDialog(), &QDialog::finished, this, &TSites::UpdateButtons);
  connect(&form, &TForm1::OperationEnded, this, &TSites::OperationEnded);
  if (form.Provision()) connect(form.Provision(), &TProvision::StepEnded, this, &TSites::OperationEnded);
  connect(&form, &TForm1::OperationFinished, this, &TSites::UpdateButtons);
  UpdateButtons();
}

TSites::~TSites() = default;

void TSites::OpenLibrary(std::optional<TLibraryPlace> place) {
  if (!place) {
    QString why;
    place = FindLibraryPlace(QString(), &why);
    if (!place) return ShowLibraryState(false, why);
    // The default library is created at its first use, not at every start;
    // records that wait for it are stored at once.
    if (place->Engine == TLibraryPlace::TEngine::SQLite && !QFileInfo::exists(place->File) &&
        LibrarySpool().Destinations().value(place->Identity()) == 0) {
      deferred_ = place;
      // No library yet, so no site of the last run either.
      restoring_.clear();
      UpdateButtons();
      return;
    }
  }
  deferred_.reset();
  library_->Open(*place);
}

void TSites::WhenOpen(std::function<void()> then) {
  if (!deferred_) return then();
  const TLibraryPlace place = *deferred_;
  deferred_.reset();
  library_->Open(place);
  library_->Run<bool>([](TLibrary&) { return true; }, [then](bool) { then(); });
}

void TSites::ShowSitesPage() {
  form_.ShowPage(page_);
  WhenOpen([] {});
}

void TSites::ShowLibraryState(bool ok, const QString& message) {
  if (!ok) {
    // Said once, on the page and in the memo (a status bar message would
    // hide the port and version panes); the rest of the window works as before.
    const QString text = U("Библиотека объектов недоступна: ") + message;
    page_->LibraryLabel()->setText(text);
    page_->LibraryLabel()->show();
    form_.Memo()->appendPlainText(text);
  } else if (!message.isEmpty()) {
    // A library of a newer program: read-only.
    page_->LibraryLabel()->setText(U("Библиотека объектов открыта только для чтения: ") + message);
    page_->LibraryLabel()->show();
  } else {
    page_->LibraryLabel()->hide();
  }
  if (!restoring_.isEmpty()) {
    const QString name = std::exchange(restoring_, QString());
    if (!ok) {
      // The library cannot say: the site stays current, its records wait.
      if (current_.isEmpty()) SetCurrentSite(name);
    } else {
      library_->Run<bool>(
          [name](TLibrary& library) {
            const auto site = library.IsOpen() ? library.FindSite(name) : std::nullopt;
            return site && !site->Archived;
          },
          [this, name](bool listed) {
            if (listed && current_.isEmpty()) SetCurrentSite(name);
          });
    }
  }
  UpdateButtons();
  if (ok) RunSearch();
  else emit Refreshed();
}

void TSites::LoadCurrent(const QString& iniFile) {
  TIniFile ini(iniFile);
  if (!ini.Load()) return;
  restoring_ = ini.ReadString(QStringLiteral("Sites"), QStringLiteral("Current"), QString()).trimmed();
  if (SiteNameProblem(restoring_)) restoring_.clear();
}

bool TSites::SaveCurrent(const QString& iniFile, QString* error) const {
  TIniFile ini(iniFile);
  (void)ini.Load();
  ini.WriteString(QStringLiteral("Sites"), QStringLiteral("Current"), current_);
  return ini.Save(error);
}

void TSites::RunSearch() { library_->Search(page_->Search()->text().trimmed(), page_->ShowArchived()->isChecked()); }

void TSites::Searched(const QString& text, const std::vector<TSite>& sites) {
  const QString chosen = ChosenSite();
  sites_ = sites;
  page_->NothingFound()->setVisible(sites.empty() && !text.isEmpty());
  page_->ShowSites(sites_, current_, chosen);
  SiteChosen();
}

const TSite* TSites::Chosen() const {
  const QString name = page_->ChosenName();
  if (name.isEmpty()) return nullptr;
  for (const TSite& site : sites_)
    if (site.Name == name) return &site;
  return nullptr;
}

QString TSites::ChosenSite() const {
  const TSite* site = Chosen();
  return site ? site->Name : QString();
}

void TSites::SiteChosen() {
  historySite_ = ChosenSite();
  if (historySite_.isEmpty()) {
    HistoryLoaded(QString(), {}, {});
    return;
  }
  library_->LoadHistory(historySite_);
  UpdateButtons();
}

void TSites::HistoryLoaded(const QString& site, const std::vector<TRecord>& records,
                           const std::vector<THistoryChange>& changes) {
  if (site != historySite_) return;
  history_ = records;
  QStringList outcomes, kinds;
  for (const TRecord& r : records) {
    outcomes << OutcomeShown(r.Outcome, r.Detail);
    kinds << KindShown(r.Kind);
  }
  page_->ShowHistory(records, changes, outcomes, kinds);
  UpdateButtons();
  emit Refreshed();
}

std::vector<int> TSites::ChosenRecords() const {
  std::vector<int> numbers;
  for (const QTreeWidgetItem* item : page_->History()->selectedItems())
    numbers.push_back(item->data(0, Qt::UserRole).toInt());
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

void TSites::UpdateButtons() {
  const bool usable = library_->IsOpen();
  const bool writable = (usable && !library_->ReadOnly()) || deferred_;
  const TSite* site = Chosen();
  const TSite* listed = site && !site->Archived ? site : nullptr;
  const size_t records = ChosenRecords().size();
  const bool idle = !form_.IsBusy();
  page_->Button("btNewSite")->setEnabled(writable);
  page_->Button("btEditSite")->setEnabled(writable && listed);
  page_->Button("btArchiveSite")->setEnabled(writable && listed);
  page_->Button("btRestoreSite")->setEnabled(usable && !library_->ReadOnly() && site && site->Archived);
  page_->Button("btRestoreSite")->setVisible(page_->ShowArchived()->isChecked());
  page_->Button("btCurrentSite")->setEnabled(listed && listed->Name != current_);
  page_->Button("btCallSite")->setEnabled(listed && !listed->DataNumber.isEmpty() && !form_.IsConnected());
  page_->Button("btCompareRecords")->setEnabled(records == 1 || records == 2);
  // One record is compared with the pages, without loading it; two with each other.
  page_->Button("btCompareRecords")->setText(records == 1 ? U("Сравнить с записью") : U("Сравнить"));
  page_->Button("btLoadRecord")->setEnabled(records == 1 && idle);
  page_->Button("btSaveRecord")->setEnabled(records == 1);
}

void TSites::SetCurrentSite(const QString& site) {
  current_ = site;
  pane_->SetCaption(site.isEmpty() ? QString() : U("Объект: ") + site);
  pane_->setToolTip(site);
  pane_->setVisible(!site.isEmpty());
  page_->MarkCurrent(site);
  UpdateButtons();
}

void TSites::MakeCurrent() {
  if (const TSite* site = Chosen(); site && !site->Archived) SetCurrentSite(site->Name);
}

void TSites::ShowSite(const QString& name) {
  const QSignalBlocker block(page_->Search());
  page_->Search()->setText(name);
  RunSearch();
}

void TSites::SaveSite(const QString& oldName, const TSite& site, std::function<void(const QString&)> then) {
  struct TSaved {
    TSaveFail Fail = TSaveFail::None;
    QString Error;
  };
  library_->Run<TSaved>(
      [oldName, site](TLibrary& library) {
        TSaved saved;
        if (!library.IsOpen()) {
          saved.Fail = TSaveFail::Unavailable;
        } else if (!(oldName.isEmpty() ? library.AddSite(site) : library.UpdateSite(oldName, site))) {
          saved.Error = library.Error();
          // Told apart by what the library holds, not by its words.
          const auto holder = site.Name == oldName ? std::nullopt : library.FindSite(site.Name);
          saved.Fail = !holder ? TSaveFail::Failed : holder->Archived ? TSaveFail::NameArchived : TSaveFail::NameTaken;
        }
        return saved;
      },
      [this, oldName, site, then](TSaved saved) {
        const auto again = [&](const QString& note) { EditAndSave(oldName, site, note, then); };
        switch (saved.Fail) {
          case TSaveFail::None:
            if (!oldName.isEmpty() && current_ == oldName) SetCurrentSite(site.Name);
            ShowSite(site.Name);
            if (then) then(site.Name);
            return;
          case TSaveFail::NameTaken:
            return again(U("Объект с названием «%1» уже есть: дайте другое название.").arg(site.Name));
          case TSaveFail::NameArchived:
            // A new site may be the archived one coming back.
            if (oldName.isEmpty() &&
                Confirm(U("Название «%1» занято объектом из архива. Восстановить этот объект с его историей?")
                            .arg(site.Name),
                        &form_))
              return Restore(site.Name, [then, name = site.Name](bool ok) {
                if (then) then(ok ? name : QString());
              });
            return again(U("Название «%1» занято объектом из архива: восстановите его (включите «Показать "
                           "архивные») или дайте другое название.")
                             .arg(site.Name));
          case TSaveFail::Unavailable:
            return again(U("Библиотека объектов недоступна, объект не сохранён. Повторите позже или нажмите «Отмена»."));
          case TSaveFail::Failed:
            // The database's own words go to the memo; the card says what to do.
            form_.Memo()->appendPlainText(U("Библиотека объектов: ") + saved.Error);
            return again(U("Библиотека объектов не сохранила объект (подробности в журнале). Повторите или "
                           "нажмите «Отмена»."));
        }
      });
}

void TSites::EditAndSave(const QString& oldName, const TSite& start, const QString& note,
                         std::function<void(const QString&)> then) {
  const std::optional<TSite> site = EditCard(start, note, &form_);
  if (!site) {
    if (then) then(QString());
    return;
  }
  TSite filled = *site;
  filled.Id = start.Id;  // the card's title says whether the site is new
  SaveSite(oldName, filled, std::move(then));
}

void TSites::NewSite() {
  form_.ShowPage(page_);
  WhenOpen([this] {
    // The item stays usable from the keyboard; an unusable library is said.
    if (!library_->IsOpen() || library_->ReadOnly()) {
      MessageBox::Show(library_->IsOpen() ? U("Библиотека объектов открыта только для чтения.")
                                          : U("Библиотека объектов недоступна: ") + library_->Error(),
                       Parent(form_));
      return;
    }
    EditAndSave(QString(), TSite(), QString());
  });
}

void TSites::EditSite() {
  const TSite* chosen = Chosen();
  if (!chosen || chosen->Archived) return;
  EditAndSave(chosen->Name, *chosen, QString());
}

void TSites::ArchiveSite() {
  const TSite* chosen = Chosen();
  if (!chosen || chosen->Archived) return;
  const QString name = chosen->Name;
  if (!Confirm(U("Перенести объект «%1» в архив? Его история сохранится; найти и восстановить его можно, "
                 "включив «Показать архивные».")
                   .arg(name),
               &form_))
    return;
  library_->Run<QString>(
      [name](TLibrary& library) { return library.ArchiveSite(name) ? QString() : library.Error(); },
      [this, name](QString error) {
        if (!error.isEmpty()) {
          form_.Memo()->appendPlainText(U("Библиотека объектов: ") + error);
          MessageBox::Show(U("Объект «%1» не перенесён в архив: библиотека объектов ответила ошибкой (подробности "
                             "в журнале).")
                               .arg(name),
                           Parent(form_), MessageBox::TKind::Error);
        } else if (current_ == name) {
          SetCurrentSite(QString());
        }
        RunSearch();
      });
}

void TSites::RestoreSite() {
  const TSite* chosen = Chosen();
  if (chosen && chosen->Archived) Restore(chosen->Name);
}

void TSites::Restore(const QString& name, std::function<void(bool)> then) {
  library_->Run<QString>(
      [name](TLibrary& library) { return library.RestoreSite(name) ? QString() : library.Error(); },
      [this, name, then](QString error) {
        if (!error.isEmpty()) {
          form_.Memo()->appendPlainText(U("Библиотека объектов: ") + error);
          MessageBox::Show(U("Объект «%1» не восстановлен: библиотека объектов ответила ошибкой (подробности в "
                             "журнале).")
                               .arg(name),
                           Parent(form_), MessageBox::TKind::Error);
        } else {
          form_.Memo()->appendPlainText(U("Объект «%1» восстановлен из архива").arg(name));
        }
        ShowSite(name);
        if (then) then(error.isEmpty());
      });
}

void TSites::Call() {
  const TSite* site = Chosen();
  if (!site || site->DataNumber.isEmpty() || form_.IsConnected()) return;
  // The modem's port as the port dialog holds it (or "current.ini" gave it).
  TdlgConnect* dialog = form_.ConnectDialog();
  const QString port = dialog->ComPorts()->currentText().trimmed();
  if (port.isEmpty()) {
    MessageBox::Show(U("Не выбран порт GSM-модема: выберите его в окне «Подключиться»."), &form_);
    return;
  }
  // A number with nothing to dial is never turned into a direct link.
  const std::string number = ToWire(site->DataNumber);
  if (!HasDigitsToDial(number)) {
    MessageBox::Show(U("В номере GSM-модема объекта «%1» нет цифр для набора.").arg(site->Name), &form_);
    return;
  }
  SetCurrentSite(site->Name);
  form_.ConnectLink(port, number, dialog->WaitForNetwork());
  UpdateButtons();
}
