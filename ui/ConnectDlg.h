// The port selection dialog "Соединение".
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QStringList>
#include <functional>

class QPushButton;

// The editable combo box of port names; its list is refilled every time it
// drops down.
class TComPortsCombo : public QComboBox {
  Q_OBJECT
 public:
  explicit TComPortsCombo(QWidget* parent = nullptr) : QComboBox(parent) {}
  std::function<void()> OnDropDown;
  void showPopup() override;
};

class TdlgConnect : public QDialog {
  Q_OBJECT
 public:
  explicit TdlgConnect(QWidget* parent = nullptr);
  // Fills the list with the system's serial ports, sorted as text with
  // duplicates kept, and selects the first.
  void ComPortsDropDown();
  TComPortsCombo* ComPorts() const { return comPorts_; }

  // Where the names of the system's serial ports come from (replaceable in
  // tests): the names under which the serial component opens them.
  static std::function<QStringList()> ListPorts;
  static QStringList SystemPorts();

 private:
  TComPortsCombo* comPorts_;
};
