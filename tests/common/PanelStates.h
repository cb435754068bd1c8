// Panel states over every field's whole range, for the round-trip
// properties (RapidCheck), and the form a panel holds after one of them has
// been read, saved and written back.
//
// The generator keeps to what the panel itself reports: flag positions "0"
// or "1", phones of digits and "+", keys of 16 hexadecimal digits in either
// case, delays 0..255, the module 0..2, the ring 1..6, thresholds 0..1023
// (mostly rising, as the slider sets them, and now and then falling, as a
// panel may hold them).
#pragma once

#include <rapidcheck.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/PanelState.h"

namespace ostrel::sim {

// The state as the lines of its state file, "key=value".
inline std::vector<std::string> StateLines(const TPanelState& s) {
  std::vector<std::string> lines;
  for (int i = 0; i < kEntryCount; ++i) lines.push_back("phone" + std::to_string(i + 1) + "=" + s.Phones[i]);
  for (int i = 0; i < kEntryCount; ++i) lines.push_back("flags" + std::to_string(i + 1) + "=" + s.Flags[i]);
  lines.push_back("entry_delay=" + std::to_string(s.EntryDelay));
  lines.push_back("exit_delay=" + std::to_string(s.ExitDelay));
  lines.push_back(std::string("fast_arming=") + (s.FastArming ? "1" : "0"));
  lines.push_back(std::string("wait_send=") + (s.WaitSend ? "1" : "0"));
  for (int i = 0; i < kKeyCount; ++i) lines.push_back("key" + std::to_string(i) + "=" + s.Keys[i]);
  lines.push_back("gsm_module=" + std::to_string(s.GsmModule));
  lines.push_back("ring=" + std::to_string(s.Ring));
  for (int c = 0; c < kAdcChannels; ++c) {
    const std::string prefix = "adc" + std::to_string(c) + "_";
    lines.push_back(prefix + "reading=" + std::to_string(s.Adc[c].Reading));
    for (int k = 0; k < kAdcThresholds; ++k)
      lines.push_back(prefix + "threshold" + std::to_string(k) + "=" + std::to_string(s.Adc[c].Thresholds[k]));
  }
  return lines;
}

// RapidCheck prints a counterexample as its state file.
inline void showValue(const TPanelState& s, std::ostream& os) {
  for (const std::string& line : StateLines(s)) os << "\n  " << line;
}

// "flags7: '101' here, '001' there", the first line that differs; "" when
// the states are equal.
inline std::string FirstDifference(const TPanelState& here, const TPanelState& there) {
  const std::vector<std::string> a = StateLines(here);
  const std::vector<std::string> b = StateLines(there);
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    const size_t eq = a[i].find('=');
    return a[i].substr(0, eq) + ": '" + a[i].substr(eq + 1) + "' here, '" + b[i].substr(eq + 1) + "' there";
  }
  return {};
}

// What a panel holds after its settings were read, saved and written back
// whole, stated from the panel's side:
// - an event (entries 1..4) keeps its reaction flag; its other two flag
//   positions become "0";
// - a loop's 24-hour flag is on in both rows when either row had it;
// - a loop whose two rows both report the normal state keeps it on the lower
//   row (entries 9..12);
// - a key is in capitals, and a key of all ones becomes all zeros;
// - everything else (phones, delays, options, module, ring, thresholds,
//   readings) stays as it was.
inline TPanelState CanonicalPanel(TPanelState s) {
  for (int entry = 1; entry <= 4; ++entry) {
    s.Flags[entry - 1][1] = '0';
    s.Flags[entry - 1][2] = '0';
  }
  for (int loop = 1; loop <= 4; ++loop) {
    std::string& upper = s.Flags[4 + loop - 1];
    std::string& lower = s.Flags[8 + loop - 1];
    const char hours = upper[1] == '1' || lower[1] == '1' ? '1' : '0';
    upper[1] = lower[1] = hours;
    if (upper[2] == '1' && lower[2] == '1') upper[2] = '0';
  }
  for (std::string& key : s.Keys) {
    for (char& c : key)
      if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (key == std::string(16, 'F')) key = std::string(16, '0');
  }
  return s;
}

namespace gen {

// RapidCheck's own element generators either do not shrink or grow with the
// run's size; these draw from the whole range from the first case on and
// shrink towards the first choice.
template <class T>
rc::Gen<T> Choice(std::vector<T> choices) {
  return [choices](const rc::Random& random, int /*size*/) {
    const size_t i = static_cast<size_t>(rc::Random(random).next() % choices.size());
    return rc::shrinkable::map(
        rc::shrinkable::shrinkRecur(i, [](size_t x) { return rc::shrink::towards<size_t>(x, 0); }),
        [choices](size_t j) { return choices[j]; });
  };
}

// A number in min..max, shrinking towards min.
inline rc::Gen<int> Number(int min, int max) {
  return [min, max](const rc::Random& random, int /*size*/) {
    const int n = min + static_cast<int>(rc::Random(random).next() % static_cast<uint64_t>(max - min + 1));
    return rc::shrinkable::shrinkRecur(n, [min](int x) { return rc::shrink::towards<int>(x, min); });
  };
}

// A number in 0..max, its ends and their neighbours more often.
inline rc::Gen<int> Edgy(int max) {
  return rc::gen::weightedOneOf<int>({{3, Number(0, max)}, {1, Choice<int>({0, 1, max - 1, max})}});
}

inline rc::Gen<std::string> Phone() {
  static const std::vector<char> chars = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '+'};
  return rc::gen::mapcat(rc::gen::weightedOneOf<int>({{4, Number(0, 20)}, {1, Choice<int>({0, 20})}}),
                         [](int length) { return rc::gen::container<std::string>(length, Choice(chars)); });
}

