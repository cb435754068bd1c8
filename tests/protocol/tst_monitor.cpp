// The ADC monitor (link mode 7) against the panel simulator, through the real
// link and port code in virtual time: the monitor runs on a thread of its own
// as the link loop would run it, the test drains its output meanwhile.
#include <poll.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <numeric>
#include <thread>

#include "model/AdcStates.h"
#include "tests/common/WholeCommands.h"
#include "tests/protocol/ExchangeRig.h"
#include "tools/PanelSim.h"

using ostrel::sim::EFault;
using ostrel::sim::TFault;
using ostrel::sim::TPanelSim;
using ostrel::sim::TPanelState;

namespace {

struct TReading {
  uint32_t TimeMs;
  int Channel;
  std::optional<int> Value;
};

// What the monitor posted, drained while it runs.
struct TSeen {
  std::vector<TReading> Readings;
  std::vector<TOutput::TLine> Memo;
  std::vector<TOperationResult> Results;
  int GoodLines = 0;  // "good=" control texts
};

class Monitor : public ::testing::Test {
 protected:
  Monitor() {
    TPanelState state;
    state.Adc[0].Reading = 0x123;
    state.Adc[1].Reading = 0x3FF;
    panel.SetState(state);
    panel.Start();
  }
  ~Monitor() override {
    rig.link.Terminate();
    if (runner.joinable()) runner.join();
    panel.Stop();
  }

  // Starts the monitor as the link loop would: mode 7, then Step(7).
  void Start(uint8_t channels = TDevOstrel::kBothChannels) {
    rig.device.SetMonitorChannels(channels);
    rig.link.SetMode(Modes::Monitor);
    runner = std::thread([this] { rig.device.Step(Modes::Monitor); });
  }
  // Drains the queue until until() holds (or the monitor has ended and the
  // queue is empty); a real-time guard only against a hang.
  void DrainUntil(const std::function<bool()>& until) {
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
      Take();
      if (until() || !seen.Results.empty() || std::chrono::steady_clock::now() > guard) return;
      rig.queue.ClearReady();
      if (rig.queue.HasPending() != 0) continue;
      pollfd ready{rig.queue.ReadyFd(), POLLIN, 0};
      poll(&ready, 1, 1000);
    }
  }
  void DrainReadings(size_t n) {
    DrainUntil([&] { return seen.Readings.size() >= n; });
  }
  // Waits for the monitor's end and takes the rest.
  void Finish() {
    runner.join();
    Take();
  }
  void Take() {
    TOutElement* e = nullptr;
    while (rig.queue.Pop(e) != 0) {
      if (e->Kind == okReading) {
        const auto* r = static_cast<TReadingOut*>(e);
        seen.Readings.push_back({r->TimeMs, r->Channel, r->Value});
      } else if (e->Kind == okMemo) {
        const auto* m = static_cast<TMemoOut*>(e);
        seen.Memo.push_back({m->Text, m->ShowInMemo});
      } else if (e->Kind == okControlText && static_cast<TControlOut*>(e)->Control == Targets::Memo1) {
        ++seen.GoodLines;
      } else if (e->Kind == okResult) {
        seen.Results.push_back(static_cast<TResultOut*>(e)->Result);
      }
    }
  }
  std::vector<std::string> ShownLines() const {
    std::vector<std::string> lines;
    for (const auto& line : seen.Memo)
      if (line.Shown) lines.push_back(line.Text);
    return lines;
  }

  TPanelSim panel;
  TRig rig{panel.SlavePath(), panel};
  std::thread runner;
  TSeen seen;
};

}  // namespace

TEST_F(Monitor, PollsBothChannelsInTurnUntilAskedToIdle) {
  Start();
  DrainReadings(10);
  rig.link.SetMode(0);
  Finish();

  ASSERT_GE(seen.Readings.size(), 10u);
  for (size_t i = 0; i < seen.Readings.size(); ++i) {
    const TReading& r = seen.Readings[i];
    EXPECT_EQ(r.Channel, int(i % 2));
    EXPECT_EQ(r.Value, r.Channel == 0 ? 0x123 : 0x3FF);
    if (i > 0) {
      EXPECT_GE(r.TimeMs - seen.Readings[i - 1].TimeMs, 1u) << "readings take time, in order";
    }
  }
  const std::vector<std::string> commands = panel.Commands();
  ASSERT_EQ(commands.size(), seen.Readings.size());
  for (size_t i = 0; i < commands.size(); ++i) EXPECT_EQ(commands[i], i % 2 == 0 ? "+c=0" : "+c=1");
  ASSERT_EQ(seen.Results.size(), 1u);
  EXPECT_EQ(seen.Results[0].Mode, Modes::Monitor);
  EXPECT_EQ(seen.Results[0].Outcome, TOutcome::Success);
  EXPECT_EQ(ResultMessage(seen.Results[0]), "");
  EXPECT_EQ(rig.link.GetMode(), 0);
  ExpectWholeCommands(panel);
}

