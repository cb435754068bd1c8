// OstrelGSM4: configuration utility for the "Ostrel GSM" security alarm panel.
// This program is the command line, on QtCore alone. The window is a program
// of its own, "ostrelgsm4-window", which this one starts in its own place
// (execv: same process, same arguments) when no command is given.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <QString>

#include "app/Cli.h"
#include "app/WindowArgs.h"
#include "persist/WireText.h"

namespace {

// A path on one line, its control characters escaped.
std::string Shown(const std::string& path) {
  return EscapeControls(QString::fromLocal8Bit(path.c_str())).toLocal8Bit().toStdString();
}

}  // namespace

int main(int argc, char* argv[]) {
  if (IsCommandLine(argc, argv)) return RunCommandLine(argc, argv);
  if (!HasDisplay()) {
    PrintNoDisplay();
    return 1;
  }
  const std::string window = FindWindowProgram();
  if (window.empty()) {
    std::fprintf(stderr, "ostrelgsm4: the window's program is not installed (looked for %s)\n",
                 Shown(WindowProgramPlaces()).c_str());
    return 1;
  }
  execv(window.c_str(), argv);
  std::fprintf(stderr, "ostrelgsm4: cannot start the window's program %s: %s\n", Shown(window).c_str(),
               std::strerror(errno));
  return 1;
}
