// The mouse wheel never changes a spin box or a combo box that does not have
// the keyboard focus: while the user scrolls a page over such a control, the
// page scrolls instead, and the value stays as it was. GUI thread only.
#pragma once

#include <QObject>

class QWidget;

class TWheelGuard : public QObject {
  Q_OBJECT
 public:
  // Guards every spin box and combo box inside root (root included); the
  // guard belongs to root. Controls added later are not guarded.
  static void Install(QWidget* root);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  using QObject::QObject;
};
