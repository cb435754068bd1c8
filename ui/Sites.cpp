#include "ui/Sites.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QFileInfo>
#include <QStatusBar>
#include <QStyle>
#include <QSysInfo>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <set>

#include "library/LibraryUse.h"
#include "library/RecordSpool.h"
#include "link/xModem.h"
#include "persist/SettingsCodec.h"
#include "persist/WireText.h"
#include "ui/CompareDlg.h"
#include "ui/ConnectDlg.h"
#include "ui/MainForm.h"
#include "ui/MessageBox.h"
#include "ui/NavBar.h"
#include "ui/Provision.h"
#include "ui/SiteDialogs.h"
#include "ui/SiteLibrary.h"
#include "ui/SplashDlg.h"
#include "ui/StatusPane.h"
#include "ui/WindowTexts.h"

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

const char* const kButtons[][2] = {
    {"btNewSite", "Новый объект"},       {"btEditSite", "Изменить"},        {"btArchiveSite", "В архив"},
    {"btCurrentSite", "Сделать текущим"}, {"btCallSite", "Позвонить"},       {"btCompareRecords", "Сравнить"},
    {"btLoadRecord", "Загрузить в страницы"},
};

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

// The outcome words of a record, as the window says them.
QString OutcomeShown(const QString& words) {
  static const struct {
    const char* Words;
    const char* Shown;
  } known[] = {{"success", "успешно"},
               {"the panel did not confirm", "панель не подтвердила запрос"},
               {"the panel refused", "панель отказала"},
               {"the link to the panel was lost", "связь с панелью потеряна"},
               {"interrupted", "прервано"},
               {"same as the pages", "совпадает со страницами"},
               {"the backup file was not saved", "файл резервной копии не сохранён"}};
  for (const auto& k : known)
    if (words == QLatin1String(k.Words)) return U(k.Shown);
  // The command line's words name the file compared with.
  static const QRegularExpression differ("^(\\d+) settings differ from (.*)$");
  if (const auto m = differ.match(words); m.hasMatch())
    return U("отличаются настройки: ") + m.captured(1) +
           (m.captured(2) == QLatin1String("the pages") ? QString() : U(" (файл ") + m.captured(2) + ')');
  if (words.startsWith(QLatin1String("same as "))) return U("совпадает с файлом ") + words.mid(8);
  if (words.startsWith(QLatin1String("imported from "))) return U("загружено из файла ") + words.mid(14);
  if (words.startsWith(QLatin1String("the panel did not keep: ")))
    return U("панель не сохранила: ") + words.mid(24);
  return words;
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

}  // namespace

std::function<bool(const QString&, QWidget*)> TSites::Confirm = [](const QString& question, QWidget* parent) {
  QMessageBox box(QMessageBox::Question, U("Объекты"), question, QMessageBox::Yes | QMessageBox::No, parent);
  box.button(QMessageBox::Yes)->setText(U("Да"));
  box.button(QMessageBox::No)->setText(U("Нет"));
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
};

std::function<std::optional<TSite>(const TSite&, QWidget*)> TSites::EditCard = [](const TSite& start,
                                                                                   QWidget* parent) {
  TdlgSite dialog(parent);
  dialog.setWindowTitle(start.Name.isEmpty() ? U("Новый объект") : U("Объект: ") + start.Name);
  dialog.SetSite(start);
  if (dialog.exec() != QDialog::Accepted) return std::optional<TSite>();
  return std::optional<TSite>(dialog.Site());
};

