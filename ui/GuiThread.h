// Widgets belong to the GUI thread. Every entry point that touches one calls
// RequireGuiThread first: from any other thread it throws instead of touching
// the widget, so a mistake shows as a logged failure, never as a quiet race.
#pragma once

#include <stdexcept>

class EWrongThread : public std::logic_error {
 public:
  explicit EWrongThread(const char* where);
};

// Any thread: returns on the GUI thread (or when there is no application
// yet); throws EWrongThread elsewhere. where names the entry point.
void RequireGuiThread(const char* where);
