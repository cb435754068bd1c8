// The receiving end of the output queue: on the GUI thread, every waiting
// element is taken in posting order and turned into a change of a control.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "output/OutArray.h"

class QPlainTextEdit;

class TApplier {
 public:
  // Finds the object an element addresses; nullptr when there is none.
  std::function<QObject*(const TTarget&)> Resolve;
  // The memo that memo elements go to.
  QPlainTextEdit* Memo = nullptr;
  // Writes one line to the debug log while logging is on; empty when off.
  std::function<void(const std::string&)> LogLine;
  // Sees every element before it is applied (the command line watches the
  // traffic and the outcome through it); empty when nobody watches.
  std::function<void(const TOutElement&)> Observe;
  // Takes the result that ends each operation of the device.
  std::function<void(const TOperationResult&)> OnResult;
  // Takes each reading of the ADC monitor (time, channel 0 or 1, value or none).
  std::function<void(std::uint32_t, int, std::optional<int>)> OnReading;

  // Applies every waiting element; an element whose application fails is
  // dropped and the next one applied.
  void ApplyOutput(TOutArray& queue);
  void Apply(TOutElement& element);

  void ApplyMemoLine(const TMemoOut& e);
  static void ApplyControlText(QObject* control, const QString& text);
  static void ApplyComponentText(QObject* component, const QString& text);
  static void ApplyListRow(QObject* listView, const QString& rowNumber, const QString& text, int stateImage);
  static void ApplySliderText(QObject* slider, const QString& text, int index);
  static void ApplyFullRow(QObject* listView, const QString& caption, const StrArr& subItems);
  static void ApplyGroupAction(QObject* target, const QString& text);
};

// A control text read as a signed 32-bit number: decimal with an optional
// minus sign, or hexadecimal after "$". Throws std::invalid_argument otherwise.
int TextToInt(const QString& text);

// Sets a radio button on or off; off works although Qt's exclusive radio
// buttons refuse to be unchecked.
class QRadioButton;
void SetRadio(QRadioButton* button, bool on);
