#include "ui/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

namespace MessageBox {

std::function<void(const QString&)> Hook;
std::function<void(TKind, const QString&)> KindHook;
std::function<bool(const QString&)> AskHook;

namespace {

QMessageBox::Icon IconOf(TKind kind) {
  switch (kind) {
    case TKind::Plain:
      return QMessageBox::NoIcon;
    case TKind::Warning:
      return QMessageBox::Warning;
    case TKind::Error:
      return QMessageBox::Critical;
    case TKind::Question:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

// A box a test collects: true when no modal box is to be shown.
bool Collected(TKind kind, const QString& text) {
  if (KindHook) KindHook(kind, text);
  if (Hook) Hook(text);
  return KindHook || Hook;
}

}  // namespace

void Show(const QString& text, QWidget* parent, TKind kind) {
  if (Collected(kind, text)) return;
  QMessageBox box(IconOf(kind), QApplication::applicationDisplayName(), text, QMessageBox::Ok,
                  parent ? parent : QApplication::activeWindow());
  box.exec();
}

bool Ask(const QString& question, QWidget* parent) {
  if (AskHook) {
    if (KindHook) KindHook(TKind::Question, question);
    return AskHook(question);
  }
  if (Collected(TKind::Question, question)) return false;
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), question,
                  QMessageBox::Yes | QMessageBox::No, parent ? parent : QApplication::activeWindow());
  box.button(QMessageBox::Yes)->setText(QString::fromUtf8("Да"));
  box.button(QMessageBox::No)->setText(QString::fromUtf8("Нет"));
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace MessageBox
