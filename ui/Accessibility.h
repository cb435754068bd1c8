// Names and descriptions of the controls for screen readers and keyboard
// users: labels as buddies, a name for every control without a caption, the
// navigation items as buttons, the slider's thumbs with their values, and
// Enter and F2 in the key list. GUI thread only.
#pragma once

class QWidget;
class TRzGroupBar;
class TformACP;
class TformCommon;
class TformGSM;
class TformKeys;

// Makes Qt's accessibility see navigation items as buttons that can be
// pressed and sliders as groups of thumbs with values (once per program).
void InstallAccessibleFactory();

void DescribeNavigation(TRzGroupBar* bar);
// A list view shows a clear frame while it has the focus (the style's own
// is a faint line).
void FrameFocus(QWidget* listView);
void DescribePages(TformCommon* common, TformKeys* keys, TformACP* acp, TformGSM* gsm);
