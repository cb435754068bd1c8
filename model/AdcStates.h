// The five states of an ADC channel with two contacts, as the ADC page names
// them, and which of them a reading stands for under a channel's thresholds.
//
// Threshold K is where state K begins: a reading is in the state of the
// highest threshold at or below it. A reading below every threshold is in
// no state (the page's bands leave that stretch unshaded). Thresholds that
// fall (a panel may hold them so) are taken as they are, by the same rule.
//
// Plain functions; any thread.
#pragma once

#include <array>
#include <optional>

#include "model/Settings.h"

namespace AdcStates {

using TThresholds = std::array<int, TSettings::kThresholds>;

// The state's name by thumb index 0..4: "КЗ", "Оба замкнуты", "2-й замкнут",
// "1-й замкнут", "Оба разомкнуты" (UTF-8).
const char* Name(int state);
// The state a reading stands for; none below every threshold.
std::optional<int> StateOf(int reading, const TThresholds& thresholds);

}  // namespace AdcStates
