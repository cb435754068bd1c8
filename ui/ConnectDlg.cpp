#include "ui/ConnectDlg.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QStyledItemDelegate>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>

#include "link/xModem.h"
#include "model/Settings.h"
#include "persist/IniFile.h"
#include "persist/WireText.h"
#include "ui/Page.h"

namespace {

// The list shows each port with its description: "ttyUSB0 — FT232R USB UART, FTDI".
class TPortDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QString description = index.data(TdlgConnect::DescriptionRole).toString();
    if (!description.isEmpty()) option->text += QStringLiteral(" — ") + description;
  }
};

}  // namespace

std::function<QStringList()> TdlgConnect::ListPorts = &TdlgConnect::SystemPorts;
std::function<QString(const QString&)> TdlgConnect::DescribePort = &TdlgConnect::SystemPortDescription;

void TComPortsCombo::showPopup() {
  if (OnDropDown) OnDropDown();
  QComboBox::showPopup();
}

QStringList TdlgConnect::SystemPorts() {
  QStringList names;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) names << info.portName();
  // A USB adapter's name under /dev/serial/by-id stays the same whichever
  // ttyUSB number it gets when plugged in.
  const QDir byId(QStringLiteral("/dev/serial/by-id"));
  for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
    names << link.absoluteFilePath();
  return names;
}

QString TdlgConnect::SystemPortDescription(const QString& port) {
  // A by-id name describes the device it leads to.
  const QFileInfo link(port);
  const QSerialPortInfo info(link.isSymLink() ? QFileInfo(link.symLinkTarget()).fileName() : port);
  QStringList parts;
  for (const QString& part : {info.description(), info.manufacturer()})
    if (!part.isEmpty() && !parts.contains(part)) parts << part;
  return parts.join(QStringLiteral(", "));
}

TdlgConnect::TdlgConnect(QWidget* parent) : QDialog(parent) {
  setObjectName("TdlgConnect");
  setWindowTitle(QString::fromUtf8("Соединение"));
  setFixedSize(300, 222);

  auto* label = new QLabel(QString::fromUtf8("Подключиться через"), this);
  label->setObjectName("Label1");
  label->move(8, 8);

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OKBtn");
  ok->setGeometry(132, 188, 75, 25);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* cancel = new QPushButton(QString::fromUtf8("Отмена"), this);
  cancel->setObjectName("CancelBtn");
  cancel->setGeometry(214, 188, 75, 25);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  comPorts_ = new TComPortsCombo(this);
  comPorts_->setObjectName("ComPorts");
  comPorts_->setEditable(true);
  comPorts_->setInsertPolicy(QComboBox::NoInsert);
  comPorts_->setGeometry(9, 25, 280, comPorts_->sizeHint().height());
  comPorts_->OnDropDown = [this] { ComPortsDropDown(); };
  comPorts_->setItemDelegate(new TPortDelegate(comPorts_));
  // The list is wider than the box: descriptions and by-id names are long.
  comPorts_->view()->setMinimumWidth(360);
  comPorts_->view()->setTextElideMode(Qt::ElideMiddle);

  // The way of connecting: the cable on the port, or a GSM modem on the port
  // that calls the panel's own modem.
  direct_ = new QRadioButton(QString::fromUtf8("Прямое подключение"), this);
  direct_->setObjectName("rbDirect");
  direct_->setGeometry(9, 56, 280, 20);
  direct_->setChecked(true);
  modem_ = new QRadioButton(QString::fromUtf8("Через GSM-модем"), this);
  modem_->setObjectName("rbModem");
  modem_->setGeometry(9, 78, 280, 20);
  auto* phoneLabel = new QLabel(QString::fromUtf8("Номер панели:"), this);
  phoneLabel->setObjectName("lbPhone");
  phoneLabel->setGeometry(27, 102, 100, 20);
  phone_ = new QComboBox(this);
  phone_->setObjectName("cbPhone");
  phone_->setEditable(true);
  phone_->setInsertPolicy(QComboBox::NoInsert);
  phone_->setGeometry(127, 100, 162, phone_->sizeHint().height());
  phoneLabel->setBuddy(phone_);
  // The pages' phone filter: digits and "+", at most the panel's length;
  // the blanks, brackets and dashes of a pasted number are dropped.
  QLineEdit* edit = phone_->lineEdit();
  edit->setMaxLength(2 * TSettings::kPhoneLength);
  auto* filter = new TCharValidator(QStringLiteral("0123456789+"), false, edit);
  filter->SetPasteRule(QStringLiteral(" \t\u00A0()-."), TSettings::kPhoneLength,
                       QString::fromUtf8("Телефон: только цифры и «+», не более 20"));
  phone_->setValidator(filter);
  connect(phone_, &QComboBox::currentTextChanged, this, [this, filter](const QString& text) {
    if (!filter->Accepts(text)) phone_->setEditText(filter->Filtered(text));
    note_->hide();
  });
  connect(filter, &TCharValidator::Refused, this, [this](const QString& why) {
    note_->setText(why);
    note_->show();
  });
  waitNetwork_ = new QCheckBox(QString::fromUtf8("Ждать регистрации в сети"), this);
  waitNetwork_->setObjectName("cbWaitNetwork");
  waitNetwork_->setGeometry(27, 130, 262, 20);
  waitNetwork_->setChecked(true);
  note_ = new QLabel(this);
  note_->setObjectName("lbNote");
  note_->setGeometry(9, 154, 280, 30);
  note_->setWordWrap(true);
  note_->setStyleSheet(QStringLiteral("color: #a00000;"));
  note_->hide();
  connect(modem_, &QRadioButton::toggled, this, [this] { UpdateCallControls(); });
  UpdateCallControls();

  setTabOrder(ok, cancel);
  setTabOrder(cancel, comPorts_);
  setTabOrder(comPorts_, direct_);
  setTabOrder(direct_, modem_);
  setTabOrder(modem_, phone_);
  setTabOrder(phone_, waitNetwork_);

  refresh_ = new QTimer(this);
  refresh_->setInterval(1000);
  connect(refresh_, &QTimer::timeout, this, &TdlgConnect::RefreshPorts);
}

