#include "ui/KeyDialog.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QWindow>
#include <QFrame>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QToolTip>

#include <algorithm>
#include <optional>

#include "model/Fields.h"

#include "ui/Page.h"

std::function<void(const QString&)> TOKRightDlg::MessageHook;

TOKRightDlg::TOKRightDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TOKRightDlg"));
  setWindowTitle(QStringLiteral("Ключ Touch Memory"));
  setFixedSize(316, 80);

  bevel_ = new QFrame(this);
  bevel_->setObjectName(QStringLiteral("Bevel1"));
  bevel_->setFrameStyle(QFrame::Box | QFrame::Sunken);
  bevel_->setGeometry(8, 8, 217, 65);

  keyEdit_ = new QLineEdit(this);
  keyEdit_->setObjectName(QStringLiteral("KeyEdit"));
  // Room for the blanks of a pasted key ("DEAD BEEF 0011 2233"); the
  // validator keeps the key itself to kKeyLength digits.
  keyEdit_->setMaxLength(2 * kKeyLength);
  auto* filter = new TCharValidator(QStringLiteral("0123456789ABCDEF"), true, keyEdit_);
  filter->SetPasteRule(QStringLiteral(" \t\u00A0-:"), kKeyLength,
                       QStringLiteral("Ключ: только цифры 0–9 и буквы A–F, не более 16"));
  keyEdit_->setValidator(filter);
  connect(filter, &TCharValidator::Refused, this, [this](const QString& note) {
    QToolTip::showText(keyEdit_->mapToGlobal(QPoint(0, keyEdit_->height())), note, keyEdit_);
  });
  const int editHeight = std::max(21, keyEdit_->sizeHint().height());
  keyEdit_->setGeometry(20, 8 + (65 - editHeight) / 2, 193, editHeight);

  okBtn_ = new QPushButton(QStringLiteral("OK"), this);
  okBtn_->setObjectName(QStringLiteral("OKBtn"));
  okBtn_->setGeometry(233, 8, 75, 25);
  okBtn_->setDefault(true);
  cancelBtn_ = new QPushButton(QStringLiteral("Отмена"), this);
  cancelBtn_->setObjectName(QStringLiteral("CancelBtn"));
  cancelBtn_->setGeometry(233, 38, 75, 25);
  // Esc ends a QDialog with Rejected already; the button does the same.
  connect(okBtn_, &QPushButton::clicked, this, &TOKRightDlg::OKBtnClick);
  connect(cancelBtn_, &QPushButton::clicked, this, &QDialog::reject);
  keyEdit_->setFocus();
}

void TOKRightDlg::OKBtnClick() {
  // 1 to 16 digits, padded with "0"s in front as a settings file's key is.
  const std::optional<std::string> key = CanonicalKey(keyEdit_->text().toStdString());
  if (!key) {
    ShowMessage(QStringLiteral("Введите ключ: от 1 до ") + QString::number(kKeyLength) +
                QStringLiteral(" шестнадцатеричных цифр (0–9, A–F)"));
    keyEdit_->setFocus();
    return;
  }
  keyEdit_->setText(QString::fromStdString(*key));
  accept();
}

void TOKRightDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The dialog is used again and again: whatever had the focus when it last
  // closed (OK, Отмена), the key edit has it now, its text selected, so the
  // first key typed replaces the key shown instead of being refused by a
  // full edit or going to a button.
  keyEdit_->setFocus(Qt::OtherFocusReason);
  keyEdit_->selectAll();
  activateWindow();
}

void TOKRightDlg::ShowMessage(const QString& text) {
  if (MessageHook) {
    MessageHook(text);
    return;
  }
  QMessageBox::information(this, QCoreApplication::applicationName(), text);
}
