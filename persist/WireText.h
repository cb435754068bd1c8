// Texts between the link side (bytes) and the widgets (QString). The program's
// own texts are UTF-8; bytes that are not valid UTF-8 (a panel or an old file
// speaking Windows-1251) are read as Windows-1251.
#pragma once

#include <QString>
#include <string>

QString FromWire(const std::string& text);
std::string ToWire(const QString& text);

// The text with its control characters written as escapes ("\n", "\r",
// "\t", "\xHH"), for a text shown on one line: a port name in the status
// pane, each line the command line prints. Valid text (Cyrillic too) stays
// as it is; applying it twice changes nothing more.
QString EscapeControls(const QString& text);
// Whether EscapeControls writes c as an escape: C0 controls, DEL, C1
// controls (U+0080..U+009F) and the Unicode line and paragraph separators.
bool IsEscapedControl(char16_t c);
