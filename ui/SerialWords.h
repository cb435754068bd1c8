// The serial port component's failures in the window's words. The component
// raises EDeviceError with a fixed English message and a code; the memo line
// that quotes one carries the code (TSerialFault), and the window says the
// failure in Russian from the code alone. The command line and the debug log
// keep the component's own words. GUI thread only.
#pragma once

#include <QString>

struct TMemoOut;

namespace SerialWords {

// The failure of code (CE_READ, CE_CANNOT_OPEN, ...) in Russian, with the
// device's name where the failure names it and the system's reason (errno)
// when there is one: "Не удалось прочитать данные из порта (ошибка
// ввода/вывода)". An unknown code reads "Ошибка COM порта, код N".
QString Said(int code, int systemError, const QString& device);
// The memo line of e as the window shows it: a quoted failure in Russian in
// place of the component's message, the rest as posted.
QString MemoText(const TMemoOut& e);

}  // namespace SerialWords