TEST_F(Monitor, OneChannelAlone) {
  Start(2);
  DrainReadings(4);
  rig.link.SetMode(0);
  Finish();
  for (const TReading& r : seen.Readings) EXPECT_EQ(r.Channel, 1);
  for (const std::string& c : panel.Commands()) EXPECT_EQ(c, "+c=1");
}

// A round of the chosen channels starts every kMonitorRoundMs of the link
// clock, one channel or both. A reading is stamped when its answer is in,
// and answers take their own (virtual) time, so each channel's stamps may
// stray from the rounds by up to one answer's length (kSpread): over the
// run they lie a round apart, never the exchange's own pace, and no slower
// than 10 readings a second.
TEST_F(Monitor, ReadingsComeAtTheRoundsPace) {
  constexpr uint32_t kSpread = 50;
  for (const uint8_t channels : {uint8_t{1}, TDevOstrel::kBothChannels}) {
    SCOPED_TRACE(int(channels));
    seen = TSeen();
    Start(channels);
    DrainReadings(channels == 1 ? 12 : 24);
    rig.link.SetMode(0);
    Finish();
    std::map<int, std::vector<uint32_t>> times;
    for (const TReading& r : seen.Readings) times[r.Channel].push_back(r.TimeMs);
    ASSERT_EQ(times.size(), size_t(channels == 1 ? 1 : 2));
    for (const auto& [channel, t] : times) {
      ASSERT_GE(t.size(), 10u);
      const uint32_t span = t.back() - t.front();
      const uint32_t rounds = uint32_t(t.size() - 1);
      EXPECT_GE(span + kSpread, rounds * TDevOstrel::kMonitorRoundMs) << "channel " << channel;
      EXPECT_LE(span, rounds * 100) << "channel " << channel;
      for (size_t i = 1; i < t.size(); ++i)
        EXPECT_GE(t[i] - t[i - 1] + kSpread, TDevOstrel::kMonitorRoundMs) << "channel " << channel << " reading " << i;
    }
  }
}

// The traffic goes to the debug log only; the memo gets the summary.
TEST_F(Monitor, TrafficStaysOutOfTheMemoAndASummaryEndsIt) {
  Start();
  DrainReadings(6);
  rig.link.SetMode(0);
  Finish();
  EXPECT_EQ(seen.GoodLines, 0);
  ASSERT_EQ(ShownLines().size(), 1u);
  EXPECT_NE(ShownLines()[0].find("АЦП"), std::string::npos);
  EXPECT_NE(ShownLines()[0].find("без ответа 0"), std::string::npos);
  EXPECT_TRUE(std::any_of(seen.Memo.begin(), seen.Memo.end(),
                          [](const auto& l) { return !l.Shown && l.Text == "-> +c=0"; }));
  // Afterwards a read's traffic is shown again.
  std::string reply;
  rig.link.SendCommand("+c=0", reply, 1, 4500, "OK", true);
  Take();
  EXPECT_TRUE(seen.Memo.back().Shown);
  EXPECT_EQ(seen.GoodLines, 1);
}

