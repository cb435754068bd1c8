// Marks on a settings control, shown as its background: a setting changed
// and not yet written or saved, and a short flash where a page's own rule
// has just changed a control. A flash shows over the other mark; a control
// without marks takes its parent's palette again.
//
// GUI thread only.
#pragma once

class QWidget;

enum class TMark : unsigned { Unsaved = 1, Flash = 2 };

namespace Marks {

// The background colours: light amber for a change not yet written, light
// blue for a flash; dark text on both keeps at least 4.5:1.
inline constexpr unsigned kUnsavedRgb = 0xffe49a;
inline constexpr unsigned kFlashRgb = 0x9fd0ff;

void Set(QWidget* widget, TMark mark, bool on);
bool Has(const QWidget* widget, TMark mark);
// Marks the widget with a flash that goes again after ms (a timer).
void Flash(QWidget* widget, int ms);

}  // namespace Marks
