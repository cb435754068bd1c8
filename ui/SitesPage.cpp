#include "ui/SitesPage.h"

#include <QCheckBox>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/SettingNames.h"

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

// The changed settings a history row's tooltip names before "…".
constexpr size_t kChangedInTip = 15;

const char* const kButtons[][2] = {
    {"btNewSite", "Новый объект"},         {"btEditSite", "Изменить"},
    {"btArchiveSite", "В архив"},          {"btRestoreSite", "Восстановить"},
    {"btCurrentSite", "Сделать текущим"},  {"btCallSite", "Позвонить"},
    {"btCompareRecords", "Сравнить"},      {"btLoadRecord", "Загрузить в страницы"},
    {"btSaveRecord", "Сохранить в файл…"},
};

bool ForRecords(const char* name) {
  const QLatin1String n(name);
  return n == QLatin1String("btCompareRecords") || n == QLatin1String("btLoadRecord") ||
         n == QLatin1String("btSaveRecord");
}

// What a column sorts by: a number kept with the cell (record numbers,
// times, counts), else its text as the user's language orders it.
constexpr int kSortRole = Qt::UserRole + 2;

class TSortedItem : public QTreeWidgetItem {
 public:
  using QTreeWidgetItem::QTreeWidgetItem;
  bool operator<(const QTreeWidgetItem& other) const override {
    const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
    const QVariant a = data(column, kSortRole);
    const QVariant b = other.data(column, kSortRole);
    if (a.isValid() && b.isValid()) return a.toLongLong() < b.toLongLong();
    return QString::localeAwareCompare(text(column), other.text(column)) < 0;
  }
};

QTreeWidget* MakeList(QWidget* parent, const char* name, const QStringList& headers) {
  auto* list = new QTreeWidget(parent);
  list->setObjectName(name);
  list->setHeaderLabels(headers);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  // A long name keeps its start and its end; the tooltip has it whole.
  list->setTextElideMode(Qt::ElideMiddle);
  list->setSortingEnabled(true);
  list->header()->setSortIndicatorShown(true);
  list->header()->setStretchLastSection(true);
  return list;
}