TEST_F(Monitor, OneSummaryLineAMinute) {
  Start();
  DrainReadings(4);
  // Half a minute, then more than a minute, of the link clock.
  rig.clock.Advance(30'000);
  DrainReadings(8);
  rig.clock.Advance(31'000);
  DrainUntil([&] { return ShownLines().size() >= 1; });
  const size_t atMinute = seen.Readings.size();
  DrainReadings(atMinute + 4);
  rig.link.SetMode(0);
  Finish();
  const std::vector<std::string> lines = ShownLines();
  ASSERT_EQ(lines.size(), 2u) << "one at the minute, one at the end";
}

// A failed request is a failed reading, never a value, and the monitor goes on.
struct TFailureCase {
  const char* Name;
  EFault Kind;
  const char* Reply;
};

class MonitorFailures : public Monitor, public ::testing::WithParamInterface<TFailureCase> {};

TEST_P(MonitorFailures, AreReadingsWithoutValue) {
  const TFailureCase& c = GetParam();
  panel.AddFault(TFault{"+c=1", c.Kind, true, 1, c.Reply});
  Start();
  DrainReadings(8);
  rig.link.SetMode(0);
  Finish();
  ASSERT_GE(seen.Readings.size(), 8u);
  int failed = 0;
  for (size_t i = 0; i < seen.Readings.size(); ++i) {
    const TReading& r = seen.Readings[i];
    // The second request of channel 2 fails.
    if (i == 3) {
      EXPECT_EQ(r.Channel, 1);
      EXPECT_FALSE(r.Value.has_value());
      ++failed;
    } else {
      EXPECT_EQ(r.Value, r.Channel == 0 ? 0x123 : 0x3FF) << i;
    }
  }
  EXPECT_EQ(failed, 1);
  ASSERT_EQ(seen.Results.size(), 1u);
  EXPECT_EQ(seen.Results[0].Outcome, TOutcome::Success);
  EXPECT_NE(ShownLines().back().find("без ответа 1"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Faults, MonitorFailures,
                         ::testing::Values(TFailureCase{"silence", EFault::Silence, ""},
                                           TFailureCase{"no_ok", EFault::NoOk, ""},
                                           TFailureCase{"error", EFault::Error, ""},
                                           TFailureCase{"refused", EFault::Refuse, ""},
                                           TFailureCase{"not_a_reading", EFault::Reply, "+c=1\rXYZ\rOK\r\n"},
                                           TFailureCase{"above_scale", EFault::Reply, "+c=1\r400\rOK\r\n"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Monitor, AnotherOperationTakesOverBetweenTwoRequests) {
  Start();
  DrainReadings(5);
  rig.link.SetMode(Modes::ReadPage);
  Finish();
  EXPECT_EQ(rig.link.GetMode(), Modes::ReadPage) << "the operation asked for runs next";
  ASSERT_EQ(seen.Results.size(), 1u);
  EXPECT_EQ(seen.Results[0].Outcome, TOutcome::Success);
  EXPECT_EQ(panel.Commands().size(), seen.Readings.size());
  ExpectWholeCommands(panel);
}

TEST_F(Monitor, AStopEndsItWithNoCommandCut) {
  // Stop while a command is going out.
  panel.SetCommandHandler([this](const std::string&) {
    if (panel.Commands().size() == 7) rig.link.Terminate();
  });
  Start();
  Finish();
  ASSERT_EQ(seen.Results.size(), 1u);
  EXPECT_EQ(seen.Results[0].Outcome, TOutcome::Interrupted);
  EXPECT_LE(seen.Readings.size(), 7u);
  ExpectWholeCommands(panel);
}

TEST_F(Monitor, ALostLineEndsItWithTheLinksOwnLine) {
  Start();
  DrainReadings(4);
  panel.CloseLine();
  Finish();
  ASSERT_EQ(seen.Results.size(), 1u);
  EXPECT_EQ(seen.Results[0].Outcome, TOutcome::LinkLost);
  EXPECT_FALSE(seen.Results[0].Detail.empty());
  EXPECT_NE(seen.Results[0].Detail.find(" # !!! "), std::string::npos);
  // Whatever came after the line went is a failure, never a value.
  for (size_t i = 4; i < seen.Readings.size(); ++i) EXPECT_FALSE(seen.Readings[i].Value.has_value());
  EXPECT_EQ(rig.link.GetMode(), 0);
}

TEST(AdcStates, AReadingIsInTheStateOfTheHighestThresholdBelowIt) {
  const AdcStates::TThresholds rising{100, 300, 500, 700, 900};
  struct {
    int Reading;
    std::optional<int> State;
  } const cases[] = {{0, std::nullopt}, {99, std::nullopt}, {100, 0}, {299, 0}, {300, 1}, {500, 2},
                     {699, 2},          {700, 3},           {899, 3},  {900, 4}, {1023, 4}};
  for (const auto& c : cases) EXPECT_EQ(AdcStates::StateOf(c.Reading, rising), c.State) << c.Reading;
  // Equal thresholds: the higher state begins there.
  EXPECT_EQ(AdcStates::StateOf(300, {0, 300, 300, 700, 900}), 2);
  // Falling thresholds, as a panel may hold them: the nearest one below.
  EXPECT_EQ(AdcStates::StateOf(600, {900, 700, 500, 300, 100}), 2);
  EXPECT_EQ(AdcStates::StateOf(50, {900, 700, 500, 300, 100}), std::nullopt);
  EXPECT_STREQ(AdcStates::Name(0), "КЗ");
  EXPECT_STREQ(AdcStates::Name(4), "Оба разомкнуты");
}
