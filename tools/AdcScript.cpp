#include "tools/AdcScript.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

namespace ostrel::sim {

namespace {

std::vector<std::string_view> Words(std::string_view line)
{
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// A whole decimal number within lo..hi.
bool Number(std::string_view text, long long lo, long long hi, long long& value)
{
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= lo && value <= hi;
}

bool Duration(std::string_view text, TAdcLevel& level)
{
  long long scale = 1;
  if (text.ends_with("ms")) {
    text.remove_suffix(2);
  } else if (text.ends_with("s")) {
    text.remove_suffix(1);
    scale = 1000;
  } else if (text.ends_with("r")) {
    text.remove_suffix(1);
    level.Unit = TAdcLevel::EUnit::Requests;
  }
  long long value = 0;
  // Up to a day a level.
  if (!Number(text, 1, 86'400'000 / scale, value)) return false;
  level.Duration = static_cast<int>(value * scale);
  return true;
}

}  // namespace

bool ParseAdcScript(std::string_view text, TAdcScript& script, std::string& error)
{
  TAdcScript parsed;
  int lineNo = 0;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    ++lineNo;
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    const std::vector<std::string_view> w = Words(line);
    if (w.empty()) continue;
    const auto bad = [&](const std::string& why) {
      error = "ADC script line " + std::to_string(lineNo) + ": " + why;
      return false;
    };
    long long n = 0;
    if (w[0] == "loop" || w[0] == "hold") {
      if (w.size() != 1) return bad("\"" + std::string(w[0]) + "\" takes nothing after it");
      parsed.Loop = w[0] == "loop";
    } else if (w[0] == "seed") {
      if (w.size() != 2 || !Number(w[1], 0, 0xFFFFFFFFLL, n)) return bad("expected seed N");
      parsed.Seed = static_cast<std::uint32_t>(n);
    } else {
      if (w.size() < 3 || w.size() > 4) return bad("expected CHANNEL VALUE DURATION [NOISE]");
      if (!Number(w[0], 1, kAdcChannels, n)) return bad("channel must be 1 or 2");
      const int channel = static_cast<int>(n) - 1;
      TAdcLevel level;
      if (!Number(w[1], 0, kAdcMax, n)) return bad("value must be 0..1023");
      level.Value = static_cast<int>(n);
      if (!Duration(w[2], level)) return bad("duration must be N, Nms, Ns or Nr (N above 0)");
      if (w.size() == 4) {
        if (!Number(w[3], 0, kAdcMax, n)) return bad("noise must be 0..1023");
        level.Noise = static_cast<int>(n);
      }
      parsed.Levels[channel].push_back(level);
    }
  }
  script = std::move(parsed);
  return true;
}

bool LoadAdcScript(const std::string& path, TAdcScript& script, std::string& error)
{
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read the ADC script " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (!ParseAdcScript(text.str(), script, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

TAdcPlayer::TAdcPlayer(TAdcScript script) : Script(std::move(script))
{
  for (int c = 0; c < kAdcChannels; ++c) Noise[c].seed(Script.Seed * 2u + static_cast<std::uint32_t>(c));
}

std::optional<int> TAdcPlayer::Reading(int channel, TClock::time_point now)
{
  if (channel < 0 || channel >= kAdcChannels) return std::nullopt;
  const std::vector<TAdcLevel>& levels = Script.Levels[channel];
  if (levels.empty()) return std::nullopt;
  if (!Started) {
    Started = true;
    for (TPlay& p : Play) p.LineStart = now;
  }
  TPlay& p = Play[channel];
  // Past every level that has run its course; the last one stays unless the script loops.
  for (;;) {
    const TAdcLevel& level = levels[p.Index];
    const bool timed = level.Unit == TAdcLevel::EUnit::Ms;
    const auto length = std::chrono::milliseconds(level.Duration);
    const bool done = timed ? now - p.LineStart >= length : p.Served >= level.Duration;
    if (!done || (p.Index + 1 == levels.size() && !Script.Loop)) break;
    // A timed level ends when its time is up, not when it was next asked for.
    p.LineStart = timed ? p.LineStart + length : now;
    p.Index = (p.Index + 1) % levels.size();
    p.Served = 0;
  }
  ++p.Served;
  const TAdcLevel& level = levels[p.Index];
  int value = level.Value;
  if (level.Noise > 0) value += std::uniform_int_distribution<int>(-level.Noise, level.Noise)(Noise[channel]);
  return std::clamp(value, 0, kAdcMax);
}

}  // namespace ostrel::sim
