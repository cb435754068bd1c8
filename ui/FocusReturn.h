// When a dialog closes, the keyboard goes back to the window it was opened
// from, to the control that had it there. Without this, the window system
// may leave the keyboard nowhere (no window manager, or one that does not
// activate the parent): keys typed right after a dialog closed were lost.
// GUI thread only.
#pragma once

#include <QObject>

class TFocusReturn : public QObject {
  Q_OBJECT
 public:
  // Watches every dialog of the application while it exists.
  explicit TFocusReturn(QObject* parent);
  ~TFocusReturn() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};
