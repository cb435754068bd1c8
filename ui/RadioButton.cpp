#include "ui/RadioButton.h"

#include <QButtonGroup>
#include <QMouseEvent>

TRadioButton::TRadioButton(QWidget* parent) : QRadioButton(parent) {}

TRadioButton::TRadioButton(const QString& text, QWidget* parent) : QRadioButton(text, parent) {}

void TRadioButton::SetOn(bool on) {
  if (on) {
    setChecked(true);
    return;
  }
  if (!isChecked()) return;
  // An exclusive group keeps its checked button checked; lift the exclusion
  // for the moment of unchecking.
  QButtonGroup* buttonGroup = group();
  const bool groupExclusive = buttonGroup != nullptr && buttonGroup->exclusive();
  const bool wasAutoExclusive = autoExclusive();
  if (groupExclusive) buttonGroup->setExclusive(false);
  setAutoExclusive(false);
  setChecked(false);
  setAutoExclusive(wasAutoExclusive);
  if (groupExclusive) buttonGroup->setExclusive(true);
}

void TRadioButton::mouseReleaseEvent(QMouseEvent* event) {
  // The base class clicks (and selects) on a left-button release; the other
  // buttons it ignores, but they are reported all the same.
  QRadioButton::mouseReleaseEvent(event);
  if (rect().contains(event->position().toPoint())) emit MouseReleased(event->button());
}
