#include "ui/FocusReturn.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>

TFocusReturn::TFocusReturn(QObject* parent) : QObject(parent) { qApp->installEventFilter(this); }

TFocusReturn::~TFocusReturn() { qApp->removeEventFilter(this); }

bool TFocusReturn::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::Hide) return false;
  auto* dialog = qobject_cast<QDialog*>(watched);
  if (!dialog || !dialog->isWindow() || !dialog->parentWidget()) return false;
  QWidget* back = dialog->parentWidget()->window();
  if (!back->isVisible() || back == dialog) return false;
  // Another window that has taken the keyboard meanwhile keeps it.
  QWidget* active = QApplication::activeWindow();
  if (active && active != dialog && active != back) return false;
  back->activateWindow();
  if (QWidget* control = back->focusWidget()) control->setFocus(Qt::ActiveWindowFocusReason);
  return false;
}
