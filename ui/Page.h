// TPage: the base of every settings page, and the character filter the pages' edits use.
//
// A page is a borderless child of the main window's work area. Its controls show
// the window's settings model (ui/PageSettings.h, which finds them by objectName
// on the page) and every edit of them changes it. GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QValidator>
#include <QWidget>

class TPage : public QWidget {
  Q_OBJECT

 public:
  explicit TPage(QWidget* parent = nullptr);

  // Resets the page's settings before a read from the panel. Pages without
  // such a reset keep the default, which does nothing.
  virtual void ClearPage() {}
};

// Keeps the text of an edit within an allowed set of characters, however the
// text comes in: typed, pasted, dropped or composed by an input method. A
// change that would bring in any other character is refused as a whole, so a
// keystroke or a paste of it has no effect. With upperCase, lower-case
// letters are taken as their capitals.
//
// QLineEdit does not run the validator on text set by the program (setText),
// and guards only a text that was valid: who sets text checks it, or filters
// it with Filtered.
//
// Pasted text keeps what a person means: the separators given (blanks,
// brackets, dashes in a phone number written for people) are dropped from an
// edit before it is judged, so "+7 (916) 123-45-67" lands as "+79161234567"
// and a single typed blank changes nothing. With maxChars the text after
// dropping them may hold at most that many characters (the edit's own
// maximum length must leave room for the separators of a paste). A change
// still refused emits Refused with the note, for the status bar.
class TCharValidator : public QValidator {
  Q_OBJECT

 public:
  TCharValidator(const QString& allowed, bool upperCase, QObject* parent);
  // Separators dropped from an edit, the length limit and the note a refused
  // edit shows.
  void SetPasteRule(const QString& separators, int maxChars, const QString& note);
  QString Note() const { return note_; }

 signals:
  void Refused(const QString& note);

 public:

  // Whether every character of text is allowed (after raising a..z).
  bool Accepts(const QString& text) const;
  // text without the characters that are not allowed (a..z raised first).
  QString Filtered(const QString& text) const;
  State validate(QString& input, int& pos) const override;

 private:
  QString Raised(const QString& text) const;

  QString allowed_;
  bool upperCase_;
  QString separators_;
  int maxChars_ = 0;
  QString note_;
};
