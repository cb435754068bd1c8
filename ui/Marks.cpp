#include "ui/Marks.h"

#include <QPalette>
#include <QPointer>
#include <QTimer>
#include <QVariant>
#include <QWidget>

namespace {

const char* const kProperty = "ostrelMarks";

unsigned Bits(const QWidget* widget) { return widget->property(kProperty).toUInt(); }

void Paint(QWidget* widget, unsigned bits) {
  if (bits == 0) {
    widget->setAutoFillBackground(false);
    widget->setPalette(QPalette());
    return;
  }
  const QColor colour((bits & unsigned(TMark::Flash)) ? Marks::kFlashRgb : Marks::kUnsavedRgb);
  QPalette palette = widget->palette();
  // Edits and spin boxes paint their field with Base, check boxes and radio
  // buttons fill their rectangle with Window.
  palette.setColor(QPalette::Base, colour);
  palette.setColor(QPalette::Window, colour);
  palette.setColor(QPalette::Button, colour);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

}  // namespace

namespace Marks {

void Set(QWidget* widget, TMark mark, bool on) {
  if (widget == nullptr) return;
  const unsigned before = Bits(widget);
  const unsigned after = on ? before | unsigned(mark) : before & ~unsigned(mark);
  if (after == before) return;
  widget->setProperty(kProperty, after);
  Paint(widget, after);
}

bool Has(const QWidget* widget, TMark mark) { return widget && (Bits(widget) & unsigned(mark)) != 0; }

void Flash(QWidget* widget, int ms) {
  if (widget == nullptr) return;
  Set(widget, TMark::Flash, true);
  // A later flash of the same widget restarts the count: only the last timer clears it.
  const int serial = widget->property("ostrelFlashSerial").toInt() + 1;
  widget->setProperty("ostrelFlashSerial", serial);
  QTimer::singleShot(ms, widget, [w = QPointer<QWidget>(widget), serial] {
    if (w && w->property("ostrelFlashSerial").toInt() == serial) Set(w, TMark::Flash, false);
  });
}

}  // namespace Marks
