#include "app/WindowArgs.h"

#include <string_view>

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
