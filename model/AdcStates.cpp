#include "model/AdcStates.h"

namespace AdcStates {

const char* Name(int state) {
  static const char* const names[TSettings::kThresholds] = {"КЗ", "Оба замкнуты", "2-й замкнут", "1-й замкнут",
                                                             "Оба разомкнуты"};
  return state >= 0 && state < TSettings::kThresholds ? names[state] : "";
}

std::optional<int> StateOf(int reading, const TThresholds& thresholds) {
  std::optional<int> state;
  int begins = -1;
  for (int k = 0; k < TSettings::kThresholds; ++k)
    // With equal thresholds the higher state wins: it begins there too.
    if (thresholds[k] <= reading && thresholds[k] >= begins) {
      begins = thresholds[k];
      state = k;
    }
  return state;
}

}  // namespace AdcStates
