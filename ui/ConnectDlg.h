// The port selection dialog "Соединение".
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QStringList>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
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
  // Cancel (Escape, closing) gives back the port and the way of connecting
  // the dialog was opened with.
  void reject() override;
  // OK: refused, with a note in the dialog, for a modem call to a number
  // that leaves nothing to dial. A number taken is put first in the list of
  // recent numbers.
  void accept() override;
  // Item data: the port's description, shown beside its name in the list.
  static constexpr int DescriptionRole = Qt::UserRole + 1;
  TComPortsCombo* ComPorts() const { return comPorts_; }

  // The way of connecting: directly on the port, or through a GSM modem on
  // the port with a data call to the panel's number.
  bool ViaModem() const;
  void SetViaModem(bool modem);
  // The panel's number as typed (the pages' phone filter: digits and "+").
  QString Phone() const;
  void SetPhone(const QString& phone);
  bool WaitForNetwork() const;
  void SetWaitForNetwork(bool wait);
  // The last numbers called, the newest first (at most kRecentPhones).
  QStringList RecentPhones() const;
  void SetRecentPhones(const QStringList& phones);
  static constexpr int kRecentPhones = 5;
  QComboBox* PhoneBox() const { return phone_; }
  QLabel* NoteLabel() const { return note_; }

  // The way of connecting in a settings file (the window's "current.ini"):
  // [Connect] Modem, Phone, WaitForNetwork and LastPhone1..5, beside
  // ComPort, which stays as it is. A file without them gives a direct link.
  void LoadCall(const QString& fileName);
  bool SaveCall(const QString& fileName, QString* error = nullptr) const;

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
  void UpdateCallControls();

  TComPortsCombo* comPorts_;
  QRadioButton* direct_;
  QRadioButton* modem_;
  QComboBox* phone_;
  QCheckBox* waitNetwork_;
  QLabel* note_;
  QString remembered_;  // the port when the dialog was shown
  // The way of connecting when the dialog was shown.
  bool rememberedModem_ = false;
  QString rememberedPhone_;
  bool rememberedWait_ = true;
  QTimer* refresh_;
};
