#include "ui/KeyDialog.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

#include "ui/Page.h"

std::function<void(const QString&)> TOKRightDlg::MessageHook;

TOKRightDlg::TOKRightDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TOKRightDlg"));
  setWindowTitle(QStringLiteral("Dialog"));
  setFixedSize(316, 80);

  bevel_ = new QFrame(this);
  bevel_->setObjectName(QStringLiteral("Bevel1"));
  bevel_->setFrameStyle(QFrame::Box | QFrame::Sunken);
  bevel_->setGeometry(8, 8, 217, 65);

  keyEdit_ = new QLineEdit(this);
  keyEdit_->setObjectName(QStringLiteral("KeyEdit"));
  keyEdit_->setMaxLength(kKeyLength);
  keyEdit_->setValidator(new TCharValidator(QStringLiteral("0123456789ABCDEF"), true, keyEdit_));
  const int editHeight = std::max(21, keyEdit_->sizeHint().height());
  keyEdit_->setGeometry(20, 8 + (65 - editHeight) / 2, 193, editHeight);

  okBtn_ = new QPushButton(QStringLiteral("OK"), this);
  okBtn_->setObjectName(QStringLiteral("OKBtn"));
  okBtn_->setGeometry(233, 8, 75, 25);
  okBtn_->setDefault(true);
  cancelBtn_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelBtn_->setObjectName(QStringLiteral("CancelBtn"));
  cancelBtn_->setGeometry(233, 38, 75, 25);
  // Esc ends a QDialog with Rejected already; the button does the same.
  connect(okBtn_, &QPushButton::clicked, this, &TOKRightDlg::OKBtnClick);
  connect(cancelBtn_, &QPushButton::clicked, this, &QDialog::reject);
  keyEdit_->setFocus();
}

void TOKRightDlg::OKBtnClick() {
  if (keyEdit_->text().size() < keyEdit_->maxLength()) {
    ShowMessage(QStringLiteral("Длина ключа должна быть равна ") + QString::number(keyEdit_->maxLength()) +
                QStringLiteral(" символам"));
    return;
  }
  accept();
}

void TOKRightDlg::ShowMessage(const QString& text) {
  if (MessageHook) {
    MessageHook(text);
    return;
  }
  QMessageBox::information(this, QCoreApplication::applicationName(), text);
}
