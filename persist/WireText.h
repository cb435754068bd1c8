// Texts between the link side (bytes) and the widgets (QString). The program's
// own texts are UTF-8; bytes that are not valid UTF-8 (a panel or an old file
// speaking Windows-1251) are read as Windows-1251.
#pragma once

#include <QString>
#include <string>

QString FromWire(const std::string& text);
std::string ToWire(const QString& text);

// The text with its control characters written as escapes ("\n", "\r",
// "\t", "\xHH"), for a name shown on one line: a port name in the status
// pane or in the command line's final line.
QString EscapeControls(const QString& text);
