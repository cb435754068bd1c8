// Values taken from the panel's replies must be values the pages can hold and
// send back unchanged: a ring duration outside 1..6 and an ADC value beyond
// the scale's 1023 are not taken.
#include <gtest/gtest.h>

#include "protocol/ProtocolText.h"
#include "tests/common/ScriptedPeer.h"
#include "tests/protocol/ExchangeRig.h"

namespace {

std::string Reply(const std::string& command, const std::string& line) { return command + "\r" + line + "\rOK\r\n"; }

}  // namespace

TEST(ReplyValues, AdcValueIsOnTheScale) {
  const std::pair<const char*, std::optional<int>> cases[] = {
      {"0", 0}, {"3ff", 1023}, {"3FF", 1023}, {"400", std::nullopt}, {"FFFF", std::nullopt},
      {"", std::nullopt}, {"1G", std::nullopt}, {"-1", std::nullopt}, {"0003FF", 1023}};
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseAdcValue(text), value) << text;
}

TEST(ReplyValues, RingDigitIsOneToSix) {
  EXPECT_EQ(RingIndex('1'), 0);
  EXPECT_EQ(RingIndex('6'), 5);
  for (const char c : {'0', '7', '9', 'a', '\0', '\r'}) EXPECT_EQ(RingIndex(c), std::nullopt) << int(c);
}

struct TRingCase {
  const char* name;
  std::string digit;
  std::vector<std::string> posted;
};

class RingReply : public ::testing::TestWithParam<TRingCase> {};

TEST_P(RingReply, OnlyADurationOfTheListIsTaken) {
  TScriptedPeer peer({Reply("+rg", "+rg1"), Reply("+rh", "+rh" + GetParam().digit)});
  TRig rig(peer.Path(), peer);
  const TOutput out = rig.Run(Pages::GSM, 3);
  const bool taken = !GetParam().posted.empty();
  EXPECT_EQ(out.Holds(TGroup::Gsm), taken);
  if (taken) {
    EXPECT_EQ(std::to_string(out.Read().Ring), GetParam().posted[0]);
  }
  // A duration outside the list is refused: red, and the read has failed.
  EXPECT_EQ(out.ColoursFor(Pages::GSM, "lbRing"),
            (std::vector<std::string>{GetParam().posted.empty() ? "clRed" : "clBlue"}));
}

INSTANTIATE_TEST_SUITE_P(Gsm, RingReply,
                         ::testing::Values(TRingCase{"six", "6", {"5"}}, TRingCase{"one", "1", {"0"}},
                                           TRingCase{"zero", "0", {}}, TRingCase{"nine", "9", {}},
                                           TRingCase{"letter", "x", {}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReplyValues, AdcThresholdBeyondTheScaleIsLoggedAndLeftOut) {
  std::vector<std::string> script = {Reply("+c=0", "200"), Reply("+it04", "400"), Reply("+it03", "3FF")};
  for (const char* command : {"+it02", "+it01", "+it00", "+c=1", "+it14", "+it13", "+it12", "+it11", "+it10"})
    script.push_back(Reply(command, "010"));
  TScriptedPeer peer(script);
  TRig rig(peer.Path(), peer);
  const TOutput out = rig.Run(Pages::ACP, 3);
  EXPECT_TRUE(out.HasLine("DT  # !!! Неверное значение в ответе на +it04: 400", true));
  EXPECT_FALSE(out.Holds(TGroup::Adc));
  EXPECT_EQ(out.Result.Command, "+it04");
  EXPECT_EQ(out.Read().Threshold[0][4], 0);
  EXPECT_EQ(out.Read().Threshold[0][3], 1023);
}
