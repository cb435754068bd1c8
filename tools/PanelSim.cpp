#include "tools/PanelSim.h"

namespace ostrel::sim {

void TPanelSim::Process(std::string_view bytes, TClock::time_point /*now*/, std::vector<TSimOutput>& out)
{
  Panel.Feed(bytes, out);
}

}  // namespace ostrel::sim
