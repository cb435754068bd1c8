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
}  // namespace MessageBox
