// The ADC channel exchange: each channel's reading and its five thresholds,
// between the panel and the operation's settings; the readings are shown as
// the sliders' levels.
//
// Every request goes through QueryValue (one attempt, colours on the
// channel's label). Values travel as three hexadecimal digits, 000 to 3FF; a
// request that failed or a value outside that marks the label red and fails
// the operation (Failed) while the other requests still go out.
//
// The monitor (link mode 7) polls the readings with the same rule and posts
// each one as a reading element; how a front end drives it is told at
// SetMonitorChannels in DevOstrel.h. Link thread only.
#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string>

#include "link/xModem.h"
#include "protocol/DevOstrel.h"
#include "protocol/ProtocolText.h"

namespace {

struct TAdcChannel {
  const char* Label;
  const char* Slider;
  const char* Reading;  // the reading request
  char Digit;           // the channel's digit in "+itCK"
};

const TAdcChannel Channels[] = {
    {"lbACP1", "ts", "+c=0", '0'},
    {"lbACP2", "ts2", "+c=1", '1'},
};

// "+itCK": threshold K of channel C; its write form adds "=" and the value.
std::string ThresholdCommand(const TAdcChannel& channel, int k) {
  return std::string("+it") + channel.Digit + static_cast<char>('0' + k);
}

// A reading or threshold: the whole reply line, three hexadecimal digits.
const TRequestRule AdcRule{TReplyForm::Whole, IsAdcValue};

}  // namespace

void TDevOstrel::ReadAdc() {
  TModem& link = Link();
  for (int c = 0; c < TSettings::kChannels; ++c) {
    const TAdcChannel& channel = Channels[c];
    const TTarget label{Pages::ACP, channel.Label};
    const TTarget slider{Pages::ACP, channel.Slider};
    std::string value;
    QueryValue(channel.Reading, label, value, AdcRule);
    // A stop request leaves the value empty: nothing more is asked.
    if (link.IsTerminated()) return;
    if (const std::optional<int> level = ParseAdcValue(value)) {
      read_.Reading[c] = *level;
      queue_.PostTriSlider(slider, *level, "position");
    } else {
      failed_ = true;
    }

    for (int k = 4; k >= 0; --k) {
      value.clear();
      QueryValue(ThresholdCommand(channel, k), label, value, AdcRule);
      if (link.IsTerminated()) return;
      const std::optional<int> threshold = ParseAdcValue(value);
      if (!threshold) {
        failed_ = true;
        continue;
      }
      read_.Threshold[c][k] = *threshold;
    }
  }
}

void TDevOstrel::WriteAdc() {
  TModem& link = Link();
  for (int c = 0; c < TSettings::kChannels; ++c) {
    const TAdcChannel& channel = Channels[c];
    const TTarget label{Pages::ACP, channel.Label};
    // A failed write goes on with the next threshold.
    for (int k = 4; k >= 0; --k) {
      if (link.IsTerminated()) return;
      const int position = writing_.Threshold[c][k];
      // A threshold outside three hexadecimal digits is never sent.
      if (position < 0 || position > 0x3FF) {
        Link().Log(" # !!! Порог вне шкалы 0..1023: " + std::to_string(position), true, true);
        queue_.PostControlColor(label, clRed);
        failed_ = true;
        continue;
      }
      std::string reply;
      if (!QueryValue(ThresholdCommand(channel, k) + "=" + ToHex(position, 3), label, reply, {})) failed_ = true;
    }
  }
}

namespace {

// What the monitor has seen since its last summary line.
struct TMonitorTally {
  struct TChannel {
    int Good = 0;
    int Failed = 0;
    int Min = TSettings::kMaxThreshold;
    int Max = 0;
  };
  std::array<TChannel, TSettings::kChannels> Channel{};
  uint32_t Since = 0;

