// The navigation bar's icons, drawn once with a painter: no icon theme is
// looked up and no image is decoded before the window is on the screen.
// GUI thread only.
#pragma once

#include <QIcon>

enum class TNavIcon {
  Connect,     // a tick in a green circle
  Disconnect,  // a cross in a red circle
  Page,        // a sheet with lines
  Read,        // an arrow down
  Write,       // an arrow up
  Save,        // a diskette
  Open,        // an open folder
  Compare,     // two sheets side by side
  Sites,       // a house
  NewSite,     // a folder with a plus
  // The button of a menu bar or tool bar too narrow for its items.
  ExtendRight,  // "»"
  ExtendDown,   // "»" turned down
};

// The icon of kind, painted afresh (a few microseconds).
QIcon NavIcon(TNavIcon kind);
