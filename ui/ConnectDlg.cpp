#include "ui/ConnectDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QSerialPortInfo>
#include <algorithm>

std::function<QStringList()> TdlgConnect::ListPorts = &TdlgConnect::SystemPorts;

void TComPortsCombo::showPopup() {
  if (OnDropDown) OnDropDown();
  QComboBox::showPopup();
}

QStringList TdlgConnect::SystemPorts() {
  QStringList names;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) names << info.portName();
  return names;
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
}

void TdlgConnect::ComPortsDropDown() {
  QStringList ports = ListPorts ? ListPorts() : QStringList();
  // Sorted as text, character by character (COM10 before COM2).
  std::sort(ports.begin(), ports.end(), [](const QString& a, const QString& b) { return a.compare(b) < 0; });
  comPorts_->clear();
  comPorts_->setEditText(QString());
  comPorts_->addItems(ports);
  if (comPorts_->count() > 0) comPorts_->setCurrentIndex(0);
}
