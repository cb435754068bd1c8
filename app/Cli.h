// The command line for installers: read a panel into a settings file, write
// a settings file to a panel, list the serial ports. It runs the same main
// window, link thread, device and exchanges as the GUI, off-screen.
#pragma once

// True when the arguments ask for the command line rather than the window.
bool IsCommandLine(int argc, char* argv[]);
// Runs it; returns the process's exit status.
int RunCommandLine(int argc, char* argv[]);
