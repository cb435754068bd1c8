// Thresholds proposed from readings: the installer puts a loop into each of
// the five states in turn, the readings of each state are kept, and the five
// thresholds are set between the levels seen.
//
// Threshold 0 (where "КЗ" begins) is the scale's bottom, so every reading
// below the next state counts as a short circuit; threshold K (1..4) is the
// midpoint between the highest reading of state K - 1 and the lowest of
// state K. Two states whose readings overlap, or lie closer than the margin,
// are named in a warning; a state without readings keeps its threshold as it
// was. Plain values, no Qt; any thread.
#pragma once

#include <array>
#include <optional>
#include <vector>

#include "model/AdcStates.h"

namespace AdcProposal {

// The readings kept for one state.
struct TLevel {
  int Count = 0;
  int Min = 0;
  int Max = 0;
  void Add(int reading);
};

using TLevels = std::array<TLevel, TSettings::kThresholds>;

enum class TWarningKind {
  NoReadings,  // State has no readings: its threshold is kept
  Overlap,     // the readings of State - 1 reach those of State
  TooClose,    // they do not overlap, but lie closer than the margin
};

struct TWarning {
  TWarningKind Kind = TWarningKind::NoReadings;
  int State = 0;  // the upper state of the pair (or the state without readings)
  bool operator==(const TWarning&) const = default;
};

struct TProposal {
  AdcStates::TThresholds Thresholds{};
  std::vector<TWarning> Warnings;
};

// Readings of neighbouring states closer than this many units give a warning
// (the reading wanders by a few units; a threshold needs room on both sides).
constexpr int kMargin = 20;

// Proposes thresholds from the levels; current gives the thresholds of
// states without readings. The result never falls: a threshold below its
// left neighbour is raised to it.
TProposal Propose(const TLevels& levels, const AdcStates::TThresholds& current, int margin = kMargin);

}  // namespace AdcProposal
