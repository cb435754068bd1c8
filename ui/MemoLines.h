// The memo's lines: the installer's lines always shown, the traffic (commands,
// replies, attempts, the thread's start and end) only with "Подробно". Every
// line stays in the memo; a traffic line is a hidden block while the switch
// is off, so turning it on shows the traffic already received too.
// GUI thread only.
#pragma once

#include <QString>

class QPlainTextEdit;

namespace MemoLines {

// Appends a line; a traffic line is hidden unless the memo shows traffic.
void Append(QPlainTextEdit* memo, const QString& text, bool traffic);
// Shows or hides the traffic lines, those already there included.
void ShowTraffic(QPlainTextEdit* memo, bool show);
bool ShowsTraffic(const QPlainTextEdit* memo);
// The lines as the memo shows them (hidden ones left out).
QStringList Visible(const QPlainTextEdit* memo);

}  // namespace MemoLines
