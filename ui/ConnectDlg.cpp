#include "ui/ConnectDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>

std::function<QStringList()> TdlgConnect::ListPorts = &TdlgConnect::SystemPorts;
std::function<QString(const QString&)> TdlgConnect::DescribePort = &TdlgConnect::SystemPortDescription;

void TComPortsCombo::showPopup() {
  if (OnDropDown) OnDropDown();
  QComboBox::showPopup();
}

QStringList TdlgConnect::SystemPorts() {
  QStringList names;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) names << info.portName();
  return names;
}

QString TdlgConnect::SystemPortDescription(const QString& port) {
  const QSerialPortInfo info(port);
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

  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("CancelBtn");
  cancel->setGeometry(87, 60, 75, 25);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  comPorts_ = new TComPortsCombo(this);
  comPorts_->setObjectName("ComPorts");
  comPorts_->setEditable(true);
  comPorts_->setInsertPolicy(QComboBox::NoInsert);
  comPorts_->setGeometry(9, 25, 144, comPorts_->sizeHint().height());
  comPorts_->OnDropDown = [this] { ComPortsDropDown(); };

  setTabOrder(ok, cancel);
  setTabOrder(cancel, comPorts_);

  refresh_ = new QTimer(this);
  refresh_->setInterval(1000);
  connect(refresh_, &QTimer::timeout, this, &TdlgConnect::RefreshPorts);
}

void TdlgConnect::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  refresh_->start();
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
  // No item is chosen by a refresh: the box keeps the text it had.
  comPorts_->setCurrentIndex(-1);
  comPorts_->setEditText(text);
  SetToolTips();
}

void TdlgConnect::SetToolTips() {
  for (int i = 0; i < comPorts_->count(); ++i) {
    const QString description = DescribePort ? DescribePort(comPorts_->itemText(i)) : QString();
    comPorts_->setItemData(i, description.isEmpty() ? QVariant() : QVariant(description), Qt::ToolTipRole);
  }
}

void TdlgConnect::ComPortsDropDown() {
  QStringList ports = ListPorts ? ListPorts() : QStringList();
  // Sorted as text, character by character (COM10 before COM2).
  std::sort(ports.begin(), ports.end(), [](const QString& a, const QString& b) { return a.compare(b) < 0; });
  comPorts_->clear();
  comPorts_->setEditText(QString());
  comPorts_->addItems(ports);
  if (comPorts_->count() > 0) comPorts_->setCurrentIndex(0);
  SetToolTips();
}
