// Message boxes of the program. Tests replace the shower to see the texts
// without a modal window.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace MessageBox {
// Shows a modal message box with the text and an OK button.
void Show(const QString& text, QWidget* parent = nullptr);
// When set, receives the text instead of a modal box being shown.
extern std::function<void(const QString&)> Hook;
// From now on no box is shown, since no one is there to answer one (the
// program was stopped by a signal): Show writes the text to standard error,
// each line "ostrelgsm4: ..." with its control characters escaped, hands it
// to log (when given) and returns at once. For the rest of the run.
void ShowNoMore(std::function<void(const QString&)> log);
}  // namespace MessageBox
