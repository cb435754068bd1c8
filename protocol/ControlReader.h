// How the device reads the values of the pages' controls when it writes
// settings to the panel. The link thread never touches a widget: the GUI
// side implements this by running each read on the GUI thread.
#pragma once

#include <string>

#include "output/OutElement.h"

class TControlReader {
 public:
  virtual ~TControlReader() = default;
  // The control's value as text: an edit's text, a spin edit's value and a
  // combo box's selected index in decimal, "true" or "false" for a check box
  // or radio button, the first sub-item of a list view row "Form/Name#row".
  // An unknown control reads as "".
  virtual std::string ReadText(const TTarget& control) = 0;
  // Row (1-based) of a list view: its first sub-item, "" when there is none.
  virtual std::string ReadListRow(const TTarget& listView, int row) = 0;
  // Position of thumb index of a slider.
  virtual int ReadSliderPosition(const TTarget& slider, int index) = 0;
};
