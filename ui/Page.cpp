#include "ui/Page.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

TPage::TPage(QWidget* parent) : QWidget(parent) {}

TKeyFilter::TKeyFilter(const QString& allowed, bool upperCase, QObject* parent)
    : QObject(parent), allowed_(allowed), upperCase_(upperCase) {}

bool TKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  const QString text = key->text();
  // Backspace, Enter and the like carry control characters; shortcuts carry
  // control characters or nothing. Neither is a typed character.
  if (text.isEmpty() || !text.at(0).isPrint()) return false;
  for (const QChar ch : text) {
    if (!Accepts(ch)) return true;
  }
  if (upperCase_ && text != text.toUpper()) {
    if (auto* edit = qobject_cast<QLineEdit*>(watched)) {
      // insert() replaces the selection and keeps the maximum length, as typing does.
      if (!edit->isReadOnly()) edit->insert(text.toUpper());
      return true;
    }
  }
  return false;
}
