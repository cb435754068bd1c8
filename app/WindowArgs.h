// The arguments that open the window rather than run the command line:
// none, "--port PORT" (the port dialog filled in), "--adc" (the navigation
// item "АЦП" shown), or both in either order. And where the window's
// program is found: beside the running program (the build tree) or in the
// package's private directory (<prefix>/lib/ostrelgsm4 beside <prefix>/bin).
#pragma once

#include <string>

struct TWindowArgs {
  bool IsWindow = false;
  std::string Port;
  bool Adc = false;
};

TWindowArgs ParseWindowArgs(int argc, char* argv[]);

// True when a display (X11, Wayland) or a platform plugin is named.
bool HasDisplay();
// The advice, then the final line "ostrelgsm4: no display found ...".
void PrintNoDisplay();

// The window's program for the program at programPath: the first existing
// executable of its places, else empty.
std::string FindWindowProgram(const std::string& programPath);
// For the running program (/proc/self/exe).
std::string FindWindowProgram();
// The places looked at, for the message when none holds it.
std::string WindowProgramPlaces();
