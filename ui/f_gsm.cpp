#include "ui/f_gsm.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/Panel.h"
#include "ui/RadioButton.h"

TformGSM::TformGSM(QWidget* parent) : TPage(parent) {
  setObjectName(QStringLiteral("TformGSM"));

  auto* panel = new TPanel(this);
  panel->setObjectName(QStringLiteral("RzPanel1"));
  panel->SetBevel(TPanel::TBevel::None);
  auto* pageLayout = new QVBoxLayout(this);
  pageLayout->setContentsMargins(0, 0, 0, 0);
  pageLayout->addWidget(panel);

  auto* settings = new QGroupBox(QStringLiteral("Настройка"), panel);
  settings->setObjectName(QStringLiteral("RzGroupBox2"));
  auto* panelLayout = new QVBoxLayout(panel);
  panelLayout->setContentsMargins(8, 8, 8, 8);
  panelLayout->addWidget(settings, 0, Qt::AlignLeft | Qt::AlignTop);

  auto* module = new QGroupBox(QStringLiteral("Подлючённый GSM модуль"), settings);
  module->setObjectName(QStringLiteral("RzGroupBox1"));
  auto* moduleLayout = new QVBoxLayout(module);
  for (int i = 0; i < 3; ++i) {
    auto* radio = new TRadioButton(ModuleCaption(i), module);
    radio->setObjectName(QStringLiteral("rb") + QString::number(i + 1));
    moduleLayout->addWidget(radio);
  }
  module->findChild<TRadioButton*>(QStringLiteral("rb1"))->SetOn(true);

  auto* ringLabel = new QLabel(QStringLiteral("Длительность звонка"), settings);
  ringLabel->setObjectName(QStringLiteral("lbRing"));
  auto* ring = new QComboBox(settings);
  ring->setObjectName(QStringLiteral("cbRing"));
  ring->setEditable(false);
  for (int i = 1; i <= 6; ++i) ring->addItem(QString::number(i));
  ring->setCurrentIndex(0);

  auto* settingsLayout = new QGridLayout(settings);
  settingsLayout->setContentsMargins(10, 10, 10, 10);
  settingsLayout->setHorizontalSpacing(12);
  settingsLayout->setVerticalSpacing(10);
  settingsLayout->addWidget(module, 0, 0, 1, 2);
  settingsLayout->addWidget(ringLabel, 1, 0);
  settingsLayout->addWidget(ring, 1, 1, Qt::AlignLeft);
  settingsLayout->setColumnStretch(2, 1);
}

QString TformGSM::ModuleCaption(int module) {
  const char* const captions[] = {"Siemens 35", "Siemens 45", "Модем"};
  return module >= 0 && module < 3 ? QString::fromUtf8(captions[module]) : QString();
}
