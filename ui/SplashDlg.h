// The connection progress dialog "Подключение": one line of status text that
// the link side sends, a hidden OK button that it "clicks" on success.
#pragma once

#include <QDialog>

class TPanel;

class TdlgSplash : public QDialog {
  Q_OBJECT
 public:
  explicit TdlgSplash(QWidget* parent = nullptr);
  TPanel* Panel2() const { return panel2_; }

 private:
  TPanel* panel2_;
};