  void Add(int c, std::optional<int> value) {
    TChannel& ch = Channel[c];
    if (!value) {
      ++ch.Failed;
      return;
    }
    ++ch.Good;
    ch.Min = std::min(ch.Min, *value);
    ch.Max = std::max(ch.Max, *value);
  }
  bool Empty() const {
    for (const TChannel& ch : Channel)
      if (ch.Good + ch.Failed > 0) return false;
    return true;
  }
  // " # АЦП: за 60.0 с канал 1: 800 показаний (13.3 в с), 102..903, без ответа 0; канал 2: ..."
  std::string Line(uint32_t now) const {
    const uint32_t ms = std::max<uint32_t>(now - Since, 1);
    char head[64];
    std::snprintf(head, sizeof head, " # АЦП: за %.1f с", ms / 1000.0);
    std::string line = head;
    const char* sep = " ";
    for (int c = 0; c < TSettings::kChannels; ++c) {
      const TChannel& ch = Channel[c];
      if (ch.Good + ch.Failed == 0) continue;
      char text[160];
      std::snprintf(text, sizeof text, "%sканал %d: %d показаний (%.1f в с)", sep, c + 1, ch.Good,
                    ch.Good * 1000.0 / ms);
      line += text;
      if (ch.Good > 0) line += ", " + std::to_string(ch.Min) + ".." + std::to_string(ch.Max);
      line += ", без ответа " + std::to_string(ch.Failed);
      sep = "; ";
    }
    return line;
  }
};

}  // namespace

// The monitor: the chosen channels' readings in turn, one request each, until
// another mode is set or the link ends; see SetMonitorChannels.
void TDevOstrel::Monitor() {
  TModem& link = Link();
  failed_ = false;
  faultSeen_ = false;
  result_ = TOperationResult();
  const uint8_t channels = monitorChannels_.load() & kBothChannels;
  const auto going = [&] { return link.GetMode() == Modes::Monitor && !link.IsTerminated(); };
  TMonitorTally tally;
  tally.Since = link.Clock().NowMs();
  link.SetTrafficInMemo(false);
  // A round (each chosen channel once) starts every kMonitorRoundMs; one
  // that ran late is followed at once, with no burst to catch up.
  TDeadline round = link.Clock().DeadlineIn(0);
  while (going() && channels != 0) {
    if (round.NsSince(link.Clock().DeadlineIn(0)) > 0) link.PaceWait(round);
    if (!going()) break;
    const TDeadline now = link.Clock().DeadlineIn(0);
    round = (round.NsSince(now) > 0 ? round : now).After(kMonitorRoundMs);
    for (int c = 0; c < TSettings::kChannels && going(); ++c) {
      if ((channels & (1u << c)) == 0) continue;
      std::string reply;
      std::optional<int> value;
      if (Request(Channels[c].Reading, reply, 1, AdcRule)) value = ParseAdcValue(ReplyLine(reply));
      // A request cut short by a stop is no reading at all.
      if (link.IsTerminated() && link.FaultLine().empty()) break;
      const uint32_t now = link.Clock().NowMs();
      queue_.PostReading(now, c, value);
      tally.Add(c, value);
      if (now - tally.Since >= kMonitorSummaryMs) {
        link.Log(tally.Line(now), true, true);
        tally = TMonitorTally();
        tally.Since = now;
      }
    }
  }
  link.SetTrafficInMemo(true);
  if (!tally.Empty()) link.Log(tally.Line(link.Clock().NowMs()), true, true);

  TOperationResult result;
  result.Mode = Modes::Monitor;
  result.Settings.Groups = TGroups::None();
  if (const std::string fault = link.FaultLine(); !fault.empty()) {
    result.Outcome = TOutcome::LinkLost;
    result.Detail = fault;
  } else if (link.IsTerminated()) {
    result.Outcome = TOutcome::Interrupted;
  }
  failed_ = false;
  queue_.PostResult(result);
  link.EndMode(Modes::Monitor);
}
