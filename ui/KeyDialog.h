// TOKRightDlg: the key entry dialog ("Ключ Touch Memory", 316 x 80, centred
// on the screen).
//
// KeyEdit holds at most 16 characters; only hexadecimal digits can be typed,
// and typed letters become capitals. A pasted key loses its blanks and
// dashes; a paste that still breaks the rule is refused with a note. OKBtn
// (default, Enter) takes 1 to 16 digits, pads them with "0"s in front to 16
// as a settings file's key is, and closes the dialog with Accepted; an empty
// key is refused with a message and the dialog stays open. CancelBtn
// "Отмена" (Esc) and closing the window give Rejected. Each time it is shown
// the key edit has the focus with its text selected.
//
// The program creates one dialog at start and reuses it for every edit;
// between uses it keeps its last text. GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QFrame;
class QLineEdit;
class QPushButton;

class TOKRightDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kKeyLength = 16;

  explicit TOKRightDlg(QWidget* parent = nullptr);

  QLineEdit* KeyEdit() const { return keyEdit_; }
  QPushButton* OKBtn() const { return okBtn_; }
  QPushButton* CancelBtn() const { return cancelBtn_; }

  // When set, receives the text of the dialog's message box instead of a
  // modal box being shown, so that tests can see the message without blocking.
  static std::function<void(const QString&)> MessageHook;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OKBtnClick();
  void ShowMessage(const QString& text);

  QFrame* bevel_ = nullptr;
  QLineEdit* keyEdit_ = nullptr;
  QPushButton* okBtn_ = nullptr;
  QPushButton* cancelBtn_ = nullptr;
};