// A flag field: each of its three positions "0" or "1".
inline rc::Gen<std::string> Flags() { return rc::gen::container<std::string>(3, Choice<char>({'0', '1'})); }

// A key as the panel sends it: zero, all ones in either case, or any 16
// hexadecimal digits in either case.
inline rc::Gen<std::string> Key() {
  static const std::string text = "0123456789ABCDEFabcdef";
  static const std::vector<char> digits(text.begin(), text.end());
  return rc::gen::weightedOneOf<std::string>(
      {{1, Choice<std::string>({std::string(16, '0'), std::string(16, 'F'), std::string(16, 'f'),
                                std::string("FfFfFfFfFfFfFfFf")})},
       {4, rc::gen::container<std::string>(16, Choice(digits))}});
}

// Five thresholds: each equal to the one before, next to it, anywhere above
// it, at the top of the scale, or now and then below it.
inline rc::Gen<std::array<int, kAdcThresholds>> Thresholds() {
  return rc::gen::exec([] {
    std::array<int, kAdcThresholds> t{};
    t[0] = *Edgy(kAdcMax);
    for (int k = 1; k < kAdcThresholds; ++k) {
      const int room = kAdcMax - t[k - 1];
      t[k] = t[k - 1] + *rc::gen::weightedOneOf<int>({{2, rc::gen::just(0)},
                                                       {2, rc::gen::just(std::min(1, room))},
                                                       {1, rc::gen::just(room)},
                                                       {3, Number(0, room)},
                                                       {1, Number(-t[k - 1], 0)}});
    }
    return t;
  });
}

inline rc::Gen<TPanelState> PanelState() {
  return rc::gen::exec([] {
    TPanelState s;
    for (std::string& phone : s.Phones) phone = *Phone();
    for (std::string& flags : s.Flags) flags = *Flags();
    s.EntryDelay = *Edgy(255);
    s.ExitDelay = *Edgy(255);
    s.FastArming = *Choice<bool>({false, true});
    s.WaitSend = *Choice<bool>({false, true});
    for (std::string& key : s.Keys) key = *Key();
    s.GsmModule = *Number(0, 2);
    s.Ring = *Number(1, 6);
    for (TAdcChannel& channel : s.Adc) {
      channel.Reading = *Edgy(kAdcMax);
      channel.Thresholds = *Thresholds();
    }
    return s;
  });
}

}  // namespace gen

// The sanitizer builds run the suite with OSTREL_TABLE_STRIDE=4.
inline int SanitizerStride() {
  const char* stride = std::getenv("OSTREL_TABLE_STRIDE");
  return std::max(1, stride ? std::atoi(stride) : 1);
}

// How many states a property tries: wanted, or a quarter of it under the
// sanitizers, at least one.
inline int StatesToTry(int wanted) { return std::max(1, wanted / SanitizerStride()); }

// Checks a property over StatesToTry(wanted) cases (RC_PARAMS="max_success=N"
// overrides it; RC_PARAMS="seed=S" replays a run): "" when it held, else
// RapidCheck's report of the smallest case found, with the seed that
// replays it. The seed and the number of cases are printed either way.
template <class TTestable>
std::string CheckProperty(const std::string& name, int wanted, TTestable&& testable) {
  rc::detail::TestMetadata metadata;
  metadata.id = name;
  metadata.description = name;
  rc::detail::TestParams params = rc::detail::configuration().testParams;
  const char* env = std::getenv("RC_PARAMS");
  if (!env || std::string(env).find("max_success") == std::string::npos) params.maxSuccess = StatesToTry(wanted);
  const rc::detail::TestResult result =
      rc::detail::checkTestable(std::forward<TTestable>(testable), metadata, params);
  std::ostringstream report;
  rc::detail::printResultMessage(result, report);
  const std::string replay = "RC_PARAMS=\"seed=" + std::to_string(params.seed) + "\"";
  if (result.template is<rc::detail::SuccessResult>()) {
    std::cout << name << ": " << report.str() << " (" << replay << ")" << std::endl;
    return {};
  }
  return report.str() + "\nreplay it with " + replay;
}

}  // namespace ostrel::sim

// *rc::gen::arbitrary<TPanelState>() and properties that take a panel state
// as an argument draw from the generator above.
template <>
struct rc::Arbitrary<ostrel::sim::TPanelState> {
  static rc::Gen<ostrel::sim::TPanelState> arbitrary() { return ostrel::sim::gen::PanelState(); }
};
