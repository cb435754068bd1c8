// The ADC channel exchange: each channel's reading and its five thresholds,
// between the panel and the sliders ts and ts2 of the ADC page.
//
// Every request goes through QueryValue (one attempt, colours on the
// channel's label). Values travel as hexadecimal digits; a reply line that is
// empty, not hexadecimal or beyond the scale's 1023 leaves its slider and pane
// as they were and is logged. No memo lines of its own otherwise, no message box, never Failed.
// Link thread only.
#include <array>
#include <string>

#include "link/xModem.h"
#include "protocol/DevOstrel.h"
#include "protocol/ProtocolText.h"

namespace {

struct TAdcChannel {
  const char* Label;
  const char* Slider;
  const char* Reading;               // the reading request
  char Digit;                        // the channel's digit in "+itCK"
  std::array<const char*, 5> Panes;  // value pane of thumb K
};

const TAdcChannel Channels[] = {
    {"lbACP1", "ts", "+c=0", '0', {"pKZ1", "pZam1", "p2Z1", "p1Z1", "pRaz1"}},
    {"lbACP2", "ts2", "+c=1", '1', {"pKZ2", "pZam2", "p2Z2", "p1Z2", "pRaz2"}},
};

// "+itCK": threshold K of channel C; its write form adds "=" and the value.
std::string ThresholdCommand(const TAdcChannel& channel, int k) {
  return std::string("+it") + channel.Digit + static_cast<char>('0' + k);
}

}  // namespace

std::optional<int> TDevOstrel::AdcValue(const std::string& command, const std::string& value) {
  const std::optional<int> number = ParseAdcValue(value);
  if (!number) Link().Log(BadValueLine(command, value), true, true);
  return number;
}

void TDevOstrel::ReadAdc() {
  TModem& link = Link();
  for (const TAdcChannel& channel : Channels) {
    const TTarget label{Pages::ACP, channel.Label};
    const TTarget slider{Pages::ACP, channel.Slider};
    std::string value;
    QueryValue(channel.Reading, label, value);
    // A stop request leaves the value empty: nothing more is asked.
    if (value.empty() && link.IsTerminated()) return;
    if (const std::optional<int> level = AdcValue(channel.Reading, value))
      queue_.PostTriSlider(slider, *level, "position");

    for (int k = 4; k >= 0; --k) {
      const std::string command = ThresholdCommand(channel, k);
      value.clear();
      QueryValue(command, label, value);
      if (value.empty() && link.IsTerminated()) return;
      const std::optional<int> threshold = AdcValue(command, value);
      if (!threshold) continue;
      queue_.PostTriSlider(slider, k, "$" + value);
      queue_.PostControlText({Pages::ACP, channel.Panes[k]}, std::to_string(*threshold));
    }
  }
}

void TDevOstrel::WriteAdc() {
  TModem& link = Link();
  for (const TAdcChannel& channel : Channels) {
    const TTarget label{Pages::ACP, channel.Label};
    const TTarget slider{Pages::ACP, channel.Slider};
    // A failed write goes on with the next threshold.
    for (int k = 4; k >= 0; --k) {
      if (link.IsTerminated()) return;
      const int position = reader_ ? reader_->ReadSliderPosition(slider, k) : 0;
      std::string reply;
      QueryValue(ThresholdCommand(channel, k) + "=" + ToHex(position, 3), label, reply);
    }
  }
}