// Column widths for the contents, none wider than part of the list: a long
// name does not push the address out of view.
void FitColumns(QTreeWidget* list, int columns, int mostPercent) {
  const int most = std::max(80, list->viewport()->width() * mostPercent / 100);
  for (int column = 0; column < columns; ++column) {
    list->resizeColumnToContents(column);
    if (list->columnWidth(column) > most) list->setColumnWidth(column, most);
  }
}

}  // namespace

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
  searchLabel->setBuddy(search_);
  archived_ = new QCheckBox(U("Показать &архивные"), this);
  archived_->setObjectName("cbArchived");
  searchRow->addWidget(searchLabel);
  searchRow->addWidget(search_, 1);
  searchRow->addWidget(archived_);
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
  sites_ = MakeList(this, "lvSites", {U("Объект"), U("Адрес")});
  sites_->setMinimumWidth(160);
  sites_->sortByColumn(0, Qt::AscendingOrder);
  QStringList columns(kColumns);
  columns[kNumber] = U("№");
  columns[kTime] = U("Время");
  columns[kOperator] = U("Оператор");
  columns[kKind] = U("Действие");
  columns[kOutcome] = U("Итог");
  columns[kChanged] = U("Изменено");
  columns[kFirmware] = U("Прошивка");
  columns[kPort] = U("Порт или номер");
  history_ = MakeList(this, "lvHistory", columns);
  history_->headerItem()->setToolTip(kChanged, U("Сколько настроек изменилось по сравнению с предыдущей записью"));
  history_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  history_->setMinimumWidth(200);
  history_->sortByColumn(kNumber, Qt::DescendingOrder);
  split->addWidget(sites_, 1);
  split->addWidget(history_, 2);
  layout->addLayout(split, 1);

  // The site's buttons on one row, the records' on the next.
  auto* siteRow = new QHBoxLayout;
  auto* recordRow = new QHBoxLayout;
  for (const auto& b : kButtons) {
    auto* button = new QPushButton(U(b[1]), this);
    button->setObjectName(b[0]);
    button->setAutoDefault(false);
    (ForRecords(b[0]) ? recordRow : siteRow)->addWidget(button);
  }
  siteRow->addStretch(1);
  recordRow->addStretch(1);
  layout->addLayout(siteRow);
  layout->addLayout(recordRow);

  // Tab: the search, the switch, the sites, the history, then the buttons.
  QWidget* previous = search_;
  for (QWidget* next : std::initializer_list<QWidget*>{archived_, sites_, history_}) {
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

void TformSites::ShowSites(const std::vector<TSite>& sites, const QString& current, const QString& chosen) {
  const QSignalBlocker block(sites_);
  sites_->setSortingEnabled(false);
  sites_->clear();
  QTreeWidgetItem* again = nullptr;
  for (const TSite& site : sites) {
    auto* item = new TSortedItem(sites_, {site.Name, site.Address});
    item->setData(0, kNameRole, site.Name);
    item->setData(0, kMarkRole, int(site.Archived ? TMark::Archived : TMark::None));
    QString tip = site.Name;
    if (!site.Address.isEmpty()) tip += '\n' + site.Address;
    if (!site.Notes.isEmpty()) tip += '\n' + site.Notes;
    item->setData(0, kTipRole, tip);
    item->setToolTip(1, site.Address);
    if (site.Name == chosen) again = item;
  }
  sites_->setSortingEnabled(true);
  MarkCurrent(current);
  FitColumns(sites_, 1, 60);
  if (!again && sites_->topLevelItemCount() > 0) again = sites_->topLevelItem(0);
  sites_->setCurrentItem(again);
}

void TformSites::MarkCurrent(const QString& current) {
  const QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
  for (int i = 0; i < sites_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = sites_->topLevelItem(i);
    const bool archived = TMark(item->data(0, kMarkRole).toInt()) == TMark::Archived;
    const bool isCurrent = !current.isEmpty() && item->data(0, kNameRole).toString() == current;
    if (!archived) item->setData(0, kMarkRole, int(isCurrent ? TMark::Current : TMark::None));
    QFont font = sites_->font();
    font.setBold(isCurrent);
    font.setItalic(archived);
    QString note;
    if (isCurrent) note = U("Текущий объект: операции с панелью записываются в его историю");
    if (archived) note = U("В архиве");
    for (int column = 0; column < 2; ++column) {
      item->setFont(column, font);
      if (archived) item->setForeground(column, grey);
      else item->setData(column, Qt::ForegroundRole, QVariant());
      item->setStatusTip(column, note);
    }
    item->setIcon(0, isCurrent ? style()->standardIcon(QStyle::SP_DialogApplyButton)
                     : archived ? style()->standardIcon(QStyle::SP_TrashIcon)
                                : QIcon());
    // The mark is said in words as well: a colour or an icon alone is missed.
    QString tip = item->data(0, kTipRole).toString();
    if (isCurrent) tip += U("\n(текущий объект)");
    if (archived) tip += U("\n(в архиве)");
    item->setToolTip(0, tip);
  }
}

QString TformSites::ChosenName() const {
  const QTreeWidgetItem* item = sites_->currentItem();
  return item ? item->data(0, kNameRole).toString() : QString();
}

void TformSites::ShowHistory(const std::vector<TRecord>& records, const std::vector<THistoryChange>& changes,
                             const QStringList& outcomes, const QStringList& kinds) {
  const QSignalBlocker block(history_);
  history_->setSortingEnabled(false);
  history_->clear();
  for (size_t i = 0; i < records.size(); ++i) {
    const TRecord& r = records[i];
    const THistoryChange change = i < changes.size() ? changes[i] : THistoryChange();
    QStringList cells(kColumns);
    cells[kNumber] = QString::number(r.Number);
    // The time as the user's clock shows it.
    cells[kTime] = r.Time.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    cells[kOperator] = r.Operator;
    cells[kKind] = kinds.value(int(i));
    cells[kOutcome] = outcomes.value(int(i));
    // One a setting, named as its page labels it (a loop's normal state is one).
    const std::vector<SettingNames::TRow> changed = SettingNames::Rows(change.Differences);
    const int count = change.Compared ? int(changed.size()) : -1;
    cells[kChanged] = count < 0 ? U("—") : QString::number(count);
    cells[kFirmware] = r.Firmware;
    cells[kPort] = r.Port;
    auto* item = new TSortedItem(history_, cells);
    item->setData(kNumber, Qt::UserRole, r.Number);
    item->setData(kNumber, kSortRole, r.Number);
    item->setData(kTime, kSortRole, r.Time.toMSecsSinceEpoch());
    item->setData(kChanged, kSortRole, count);
    item->setToolTip(kOutcome, cells[kOutcome]);
    item->setToolTip(kFirmware, r.Firmware);
    item->setToolTip(kPort, r.Port);
    item->setToolTip(kOperator, r.Host.isEmpty() ? r.Operator : r.Operator + '@' + r.Host);
    if (count > 0) {
      QStringList names;
      for (size_t k = 0; k < changed.size() && k < kChangedInTip; ++k)
        names << changed[k].Page + U(" → ") + changed[k].Name;
      if (changed.size() > kChangedInTip) names << U("…");
      item->setToolTip(kChanged, U("Изменились:\n") + names.join('\n'));
    } else if (count == 0) {
      item->setToolTip(kChanged, U("Настройки те же, что в предыдущей записи"));
    }
  }
  history_->setSortingEnabled(true);
  FitColumns(history_, kColumns - 1, 40);
  // The first row as sorted (the newest, unless the user sorted otherwise).
  if (history_->topLevelItemCount() > 0) history_->setCurrentItem(history_->topLevelItem(0));
}

void TformSites::showEvent(QShowEvent* event) {
  if (!search_->isClearButtonEnabled()) search_->setClearButtonEnabled(true);
  TPage::showEvent(event);
}
