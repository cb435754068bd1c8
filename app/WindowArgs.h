// The arguments that open the window rather than run the command line:
// none, "--port PORT" (the port dialog filled in), "--adc" (the navigation
// item "АЦП" shown), or both in either order.
#pragma once

#include <string>

struct TWindowArgs {
  bool IsWindow = false;
  std::string Port;
  bool Adc = false;
};

TWindowArgs ParseWindowArgs(int argc, char* argv[]);
