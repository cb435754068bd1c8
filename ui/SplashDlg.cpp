#include "ui/SplashDlg.h"

#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Panel.h"

TdlgSplash::TdlgSplash(QWidget* parent) : QDialog(parent) {
  setObjectName("TdlgSplash");
  setWindowTitle(QString::fromUtf8("Подключение"));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* panel3 = new TPanel(this);
  panel3->setObjectName("Panel3");
  panel3->setFrameStyle(QFrame::NoFrame);
  // Panel2 is four lines high, so that a failure and its reason can be read.
  panel3->setFixedSize(295, 111);
  auto* panel1 = new TPanel(panel3);
  panel1->setObjectName("Panel1");
  panel1->setFrameStyle(QFrame::Box | QFrame::Plain);
  panel1->setGeometry(8, 1, 281, 33);
  panel1->SetCaption(QString::fromUtf8("Состояние подключения"));
  panel2_ = new TPanel(panel3);
  panel2_->setObjectName("Panel2");
  panel2_->setFrameStyle(QFrame::Box | QFrame::Plain);
  panel2_->setGeometry(8, 41, 281, 63);
  QFont bold = panel2_->font();
  bold.setBold(true);
  panel2_->setFont(bold);
  panel2_->SetWrapCaption(true);
  layout->addWidget(panel3);

  panel6_ = new TPanel(this);
  panel6_->setObjectName("Panel6");
  panel6_->setFrameStyle(QFrame::NoFrame);
  panel6_->setFixedSize(295, 36);
  panel6_->SetWrapCaption(true);
  panel6_->hide();
  layout->addWidget(panel6_);

  auto* panel5 = new TPanel(this);
  panel5->setObjectName("Panel5");
  panel5->setFrameStyle(QFrame::NoFrame);
  panel5->setFixedSize(295, 35);
  auto* progress = new QProgressBar(panel5);
  progress->setObjectName("ProgressBar1");
  progress->setGeometry(panel5->rect());
  progress->hide();
  panel5->hide();
  layout->addWidget(panel5);

  auto* panel4 = new TPanel(this);
  panel4->setObjectName("Panel4");
  panel4->setFrameStyle(QFrame::NoFrame);
  panel4->setFixedSize(295, 28);
  auto* button1 = new QPushButton("Button1", panel4);
  button1->setObjectName("Button1");
  button1->setGeometry(24, 0, 75, 25);
  button1->hide();
  button1->setAutoDefault(false);
  connect(button1, &QPushButton::clicked, this, &QDialog::accept);
  cancel_ = new QPushButton(QString::fromUtf8("Отмена"), panel4);
  cancel_->setObjectName("CancelBtn");
  cancel_->setGeometry(111, 0, 75, 25);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  layout->addWidget(panel4);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TdlgSplash::BeginConnection(bool call) {
  cancelling_ = false;
  cancel_->setEnabled(true);
  panel6_->SetCaption(QString());
  panel6_->setVisible(call);
}

void TdlgSplash::reject() {
  if (cancelling_) return;  // already waiting for the link to end
  if (OnCancel && OnCancel()) {
    cancelling_ = true;
    cancel_->setEnabled(false);
    return;
  }
  QDialog::reject();
}

void TdlgSplash::ShowEnding() {
  cancelling_ = true;
  cancel_->setEnabled(false);
  exec();
  cancelling_ = false;
  cancel_->setEnabled(true);
}

void TdlgSplash::LinkEnded() {
  if (!cancelling_ || !isVisible()) return;
  QDialog::reject();
}
