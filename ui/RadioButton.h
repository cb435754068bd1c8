// TRadioButton: a radio button that the program can switch off.
//
// Qt's auto-exclusive radio buttons ignore setChecked(false) on the checked
// button, while this program's pages must be able to show a group with no
// button selected (at start, after ClearPage, after a settings file or a panel
// read set every button of a group off). SetOn does both directions.
//
// MouseReleased reports every mouse button released over the button, whether
// or not the click changed the selection. It is sent for the mouse only: a
// selection by keyboard or by the program never sends it. GUI thread only.
#pragma once

#include <QRadioButton>

class TRadioButton : public QRadioButton {
  Q_OBJECT

 public:
  explicit TRadioButton(QWidget* parent = nullptr);
  explicit TRadioButton(const QString& text, QWidget* parent = nullptr);

  bool IsOn() const { return isChecked(); }
  // On: select this button; the other buttons of its group go off, as a click
  // would do it. Off: deselect it, leaving its group with none selected.
  void SetOn(bool on);

 signals:
  void MouseReleased(Qt::MouseButton button);

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};
