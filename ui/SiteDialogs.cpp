#include "ui/SiteDialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QHeaderView>
#include <QTreeWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "model/Settings.h"
#include "ui/Page.h"

namespace {
QString U(const char* text) { return QString::fromUtf8(text); }
}  // namespace

TdlgSite::TdlgSite(QWidget* parent) : QDialog(parent) {
  setObjectName("dlgSite");
  setWindowTitle(U("Объект"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  name_ = new QLineEdit(this);
  name_->setObjectName("edSiteName");
  name_->setMaxLength(200);
  address_ = new QLineEdit(this);
  address_->setObjectName("edSiteAddress");
  notes_ = new QPlainTextEdit(this);
  notes_->setObjectName("edSiteNotes");
  notes_->setTabChangesFocus(true);
  notes_->setMinimumHeight(60);
  number_ = new QLineEdit(this);
  number_->setObjectName("edSiteNumber");
  number_->setMaxLength(2 * TSettings::kPhoneLength);
  auto* filter = new TCharValidator(QStringLiteral("0123456789+"), false, number_);
  filter->SetPasteRule(QStringLiteral(" \t\u00A0()-."), TSettings::kPhoneLength,
                       U("Телефон: только цифры и «+», не более 20"));
  number_->setValidator(filter);
  form->addRow(U("&Название:"), name_);
  form->addRow(U("&Адрес:"), address_);
  form->addRow(U("&Примечание:"), notes_);
  form->addRow(U("Номер &GSM-модема панели:"), number_);
  layout->addLayout(form);
  note_ = new QLabel(this);
  note_->setObjectName("lbSiteNote");
  note_->setWordWrap(true);
  note_->hide();
  layout->addWidget(note_);
  connect(filter, &TCharValidator::Refused, this, [this](const QString& why) {
    note_->setText(why);
    note_->show();
  });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(U("OK"));
  buttons->button(QDialogButtonBox::Cancel)->setText(U("Отмена"));
  connect(buttons, &QDialogButtonBox::accepted, this, &TdlgSite::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(460, sizeHint().height());
}

void TdlgSite::SetSite(const TSite& site) {
  name_->setText(site.Name);
  address_->setText(site.Address);
  notes_->setPlainText(site.Notes);
  number_->setText(site.DataNumber);
  note_->hide();
}

TSite TdlgSite::Site() const {
  TSite site;
  site.Name = name_->text().trimmed();
  site.Address = address_->text().trimmed();
  site.Notes = notes_->toPlainText();
  site.DataNumber = number_->text();
  return site;
}

void TdlgSite::SetNote(const QString& note) {
  note_->setText(note);
  note_->setVisible(!note.isEmpty());
}

std::optional<QString> TdlgSite::NameProblem(const QString& name) {
  if (name.trimmed().isEmpty()) return U("Укажите название объекта.");
  if (name.size() > 200) return U("Название объекта длиннее 200 знаков.");
  if (SiteNameProblem(name)) return U("Название объекта содержит управляющие символы.");
  return std::nullopt;
}

void TdlgSite::accept() {
  const TSite site = Site();
  std::optional<QString> problem = NameProblem(site.Name);
  if (!problem && !site.DataNumber.isEmpty() && !site.DataNumber.contains(QRegularExpression("[0-9]")))
    problem = U("В номере GSM-модема нет цифр для набора.");
  if (problem) {
    note_->setText(*problem);
    note_->show();
    return;
  }
  QDialog::accept();
}

TdlgAttach::TdlgAttach(QWidget* parent) : QDialog(parent) {
  setObjectName("dlgAttach");
  setWindowTitle(U("Привязать чтение к объекту"));
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  text_ = new QLabel(this);
  text_->setObjectName("lbAttach");
  text_->setWordWrap(true);
  layout->addWidget(text_);
  auto* searchRow = new QHBoxLayout;
  auto* searchLabel = new QLabel(U("&Поиск:"), this);
  search_ = new QLineEdit(this);
  search_->setObjectName("edAttachSearch");
  search_->setPlaceholderText(U("название или адрес"));
  search_->setClearButtonEnabled(true);
  searchLabel->setBuddy(search_);
  searchRow->addWidget(searchLabel);
  searchRow->addWidget(search_, 1);
  layout->addLayout(searchRow);
  nothing_ = new QLabel(U("Ничего не найдено"), this);
  nothing_->setObjectName("lbAttachNothing");
  nothing_->hide();
  layout->addWidget(nothing_);
  list_ = new QTreeWidget(this);
  list_->setObjectName("lvAttach");
  list_->setHeaderLabels({U("Объект"), U("Адрес")});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setTextElideMode(Qt::ElideMiddle);
  list_->header()->setStretchLastSection(true);
  layout->addWidget(list_, 1);
  auto* row = new QHBoxLayout;
  attach_ = new QPushButton(U("Привязать"), this);
  attach_->setObjectName("btAttach");
  attach_->setDefault(true);
  new_ = new QPushButton(U("Новый объект…"), this);
  new_->setObjectName("btAttachNew");
  decline_ = new QPushButton(U("Не привязывать"), this);
  decline_->setObjectName("btAttachDecline");
  row->addWidget(attach_);
  row->addWidget(new_);
  row->addStretch(1);
  row->addWidget(decline_);
  layout->addLayout(row);
  connect(attach_, &QPushButton::clicked, this, [this] {
    QTreeWidgetItem* item = list_->currentItem();
    if (item && !item->isHidden()) {
      emit Attach(item->data(0, kNameRole).toString());
      accept();
    }
  });
  connect(list_, &QTreeWidget::itemActivated, attach_, &QPushButton::click);
  connect(list_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item) { attach_->setEnabled(item && !item->isHidden()); });
  connect(search_, &QLineEdit::textChanged, this, &TdlgAttach::Filter);
  connect(new_, &QPushButton::clicked, this, [this] {
    emit NewSite();
    accept();
  });
  connect(decline_, &QPushButton::clicked, this, &QDialog::reject);
  connect(this, &QDialog::rejected, this, &TdlgAttach::Declined);
  setTabOrder(search_, list_);
  resize(460, 340);
}

void TdlgAttach::SetSites(const std::vector<TSite>& sharing, const std::vector<TSite>& others) {
  list_->clear();
  QFont bold = list_->font();
  bold.setBold(true);
  auto add = [&](const TSite& site, bool shares) {
    auto* item = new QTreeWidgetItem(list_, {site.Name, site.Address});
    item->setData(0, kNameRole, site.Name);
    item->setData(0, kSharingRole, shares);
    const QString tip = site.Address.isEmpty() ? site.Name : site.Name + '\n' + site.Address;
    item->setToolTip(0, shares ? tip + U("\nУ объекта есть телефон этой панели") : tip);
    item->setToolTip(1, site.Address);
    if (shares) {
      item->setFont(0, bold);
      item->setFont(1, bold);
    }
  };
  for (const TSite& site : sharing) add(site, true);
  for (const TSite& site : others) add(site, false);
  text_->setText(!sharing.empty()
                     ? U("Панель прочитана без выбранного объекта. Её телефоны есть у объектов в начале списка "
                         "(выделены): привязать чтение к одному из них?")
                 : !others.empty()
                     ? U("Панель прочитана без выбранного объекта. Ни у одного объекта нет её телефонов: "
                         "выберите объект или создайте новый.")
                     : U("Панель прочитана без выбранного объекта. В библиотеке нет объектов: "
                         "создать новый объект с этим чтением?"));
  // A long name leaves room for the address.
  list_->resizeColumnToContents(0);
  list_->setColumnWidth(0, std::min(list_->columnWidth(0), std::max(160, width() * 11 / 20)));
  Filter(search_->text());
}

void TdlgAttach::Filter(const QString& text) {
  const QString wanted = text.trimmed();
  QTreeWidgetItem* first = nullptr;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list_->topLevelItem(i);
    const bool shown = wanted.isEmpty() || item->text(0).contains(wanted, Qt::CaseInsensitive) ||
                       item->text(1).contains(wanted, Qt::CaseInsensitive);
    item->setHidden(!shown);
    if (shown && !first) first = item;
  }
  nothing_->setVisible(!first && !wanted.isEmpty());
  QTreeWidgetItem* current = list_->currentItem();
  if (!current || current->isHidden()) list_->setCurrentItem(first);
  attach_->setEnabled(first != nullptr);
}

QStringList TdlgAttach::Shown() const {
  QStringList names;
  for (int i = 0; i < list_->topLevelItemCount(); ++i)
    if (!list_->topLevelItem(i)->isHidden()) names << list_->topLevelItem(i)->data(0, kNameRole).toString();
  return names;
}
