#include "model/AdcProposal.h"

#include <algorithm>

namespace AdcProposal {

void TLevel::Add(int reading) {
  if (Count == 0) {
    Min = Max = reading;
  } else {
    Min = std::min(Min, reading);
    Max = std::max(Max, reading);
  }
  ++Count;
}

TProposal Propose(const TLevels& levels, const AdcStates::TThresholds& current, int margin) {
  TProposal proposal;
  proposal.Thresholds = current;
  if (levels[0].Count > 0) proposal.Thresholds[0] = 0;
  for (int k = 0; k < TSettings::kThresholds; ++k)
    if (levels[static_cast<std::size_t>(k)].Count == 0) proposal.Warnings.push_back({TWarningKind::NoReadings, k});
  for (int k = 1; k < TSettings::kThresholds; ++k) {
    const TLevel& below = levels[static_cast<std::size_t>(k - 1)];
    const TLevel& above = levels[static_cast<std::size_t>(k)];
    if (above.Count == 0) continue;
    if (below.Count == 0) {
      // Nothing seen below: the state begins just under its lowest reading.
      proposal.Thresholds[static_cast<std::size_t>(k)] = std::max(0, above.Min - margin / 2);
      continue;
    }
    proposal.Thresholds[static_cast<std::size_t>(k)] = (below.Max + above.Min) / 2;
    if (below.Max >= above.Min) {
      proposal.Warnings.push_back({TWarningKind::Overlap, k});
    } else if (above.Min - below.Max < margin) {
      proposal.Warnings.push_back({TWarningKind::TooClose, k});
    }
  }
  for (int k = 1; k < TSettings::kThresholds; ++k) {
    auto& t = proposal.Thresholds;
    t[static_cast<std::size_t>(k)] = std::max(t[static_cast<std::size_t>(k)], t[static_cast<std::size_t>(k - 1)]);
  }
  return proposal;
}

}  // namespace AdcProposal
