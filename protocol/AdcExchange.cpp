// The ADC channel exchange: each channel's reading and its five thresholds,
// between the panel and the operation's settings; the readings are shown as
// the sliders' levels.
//
// Every request goes through QueryValue (one attempt, colours on the
// channel's label). Values travel as three hexadecimal digits, 000 to 3FF; a
// request that failed or a value outside that marks the label red and fails
// the operation (Failed) while the other requests still go out. Link thread
// only.
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
