#include "ui/WheelGuard.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

bool IsGuarded(const QObject* object) {
  return qobject_cast<const QAbstractSpinBox*>(object) || qobject_cast<const QComboBox*>(object);
}

QAbstractScrollArea* ScrollAreaAround(QWidget* widget) {
  for (QWidget* w = widget->parentWidget(); w; w = w->parentWidget())
    if (auto* area = qobject_cast<QAbstractScrollArea*>(w)) return area;
  return nullptr;
}

}  // namespace

void TWheelGuard::Install(QWidget* root) {
  auto* guard = new TWheelGuard(root);
  QList<QWidget*> controls = root->findChildren<QWidget*>();
  controls.prepend(root);
  for (QWidget* control : controls) {
    if (!IsGuarded(control)) continue;
    // A wheel turn must not give the control the focus either.
    control->setFocusPolicy(Qt::StrongFocus);
    control->installEventFilter(guard);
  }
}

bool TWheelGuard::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::Wheel) return QObject::eventFilter(watched, event);
  auto* control = static_cast<QWidget*>(watched);
  if (control->hasFocus()) return false;
  // The page scrolls as if the control were not there.
  if (QAbstractScrollArea* area = ScrollAreaAround(control)) {
    auto* wheel = static_cast<QWheelEvent*>(event);
    QScrollBar* bar = wheel->angleDelta().y() != 0 ? area->verticalScrollBar() : area->horizontalScrollBar();
    QCoreApplication::sendEvent(bar, wheel);
  }
  return true;
}
