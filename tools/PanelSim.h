#pragma once
// A simulated panel on a pseudo-terminal: the program under test opens SlavePath() as its serial
// port. Reply framing, faults and the state are described in PanelEngine.h and PanelState.h.
//
//   ostrel::sim::TPanelSim panel;
//   panel.AddFault({"+rt07", ostrel::sim::EFault::Silence, true});
//   panel.Start();
//   ... open panel.SlavePath() ...
//   panel.WaitForCommands(1, 1000);

#include "tools/SimServer.h"

namespace ostrel::sim {

class TPanelSim final : public TSimServer
{
public:
  TPanelSim() = default;  // opens the pty (throws std::system_error); Start() begins serving
  ~TPanelSim() override { Stop(); }

protected:
  void Process(std::string_view bytes, TClock::time_point now, std::vector<TSimOutput>& out) override;
};

}  // namespace ostrel::sim
