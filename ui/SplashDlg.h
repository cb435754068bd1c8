// The connection progress dialog "Подключение": one line of status text that
// the link side sends, a hidden OK button that it "clicks" on success.
#pragma once

#include <QDialog>
#include <functional>

class QPushButton;
class TPanel;

class TdlgSplash : public QDialog {
  Q_OBJECT
 public:
  explicit TdlgSplash(QWidget* parent = nullptr);
  TPanel* Panel2() const { return panel2_; }
  // The line under Panel2 that follows a modem call; shown only for one.
  TPanel* Panel6() const { return panel6_; }
  QPushButton* CancelButton() const { return cancel_; }

  // Prepares the dialog for one connection: with call, the call line is
  // shown (empty at first), and "Отмена" is enabled again.
  void BeginConnection(bool call);
  // Asked when the user cancels (Отмена, Escape, closing): true when the
  // link has been asked to stop and must end first (a call hangs up, the
  // port is freed). The dialog then stays up, Отмена disabled, until
  // LinkEnded closes it with Cancel.
  std::function<bool()> OnCancel;
  bool Cancelling() const { return cancelling_; }
  // The link has ended: a pending cancel closes the dialog.
  void LinkEnded();
  // Stays up without Отмена while the link ends (a call being hung up at
  // Disconnect); LinkEnded closes it.
  void ShowEnding();

  void reject() override;

 private:
  TPanel* panel2_;
  TPanel* panel6_;
  QPushButton* cancel_;
  bool cancelling_ = false;
};
