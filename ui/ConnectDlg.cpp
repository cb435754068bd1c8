#include "ui/ConnectDlg.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QStyledItemDelegate>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>

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
  setFixedSize(175, 97);

  auto* label = new QLabel(QString::fromUtf8("Подключиться через"), this);
  label->setObjectName("Label1");
  label->move(8, 8);

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OKBtn");
  ok->setGeometry(7, 60, 75, 25);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* cancel = new QPushButton(QString::fromUtf8("Отмена"), this);
  cancel->setObjectName("CancelBtn");
  cancel->setGeometry(87, 60, 75, 25);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  comPorts_ = new TComPortsCombo(this);
  comPorts_->setObjectName("ComPorts");
  comPorts_->setEditable(true);
  comPorts_->setInsertPolicy(QComboBox::NoInsert);
  comPorts_->setGeometry(9, 25, 144, comPorts_->sizeHint().height());
  comPorts_->OnDropDown = [this] { ComPortsDropDown(); };
  comPorts_->setItemDelegate(new TPortDelegate(comPorts_));
  // The list is wider than the box: descriptions and by-id names are long.
  comPorts_->view()->setMinimumWidth(360);
  comPorts_->view()->setTextElideMode(Qt::ElideMiddle);

  setTabOrder(ok, cancel);
  setTabOrder(cancel, comPorts_);

  refresh_ = new QTimer(this);
  refresh_->setInterval(1000);
  connect(refresh_, &QTimer::timeout, this, &TdlgConnect::RefreshPorts);
}

void TdlgConnect::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  remembered_ = comPorts_->currentText();
  RefreshPorts();
  refresh_->start();
}

void TdlgConnect::reject() {
  // Cancel keeps the port the dialog opened with, whatever was picked meanwhile.
  comPorts_->setEditText(remembered_);
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
