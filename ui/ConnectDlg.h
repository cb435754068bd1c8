// The port selection dialog "Соединение".
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QStringList>
#include <functional>

class QPushButton;
class QTimer;

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
  // duplicates kept. The port in the box stays as it is (selected when
  // listed); only an empty box takes the first port.
  void ComPortsDropDown();
  // Cancel (Escape, closing) gives back the port the dialog was opened with.
  void reject() override;
  // Item data: the port's description, shown beside its name in the list.
  static constexpr int DescriptionRole = Qt::UserRole + 1;
  TComPortsCombo* ComPorts() const { return comPorts_; }

  // Where the names of the system's serial ports come from (replaceable in
  // tests): the names under which the serial component opens them, and the
  // stable /dev/serial/by-id names of USB adapters.
  static std::function<QStringList()> ListPorts;
  static QStringList SystemPorts();
  // A port's description for its tooltip (the USB adapter's name and maker);
  // empty when the system tells none.
  static std::function<QString(const QString& port)> DescribePort;
  static QString SystemPortDescription(const QString& port);

  // While the dialog is up its list follows the ports that come and go, once
  // a second: new ports are added in their sorted place, vanished ones
  // removed; the text in the box stays as it is.
  void RefreshPorts();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void SetToolTips();

  TComPortsCombo* comPorts_;
  QString remembered_;  // the port when the dialog was shown
  QTimer* refresh_;
};