void TdlgConnect::UpdateCallControls() {
  const bool modem = modem_->isChecked();
  phone_->setEnabled(modem);
  waitNetwork_->setEnabled(modem);
  if (QWidget* buddy = findChild<QWidget*>("lbPhone")) buddy->setEnabled(modem);
  note_->hide();
}

bool TdlgConnect::ViaModem() const { return modem_->isChecked(); }

void TdlgConnect::SetViaModem(bool modem) { (modem ? modem_ : direct_)->setChecked(true); }

QString TdlgConnect::Phone() const { return phone_->currentText(); }

void TdlgConnect::SetPhone(const QString& phone) {
  // Text set by the program passes the same filter as typed text.
  auto* filter = static_cast<const TCharValidator*>(phone_->validator());
  phone_->setEditText(filter->Filtered(phone).left(TSettings::kPhoneLength));
}

bool TdlgConnect::WaitForNetwork() const { return waitNetwork_->isChecked(); }

void TdlgConnect::SetWaitForNetwork(bool wait) { waitNetwork_->setChecked(wait); }

QStringList TdlgConnect::RecentPhones() const {
  QStringList phones;
  for (int i = 0; i < phone_->count(); ++i) phones << phone_->itemText(i);
  return phones;
}

void TdlgConnect::SetRecentPhones(const QStringList& phones) {
  const QString text = phone_->currentText();
  const QSignalBlocker quiet(phone_);
  phone_->clear();
  auto* filter = static_cast<const TCharValidator*>(phone_->validator());
  for (const QString& phone : phones) {
    const QString kept = filter->Filtered(phone).left(TSettings::kPhoneLength);
    if (HasDigitsToDial(ToWire(kept)) && phone_->findText(kept, Qt::MatchExactly) < 0 &&
        phone_->count() < kRecentPhones)
      phone_->addItem(kept);
  }
  phone_->setCurrentIndex(-1);
  phone_->setEditText(text);
}

void TdlgConnect::accept() {
  if (ViaModem()) {
    const QString phone = Phone();
    if (!HasDigitsToDial(ToWire(phone))) {
      // Never turned into a direct link: the user says what to call.
      note_->setText(phone.trimmed().isEmpty() ? QString::fromUtf8("Укажите номер панели для звонка через GSM-модем.")
                                               : QString::fromUtf8("В номере «%1» нет цифр для набора.").arg(phone));
      note_->show();
      phone_->setFocus();
      return;
    }
    QStringList recent = RecentPhones();
    recent.removeAll(phone);
    recent.prepend(phone);
    SetRecentPhones(recent.mid(0, kRecentPhones));
    phone_->setEditText(phone);
  }
  note_->hide();
  QDialog::accept();
}

