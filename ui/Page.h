// TPage: the base of every settings page, and the key filter the pages' edits use.
//
// A page is a borderless child of the main window's work area. Its controls are
// the program's store of settings: the device and the settings file find them by
// objectName on the page. GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QWidget>

class TPage : public QWidget {
  Q_OBJECT

 public:
  explicit TPage(QWidget* parent = nullptr);

  // Resets the page's settings before a read from the panel. Pages without
  // such a reset keep the default, which does nothing.
  virtual void ClearPage() {}
};

// Drops typed characters that are not in the allowed set, so that such a
// keystroke has no effect on the edit it is installed on.
//
// Only printable characters count as typed. Control characters (backspace,
// Enter, Esc, Tab, Delete), navigation keys and shortcuts such as Ctrl+C or
// Ctrl+V pass unchanged, and text set by the program is never filtered.
// With upperCase, an accepted lower-case letter is inserted as its capital.
class TKeyFilter : public QObject {
  Q_OBJECT

 public:
  TKeyFilter(const QString& allowed, bool upperCase, QObject* parent);

  // Whether the typed character ch is accepted.
  bool Accepts(QChar ch) const { return allowed_.contains(ch); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QString allowed_;
  bool upperCase_;
};
