// The command line for installers: read a panel into a settings file, write
// a settings file to a panel, compare them, list the serial ports. It runs
// the link thread, the device and the settings model on a QCoreApplication:
// no widget, no platform plugin, no display.
#pragma once

// True when the arguments ask for the command line rather than the window.
bool IsCommandLine(int argc, char* argv[]);
// Runs it; returns the process's exit status.
int RunCommandLine(int argc, char* argv[]);
