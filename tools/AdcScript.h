#pragma once
// Moving ADC readings for the simulated panel: a script of levels per channel, played as the
// program asks for the readings, so a test or a demonstration shows a loop being opened and closed.
//
// Script file: UTF-8 text, one item a line; blank lines and "#" comments are skipped.
//   CHANNEL VALUE DURATION [NOISE]   a level: channel 1 or 2, reading 0..1023, how long it lasts,
//                                    and the noise: each reading varies by up to +-NOISE (0..1023)
//   loop | hold                      after a channel's last level: start again, or keep the last
//                                    level (the default)
//   seed N                           seed of the noise (decimal, default 1); the same seed and the
//                                    same requests give the same readings
// DURATION: "1500ms", "2s" (from the first reading request on), or "20r": the channel's next 20
// reading requests, whatever the time (tests use these: the machine's speed cannot change them).
// A channel without levels answers its state's fixed reading. Example:
//   loop
//   1 120 2s       # both contacts closed
//   1 600 2s 8     # one open, a little noise
//   2 900 10r
//
// Not thread-safe: the panel engine's owner serialises the calls.

#include "tools/PanelState.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::sim {

struct TAdcLevel
{
  enum class EUnit { Ms, Requests };
  int Value = 0;
  int Duration = 1;  // > 0
  EUnit Unit = EUnit::Ms;
  int Noise = 0;

  bool operator==(const TAdcLevel&) const = default;
};

struct TAdcScript
{
  std::array<std::vector<TAdcLevel>, kAdcChannels> Levels{};  // by channel 0, 1
  bool Loop = false;
  std::uint32_t Seed = 1;

  bool operator==(const TAdcScript&) const = default;
};

// Parses a script's text; on failure `error` names the line and what is wrong. Never throws.
bool ParseAdcScript(std::string_view text, TAdcScript& script, std::string& error);
bool LoadAdcScript(const std::string& path, TAdcScript& script, std::string& error);

class TAdcPlayer
{
public:
  using TClock = std::chrono::steady_clock;

  explicit TAdcPlayer(TAdcScript script);
  // The reading of a channel (0 or 1) for a request at `now`; none when the script has no levels
  // for it. The time lines start at the first request of either channel.
  std::optional<int> Reading(int channel, TClock::time_point now);

private:
  struct TPlay
  {
    std::size_t Index = 0;
    TClock::time_point LineStart{};
    int Served = 0;  // requests served by the current level
  };

  TAdcScript Script;
  std::array<TPlay, kAdcChannels> Play{};
  bool Started = false;
  std::array<std::mt19937, kAdcChannels> Noise;
};

}  // namespace ostrel::sim
