// The simulator's scripted ADC readings: the script's text, its playing, and
// the readings the panel answers with it.

#include "tests/tools/SimClient.h"
#include "tools/AdcScript.h"
#include "tools/PanelSim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>

using namespace ostrel::sim;
using namespace std::chrono_literals;

namespace {

TAdcScript Parsed(std::string_view text)
{
  TAdcScript script;
  std::string error;
  EXPECT_TRUE(ParseAdcScript(text, script, error)) << error;
  return script;
}

// The next n readings of a channel, all at one moment.
std::vector<int> Next(TAdcPlayer& player, int channel, int n, TAdcPlayer::TClock::time_point at = {})
{
  std::vector<int> values;
  for (int i = 0; i < n; ++i) values.push_back(player.Reading(channel, at).value_or(-1));
  return values;
}

}  // namespace

TEST(AdcScript, ParsesLevelsUnitsAndDirectives)
{
  const TAdcScript script = Parsed("# a loop opened and closed\n"
                                   "loop\n"
                                   "seed 42\n"
                                   "1 120 2s\n"
                                   "1 600 1500ms 8   # some noise\n"
                                   "\n"
                                   "2 900 10r\r\n"
                                   "2 0 250\n");
  EXPECT_TRUE(script.Loop);
  EXPECT_EQ(script.Seed, 42u);
  using U = TAdcLevel::EUnit;
  EXPECT_EQ(script.Levels[0], (std::vector<TAdcLevel>{{120, 2000, U::Ms, 0}, {600, 1500, U::Ms, 8}}));
  EXPECT_EQ(script.Levels[1], (std::vector<TAdcLevel>{{900, 10, U::Requests, 0}, {0, 250, U::Ms, 0}}));
}

TEST(AdcScript, RefusesABadLineNamingIt)
{
  struct
  {
    const char* Text;
    const char* Why;
  } const cases[] = {
      {"3 100 1s", "channel must be 1 or 2"},
      {"1 1024 1s", "value must be 0..1023"},
      {"1 -1 1s", "value must be 0..1023"},
      {"1 100 0s", "duration must be"},
      {"1 100 1h", "duration must be"},
      {"1 100", "expected CHANNEL VALUE DURATION"},
      {"1 100 1s 5 6", "expected CHANNEL VALUE DURATION"},
      {"1 100 1s 2000", "noise must be 0..1023"},
      {"loop 2", "takes nothing after it"},
      {"seed x", "expected seed N"},
  };
  for (const auto& c : cases) {
    TAdcScript script;
    script.Seed = 77;
    std::string error;
    EXPECT_FALSE(ParseAdcScript(std::string("hold\n") + c.Text + "\n", script, error)) << c.Text;
    EXPECT_NE(error.find("line 2: "), std::string::npos) << error;
    EXPECT_NE(error.find(c.Why), std::string::npos) << c.Text << ": " << error;
    EXPECT_EQ(script.Seed, 77u) << "a refused script changes nothing";
  }
}

TEST(AdcPlayer, CountedLevelsHoldOrLoop)
{
  TAdcPlayer hold(Parsed("1 100 2r\n1 200 3r\n"));
  EXPECT_EQ(Next(hold, 0, 7), (std::vector<int>{100, 100, 200, 200, 200, 200, 200}));
  EXPECT_EQ(hold.Reading(1, {}), std::nullopt) << "no levels: the state's own reading";

  TAdcPlayer loop(Parsed("loop\n1 100 2r\n1 200 1r\n"));
  EXPECT_EQ(Next(loop, 0, 7), (std::vector<int>{100, 100, 200, 100, 100, 200, 100}));
}

TEST(AdcPlayer, TimedLevelsFollowTheClockFromTheFirstRequest)
{
  TAdcPlayer player(Parsed("loop\n1 100 1s\n1 200 500ms\n2 700 10r\n"));
  const TAdcPlayer::TClock::time_point t0{1000s};
  // The first request of either channel starts the time lines.
  EXPECT_EQ(player.Reading(1, t0), 700);
  struct
  {
    std::chrono::milliseconds At;
    int Value;
  } const cases[] = {{0ms, 100}, {999ms, 100}, {1000ms, 200}, {1499ms, 200}, {1500ms, 100}, {4600ms, 100}, {5600ms, 200}};
  for (const auto& c : cases) EXPECT_EQ(player.Reading(0, t0 + c.At), c.Value) << c.At.count();
}

TEST(AdcPlayer, NoiseStaysWithinItsBoundsAndItsSeedRepeatsIt)
{
  const char* text = "seed 9\n1 5 1000r 20\n2 1020 1000r 20\n";
  TAdcPlayer a(Parsed(text)), b(Parsed(text));
  const std::vector<int> low = Next(a, 0, 200), high = Next(a, 1, 200);
  EXPECT_EQ(low, Next(b, 0, 200));
  for (int v : low) EXPECT_TRUE(v >= 0 && v <= 25) << v;
  for (int v : high) EXPECT_TRUE(v >= 1000 && v <= 1023) << v;
  EXPECT_GT(std::set<int>(low.begin(), low.end()).size(), 5u) << "the readings do vary";
}

TEST(AdcScript, ThePanelAnswersTheScriptedReadings)
{
  TPanelSim panel;
  panel.SetAdcScript(Parsed("1 291 1r\n1 100 5r\n"));
  panel.Start();
  test::TSimClient client(panel.SlavePath());
  EXPECT_EQ(client.Exchange("+c=0"), "+c=0\r123\rOK\r\n");
  EXPECT_EQ(client.Exchange("+c=0"), "+c=0\r064\rOK\r\n");
  // The other channel keeps the state's reading.
  EXPECT_EQ(client.Exchange("+c=1"), "+c=1\r1FF\rOK\r\n");
  EXPECT_EQ(panel.State().Adc[0].Reading, 100);
}