TformSites::TformSites(QWidget* parent) : TPage(parent) {
  setObjectName(QStringLiteral("TformSites"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setSpacing(6);

  auto* searchRow = new QHBoxLayout;
  auto* searchLabel = new QLabel(U("Поиск:"), this);
  searchLabel->setObjectName("lbSearch");
  search_ = new QLineEdit(this);
  search_->setObjectName("edSearch");
  search_->setPlaceholderText(U("название, адрес, телефон или ключ"));
  search_->setClearButtonEnabled(true);
  searchLabel->setBuddy(search_);
  searchRow->addWidget(searchLabel);
  searchRow->addWidget(search_, 1);
  layout->addLayout(searchRow);

  nothing_ = new QLabel(U("Ничего не найдено"), this);
  nothing_->setObjectName("lbNothingFound");
  nothing_->hide();
  layout->addWidget(nothing_);

  library_ = new QLabel(this);
  library_->setObjectName("lbLibrary");
  library_->setWordWrap(true);
  library_->hide();
  layout->addWidget(library_);

  // A plain row, not a splitter: the window's layout file keeps only its own.
  auto* split = new QHBoxLayout;
  sites_ = new QTreeWidget(this);
  sites_->setObjectName("lvSites");
  sites_->setHeaderLabels({U("Объект"), U("Адрес")});
  sites_->setRootIsDecorated(false);
  sites_->setUniformRowHeights(true);
  sites_->setMinimumWidth(160);
  history_ = new QTreeWidget(this);
  history_->setObjectName("lvHistory");
  history_->setHeaderLabels({U("№"), U("Время"), U("Оператор"), U("Действие"), U("Итог")});
  history_->setRootIsDecorated(false);
  history_->setUniformRowHeights(true);
  history_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  history_->setMinimumWidth(200);
  split->addWidget(sites_, 2);
  split->addWidget(history_, 3);
  layout->addLayout(split, 1);

  // The site's buttons on one row, the records' on the next.
  auto* siteRow = new QHBoxLayout;
  auto* recordRow = new QHBoxLayout;
  for (const auto& b : kButtons) {
    auto* button = new QPushButton(U(b[1]), this);
    button->setObjectName(b[0]);
    button->setAutoDefault(false);
    const bool forRecords = QLatin1String(b[0]) == "btCompareRecords" || QLatin1String(b[0]) == "btLoadRecord";
    (forRecords ? recordRow : siteRow)->addWidget(button);
  }
  siteRow->addStretch(1);
  recordRow->addStretch(1);
  layout->addLayout(siteRow);
  layout->addLayout(recordRow);

  // Tab: the search, the sites, the history, then the buttons in their order.
  QWidget* previous = search_;
  for (QWidget* next : std::initializer_list<QWidget*>{sites_, history_}) {
    setTabOrder(previous, next);
    previous = next;
  }
  for (const auto& b : kButtons) {
    QWidget* next = Button(b[0]);
    setTabOrder(previous, next);
    previous = next;
  }
}

QPushButton* TformSites::Button(const char* name) const { return findChild<QPushButton*>(QLatin1String(name)); }

TSites::TSites(TForm1& form, TRzGroupBar* bar, TformSites* page) : QObject(&form), form_(form), page_(page) {
  library_ = new TSiteLibrary(LibrarySpoolDir(), this);
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

  QStyle* s = form.style();
  group_ = bar->AddGroup("RzGroup5", U("Объекты"));
  group_->AddItem(U("Объекты"), s->standardIcon(QStyle::SP_DirHomeIcon), [this] { ShowSitesPage(); });
  group_->AddItem(U("Новый объект"), s->standardIcon(QStyle::SP_FileDialogNewFolder), [this] { NewSite(); });

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
  page_->History()->installEventFilter(new TEnterFilter(this, [this] { CompareRecords(); }));
  connect(page_->SitesList(), &QTreeWidget::currentItemChanged, this, &TSites::SiteChosen);
  connect(page_->History(), &QTreeWidget::itemSelectionChanged, this, &TSites::UpdateButtons);

  const std::pair<const char*, void (TSites::*)()> actions[] = {
      {"btNewSite", &TSites::NewSite},          {"btEditSite", &TSites::EditSite},
      {"btArchiveSite", &TSites::ArchiveSite},  {"btCurrentSite", &TSites::MakeCurrent},
      {"btCallSite", &TSites::Call},            {"btCompareRecords", &TSites::CompareRecords},
      {"btLoadRecord", &TSites::LoadRecord}};
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
        TRecordSpool(LibrarySpoolDir()).Count() == 0) {
      deferred_ = place;
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
  UpdateButtons();
  if (ok) RunSearch();
  else emit Refreshed();
}

void TSites::RunSearch() { library_->Search(page_->Search()->text().trimmed()); }

void TSites::Searched(const QString& text, const std::vector<TSite>& sites) {
  const QString chosen = ChosenSite();
  sites_ = sites;
  page_->NothingFound()->setVisible(sites.empty() && !text.isEmpty());
  QTreeWidget* list = page_->SitesList();
  const QSignalBlocker block(list);
  list->clear();
  QTreeWidgetItem* again = nullptr;
  for (const TSite& site : sites_) {
    auto* item = new QTreeWidgetItem(list, {site.Name, site.Address});
    item->setToolTip(0, site.Notes.isEmpty() ? site.Name : site.Name + '\n' + site.Notes);
    if (site.Name == chosen) again = item;
  }
  list->resizeColumnToContents(0);
  if (!again && list->topLevelItemCount() > 0) again = list->topLevelItem(0);
  list->setCurrentItem(again);
  SiteChosen();
}

const TSite* TSites::Chosen() const {
  const QTreeWidgetItem* item = page_->SitesList()->currentItem();
  if (!item) return nullptr;
  for (const TSite& site : sites_)
    if (site.Name == item->text(0)) return &site;
  return nullptr;
}

QString TSites::ChosenSite() const {
  const TSite* site = Chosen();
  return site ? site->Name : QString();
}

void TSites::SiteChosen() {
  historySite_ = ChosenSite();
  if (historySite_.isEmpty()) {
    HistoryLoaded(QString(), {});
    return;
  }
  library_->LoadHistory(historySite_);
  UpdateButtons();
}

void TSites::HistoryLoaded(const QString& site, const std::vector<TRecord>& records) {
  if (site != historySite_) return;
  history_ = records;
  QTreeWidget* list = page_->History();
  const QSignalBlocker block(list);
  list->clear();
  // The newest first; the time as the user's clock shows it.
  for (auto r = records.rbegin(); r != records.rend(); ++r) {
    auto* item = new QTreeWidgetItem(
        list, {QString::number(r->Number), r->Time.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
               r->Operator, KindShown(r->Kind), OutcomeShown(r->Outcome)});
    item->setData(0, Qt::UserRole, r->Number);
    item->setToolTip(4, r->Outcome + (r->Port.isEmpty() ? QString() : U("\nПорт: ") + r->Port) +
                            (r->Firmware.isEmpty() ? QString() : U("\nПрошивка: ") + r->Firmware));
  }
  for (int column = 0; column < 4; ++column) list->resizeColumnToContents(column);
  if (list->topLevelItemCount() > 0) list->setCurrentItem(list->topLevelItem(0));
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
  const size_t records = ChosenRecords().size();
  const bool idle = !form_.IsBusy();
  page_->Button("btNewSite")->setEnabled(writable);
  page_->Button("btEditSite")->setEnabled(writable && site);
  page_->Button("btArchiveSite")->setEnabled(writable && site);
  page_->Button("btCurrentSite")->setEnabled(site && site->Name != current_);
  page_->Button("btCallSite")->setEnabled(site && !site->DataNumber.isEmpty() && !form_.IsConnected());
  page_->Button("btCompareRecords")->setEnabled(records == 1 || records == 2);
  page_->Button("btLoadRecord")->setEnabled(records == 1 && idle);
}

void TSites::SetCurrentSite(const QString& site) {
  current_ = site;
  pane_->SetCaption(site.isEmpty() ? QString() : U("Объект: ") + site);
  pane_->setToolTip(site);
  pane_->setVisible(!site.isEmpty());
  UpdateButtons();
}

void TSites::MakeCurrent() {
  if (const TSite* site = Chosen()) SetCurrentSite(site->Name);
}

void TSites::SaveSite(const QString& oldName, const TSite& site, std::function<void(bool)> then) {
  struct TSaved {
    bool Ok = false;
    QString Error;
  };
  library_->Run<TSaved>(
      [oldName, site](TLibrary& library) {
        TSaved saved;
        saved.Ok = library.IsOpen() && (oldName.isEmpty() ? library.AddSite(site) : library.UpdateSite(oldName, site));
        saved.Error = library.Error();
        return saved;
      },
      [this, oldName, site, then](TSaved saved) {
        if (!saved.Ok) {
          MessageBox::Show(U("Объект не сохранён: ") + saved.Error, form_.isVisible() ? &form_ : nullptr);
        } else {
          if (!oldName.isEmpty() && current_ == oldName) SetCurrentSite(site.Name);
          // The list shows the site just saved.
          const QSignalBlocker block(page_->Search());
          page_->Search()->setText(site.Name);
          RunSearch();
        }
        if (then) then(saved.Ok);
      });
}

void TSites::NewSite() {
  form_.ShowPage(page_);
  WhenOpen([this] {
    // The item stays usable from the keyboard; an unusable library is said.
    if (!library_->IsOpen() || library_->ReadOnly()) {
      MessageBox::Show(library_->IsOpen() ? U("Библиотека объектов открыта только для чтения.")
                                          : U("Библиотека объектов недоступна: ") + library_->Error(),
                       form_.isVisible() ? &form_ : nullptr);
      return;
    }
    if (const auto site = EditCard(TSite(), &form_)) SaveSite(QString(), *site);
  });
}

void TSites::EditSite() {
  const TSite* chosen = Chosen();
  if (!chosen) return;
  const TSite before = *chosen;
  if (const auto site = EditCard(before, &form_)) SaveSite(before.Name, *site);
}

void TSites::ArchiveSite() {
  const TSite* chosen = Chosen();
  if (!chosen) return;
  const QString name = chosen->Name;
  if (!Confirm(U("Перенести объект «%1» в архив? Его история сохранится, но в списке он больше не появится.").arg(name),
               &form_))
    return;
  library_->Run<QString>(
      [name](TLibrary& library) { return library.ArchiveSite(name) ? QString() : library.Error(); },
      [this, name](QString error) {
        if (!error.isEmpty()) MessageBox::Show(U("Объект не перенесён в архив: ") + error, &form_);
        if (current_ == name) SetCurrentSite(QString());
        RunSearch();
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

void TSites::CompareRecords() {
  const std::vector<int> numbers = ChosenRecords();
  const QString site = historySite_;
  if (site.isEmpty() || numbers.empty() || numbers.size() > 2) return;
  library_->Run<std::vector<TSettings>>(
      [site, numbers](TLibrary& library) {
        std::vector<TSettings> settings;
        for (int number : numbers)
          if (const auto record = library.Record(site, number)) settings.push_back(RecordSettings(record->Settings));
        return settings;
      },
      [this, numbers, site](std::vector<TSettings> settings) {
        if (settings.size() != numbers.size()) {
          MessageBox::Show(U("Записи объекта «%1» не прочитаны из библиотеки.").arg(site), &form_);
          return;
        }
        const TSettings& left = settings[0];
        TSettings right;
        QString rightName;
        if (numbers.size() == 2) {
          // As history --diff: a setting only one record holds shows empty
          // on the other side.
          right = settings[1];
          rightName = U("Запись %1").arg(numbers[1]);
        } else {
          // The pages hold everything: what the record holds is compared.
          right = form_.PagesSettings(left.Groups);
          rightName = U("На странице");
        }
        if (!compare_) compare_ = new TdlgCompare(&form_);
        compare_->SetSides(U("Сравнение записей объекта «%1»").arg(site), U("Запись %1").arg(numbers[0]), rightName,
                           numbers.size() == 2 ? U("Записи совпадают.") : U("Запись и страницы совпадают."));
        compare_->Show(Differences(left, right));
      });
}

void TSites::LoadRecord() {
  const std::vector<int> numbers = ChosenRecords();
  const QString site = historySite_;
  if (site.isEmpty() || numbers.size() != 1) return;
  const int number = numbers[0];
  library_->Run<std::optional<QByteArray>>(
      [site, number](TLibrary& library) -> std::optional<QByteArray> {
        const auto record = library.Record(site, number);
        if (!record) return std::nullopt;
        return record->Settings;
      },
      [this, site, number](std::optional<QByteArray> text) {
        if (!text) {
          MessageBox::Show(U("Запись %1 объекта «%2» не прочитана из библиотеки.").arg(number).arg(site), &form_,
                           MessageBox::TKind::Error);
          return;
        }
        // A running write sends what the pages held when it began; a read
        // would overwrite them: wait until the panel is free.
        if (form_.IsBusy()) {
          MessageBox::Show(U("Идёт обмен с панелью: загрузите запись после его окончания."), &form_);
          return;
        }
        // As the window's Load takes a file: the groups the record holds, what
        // it lacks of them kept and named.
        const TDecodedSettings loaded = LoadSettingsText(*text, form_.PagesSettings(TGroups::AllWithAdc()));
        if (!loaded.Taken) {
          MessageBox::Show(U("В записи %1 объекта «%2» нет настроек панели.\nНичего не загружено, страницы не изменились.")
                               .arg(number)
                               .arg(site),
                           &form_, MessageBox::TKind::Error);
          return;
        }
        form_.ShowSettings(loaded.Settings);
        form_.Memo()->appendPlainText(U("Загружена в страницы запись %1 объекта «%2»").arg(number).arg(site));
        const QString leftOut = WindowTexts::LoadLeftOut(WindowTexts::RecordSource(number, site), loaded);
        if (!leftOut.isEmpty()) MessageBox::Show(leftOut, &form_, MessageBox::TKind::Warning);
      });
}

void TSites::LinkStarted(const QString& port, const QString& phone) {
  port_ = phone.isEmpty() ? port : phone;
  firmware_.clear();
  // A new connection may be another panel: the offer starts afresh.
  declined_ = false;
  unattached_.reset();
  offer_->hide();
}

TRecord TSites::MakeRecord(const TOperationEnd& end) {
  // The version the connection check saw, kept for writes and for a link
  // that went down before the record was made.
  if (!form_.Firmware().isEmpty()) firmware_ = form_.Firmware();
  TRecord record;
  record.Time = QDateTime::currentDateTimeUtc();
  record.Operator = SystemUser();
  record.Host = QSysInfo::machineHostName();
  record.Kind = end.Kind;
  record.Outcome = end.Outcome;
  record.Firmware = end.Settings.Version.empty() ? firmware_ : FromWire(end.Settings.Version);
  record.Port = port_;
  return record;
}

void TSites::OperationEnded(const TOperationEnd& end) {
  const TRecord record = MakeRecord(end);
  if (!current_.isEmpty()) {
    if (deferred_) {
      // Queued before the record: the library is made first.
      library_->Open(*deferred_);
      deferred_.reset();
    }
    library_->Store(current_, record, end.Settings);
    return;
  }
  if (end.WholeRead && end.Outcome == QLatin1String("success") && !declined_ && library_->IsOpen() &&
      !library_->ReadOnly()) {
    unattached_ = end;
    unattachedRecord_ = record;
    OfferAttach(end);
  }
}

void TSites::OfferAttach(const TOperationEnd& end) {
  QStringList phones;
  for (const std::string& phone : end.Settings.Phone)
    if (!phone.empty() && !phones.contains(QString::fromStdString(phone))) phones << QString::fromStdString(phone);
  suggestions_.clear();
  offer_->show();
  // The sites that share a phone number with the panel come first.
  library_->Run<QStringList>(
      [phones](TLibrary& library) {
        QStringList names;
        for (const QString& phone : phones)
          for (const TSite& site : library.Search(phone, 20))
            if (!names.contains(site.Name)) names << site.Name;
        return names;
      },
      [this](QStringList names) {
        suggestions_ = names;
        if (attach_ && attach_->isVisible()) attach_->SetSuggestions(suggestions_);
        emit Refreshed();
      });
}

void TSites::OpenAttachDialog() {
  if (!unattached_) return;
  if (!attach_) {
    attach_ = new TdlgAttach(&form_);
    connect(attach_, &TdlgAttach::Attach, this, &TSites::Attach);
    connect(attach_, &TdlgAttach::Declined, this, &TSites::DeclineAttach);
    connect(attach_, &TdlgAttach::NewSite, this, [this] {
      // A card cancelled is "not now": the offer stays in the status bar.
      std::optional<TSite> site = EditCard(TSite(), &form_);
      if (!site) return;
      const QString name = site->Name;
      SaveSite(QString(), *site, [this, name](bool ok) {
        if (ok) Attach(name);
      });
    });
  }
  attach_->SetSuggestions(suggestions_);
  attach_->show();
  attach_->raise();
  attach_->activateWindow();
}

void TSites::DeclineAttach() {
  declined_ = true;
  unattached_.reset();
  offer_->hide();
}

void TSites::Attach(const QString& site) {
  if (!unattached_) return;
  const TOperationEnd end = *unattached_;
  unattached_.reset();
  offer_->hide();
  library_->Store(site, unattachedRecord_, end.Settings);
  SetCurrentSite(site);
  if (attach_) attach_->hide();
}
