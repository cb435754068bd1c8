#include "app/WindowArgs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

const char* const kWindowName = "ostrelgsm4-window";

// The running program's own path, links resolved.
std::string OwnPath() {
  std::array<char, 4096> buffer {};
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  return n > 0 ? std::string(buffer.data(), size_t(n)) : std::string();
}

std::string DirOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

std::array<std::string, 2> Places(const std::string& programPath) {
  const std::string dir = DirOf(programPath);
  return {dir + '/' + kWindowName, dir + "/../lib/ostrelgsm4/" + kWindowName};
}

}  // namespace

TWindowArgs ParseWindowArgs(int argc, char* argv[]) {
  TWindowArgs args;
  bool havePort = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (arg == "--adc" && !args.Adc) {
      args.Adc = true;
    } else if (arg == "--port" && !havePort && i + 1 < argc) {
      havePort = true;
      args.Port = argv[++i];
    } else {
      return {};  // anything else belongs to the command line
    }
  }
  args.IsWindow = true;
  return args;
}

bool HasDisplay() {
  return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
}

void PrintNoDisplay() {
  // The advice first: the line "ostrelgsm4: ..." is always the last one.
  std::fprintf(stderr,
               "Run it in a desktop session, or use the command line: ostrelgsm4 --help\n"
               "ostrelgsm4: no display found (DISPLAY is not set), so the window cannot be shown\n");
}

std::string FindWindowProgram(const std::string& programPath) {
  if (programPath.empty()) return {};
  for (const std::string& place : Places(programPath))
  {
    struct stat st {};
    if (stat(place.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(place.c_str(), X_OK) == 0) return place;
  }
  return {};
}

std::string FindWindowProgram() { return FindWindowProgram(OwnPath()); }

std::string WindowProgramPlaces() {
  const std::array<std::string, 2> places = Places(OwnPath());
  return places[0] + " or " + places[1];
}