void TdlgConnect::LoadCall(const QString& fileName) {
  TIniFile ini(fileName);
  (void)ini.Load();  // an unreadable file gives a direct link
  QStringList recent;
  for (int i = 1; i <= kRecentPhones; ++i) {
    const QString phone = ini.ReadString("Connect", QStringLiteral("LastPhone%1").arg(i), QString());
    if (!phone.isEmpty()) recent << phone;
  }
  SetRecentPhones(recent);
  SetPhone(ini.ReadString("Connect", "Phone", QString()));
  SetWaitForNetwork(ini.ReadBool("Connect", "WaitForNetwork", true));
  // A modem call needs a number: without one the dialog opens on the direct link.
  SetViaModem(ini.ReadBool("Connect", "Modem", false) && HasDigitsToDial(ToWire(Phone())));
}

bool TdlgConnect::SaveCall(const QString& fileName, QString* error) const {
  TIniFile ini(fileName);
  (void)ini.Load();
  ini.WriteBool("Connect", "Modem", ViaModem());
  ini.WriteString("Connect", "Phone", Phone());
  ini.WriteBool("Connect", "WaitForNetwork", WaitForNetwork());
  const QStringList recent = RecentPhones();
  for (int i = 1; i <= kRecentPhones; ++i)
    ini.WriteString("Connect", QStringLiteral("LastPhone%1").arg(i), i <= recent.size() ? recent[i - 1] : QString());
  return ini.Save(error);
}

void TdlgConnect::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  remembered_ = comPorts_->currentText();
  rememberedModem_ = ViaModem();
  rememberedPhone_ = Phone();
  rememberedWait_ = WaitForNetwork();
  note_->hide();
  RefreshPorts();
  refresh_->start();
}

void TdlgConnect::reject() {
  // Cancel keeps the port the dialog opened with, whatever was picked meanwhile.
  comPorts_->setEditText(remembered_);
  SetViaModem(rememberedModem_);
  phone_->setEditText(rememberedPhone_);
  SetWaitForNetwork(rememberedWait_);
  QDialog::reject();
}

void TdlgConnect::hideEvent(QHideEvent* event) {
  refresh_->stop();
  QDialog::hideEvent(event);
}

void TdlgConnect::RefreshPorts() {
  QStringList ports = ListPorts ? ListPorts() : QStringList();
  std::sort(ports.begin(), ports.end(), [](const QString& a, const QString& b) { return a.compare(b) < 0; });
  QStringList shown;
  for (int i = 0; i < comPorts_->count(); ++i) shown << comPorts_->itemText(i);
  if (shown == ports) return;
  const QString text = comPorts_->currentText();
  const QSignalBlocker quiet(comPorts_);
  // Edited in place, so that an open list stays open.
  for (int i = comPorts_->count() - 1; i >= 0; --i)
    if (!ports.contains(comPorts_->itemText(i))) comPorts_->removeItem(i);
  for (int i = 0; i < ports.size(); ++i)
    if (i >= comPorts_->count() || comPorts_->itemText(i) != ports[i]) comPorts_->insertItem(i, ports[i]);
  // A refresh chooses nothing: the box keeps the text it had, selected
  // when listed.
  const int listed = comPorts_->findText(text, Qt::MatchExactly);
  comPorts_->setCurrentIndex(listed);
  if (listed < 0) comPorts_->setEditText(text);
  SetToolTips();
}

void TdlgConnect::SetToolTips() {
  for (int i = 0; i < comPorts_->count(); ++i) {
    const QString description = DescribePort ? DescribePort(comPorts_->itemText(i)) : QString();
    const QVariant data = description.isEmpty() ? QVariant() : QVariant(description);
    comPorts_->setItemData(i, data, Qt::ToolTipRole);
    comPorts_->setItemData(i, data, DescriptionRole);
  }
}

void TdlgConnect::ComPortsDropDown() {
  // The list is filled afresh, sorted as text, character by character (COM10
  // before COM2). The port in the box stays: a remembered port that is not
  // listed (a pseudo-terminal) is kept as typed, a listed one is selected;
  // only the user's pick replaces it.
  QStringList ports = ListPorts ? ListPorts() : QStringList();
  std::sort(ports.begin(), ports.end(), [](const QString& a, const QString& b) { return a.compare(b) < 0; });
  const QString text = comPorts_->currentText();
  const QSignalBlocker quiet(comPorts_);
  comPorts_->clear();
  comPorts_->addItems(ports);
  const int listed = comPorts_->findText(text, Qt::MatchExactly);
  comPorts_->setCurrentIndex(listed);
  if (listed < 0 && !text.isEmpty()) comPorts_->setEditText(text);
  if (text.isEmpty() && comPorts_->count() > 0) comPorts_->setCurrentIndex(0);
  SetToolTips();
}
