// The panel simulator seen from the program's side of its pseudo-terminal.

#include "tests/tools/SimClient.h"
#include "tools/PanelSim.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using namespace ostrel::sim;
using ostrel::sim::test::TSimClient;

namespace {

class PanelSimTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    Panel.Start();
    ASSERT_TRUE(Client.IsOpen());
  }

  TPanelSim Panel;
  TSimClient Client{Panel.SlavePath()};
};

TEST_F(PanelSimTest, ReplyFraming)
{
  TPanelState state;
  state.Phones[6] = "123";
  Panel.SetState(state);
  // Echo and CR, reply line and CR, then OK: the reply line sits between the first two CRs.
  EXPECT_EQ(Client.Exchange("+rt07"), "+rt07\r+rt07123\rOK\r\n");
  EXPECT_EQ(Client.Exchange("+v"), "+v\rOstrel GSM VER 05.01\rOK\r\n");
  EXPECT_EQ(Client.Exchange("+wg=1"), "+wg=1\rOK\r\n");
  EXPECT_EQ(Client.Exchange("+x"), "+x\rERROR\r\n");
  // Line feeds and null bytes are skipped, empty lines ignored.
  Client.Send("\n\r+");
  Client.Send(std::string("r\0g", 3));
  EXPECT_EQ(Client.Exchange(""), "+rg\r+rg1\rOK\r\n");
}

TEST_F(PanelSimTest, VersionTextIsConfigurable)
{
  Panel.SetVersionText("Ostrel GSM VER 04.00");
  EXPECT_EQ(Client.Exchange("+v"), "+v\rOstrel GSM VER 04.00\rOK\r\n");
}

struct TWriteReadCase
{
  const char* Name;
  const char* Write;
  const char* Read;
  const char* ReplyLine;
  std::function<bool(const TPanelState&)> Stored;
};

class PanelSimWriteRead : public PanelSimTest, public ::testing::WithParamInterface<TWriteReadCase>
{
};

TEST_P(PanelSimWriteRead, WriteThenReadBack)
{
  const auto& row = GetParam();
  EXPECT_EQ(Client.Exchange(row.Write), std::string(row.Write) + "\rOK\r\n");
  EXPECT_TRUE(row.Stored(Panel.State()));
  EXPECT_EQ(Client.Exchange(row.Read), std::string(row.Read) + "\r" + row.ReplyLine + "\rOK\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Groups, PanelSimWriteRead,
    ::testing::Values(
        TWriteReadCase{"phone", "+wt07=+7 916 123-45-67", "+rt07", "+rt07+7 916 123-45-67",
                       [](const TPanelState& s) { return s.Phones[6] == "+7 916 123-45-67"; }},
        TWriteReadCase{"empty_phone", "+wt12=", "+rt12", "+rt12", [](const TPanelState& s) { return s.Phones[11].empty(); }},
        TWriteReadCase{"flags", "+wq05=101", "+rq05", "+rq05101", [](const TPanelState& s) { return s.Flags[4] == "101"; }},
        TWriteReadCase{"delays", "+wp=1E0A10", "+rp", "+rp1E0A10",
                       [](const TPanelState& s) {
                         return s.EntryDelay == 30 && s.ExitDelay == 10 && s.FastArming && !s.WaitSend;
                       }},
        TWriteReadCase{"delays_small_hex", "+wp=ff0001", "+rp", "+rpFF0001",
                       [](const TPanelState& s) { return s.EntryDelay == 255 && s.ExitDelay == 0 && s.WaitSend; }},
        TWriteReadCase{"key_in_wire_order", "+wk9=EFCDAB8967452301", "+rk9", "+rk9EFCDAB8967452301",
                       [](const TPanelState& s) { return s.Keys[9] == "EFCDAB8967452301"; }},
        TWriteReadCase{"gsm_module", "+wg=2", "+rg", "+rg2", [](const TPanelState& s) { return s.GsmModule == 2; }},
        TWriteReadCase{"ring", "+wh=6", "+rh", "+rh6", [](const TPanelState& s) { return s.Ring == 6; }},
        TWriteReadCase{"threshold_ch2", "+it14=3FF", "+it14", "3FF",
                       [](const TPanelState& s) { return s.Adc[1].Thresholds[4] == 1023; }},
        TWriteReadCase{"threshold_ch1", "+it00=064", "+it00", "064",
                       [](const TPanelState& s) { return s.Adc[0].Thresholds[0] == 100; }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PanelSimTest, AdcReadingsAnswerAsHex)
{
  TPanelState state;
  state.Adc[0].Reading = 511;
  state.Adc[1].Reading = 5;
  Panel.SetState(state);
  EXPECT_EQ(Client.Exchange("+c=0"), "+c=0\r1FF\rOK\r\n");
  EXPECT_EQ(Client.Exchange("+c=1"), "+c=1\r005\rOK\r\n");
}

TEST_F(PanelSimTest, MalformedCommandsAnswerErrorAndChangeNothing)
{
  const TPanelState before = Panel.State();
  for (const char* command :
       {"+rt00", "+rt13", "+rt7", "+wt13=1", "+wt01=\x01", "+wq01=10", "+wq01=1010", "+wp=GG0000",
        "+wp=1E0A12", "+wp=1E0A1", "+wk0=0123", "+wk0=0123456789ABCDEG", "+rk10", "+wg=3", "+wh=0",
        "+wh=7", "+it05", "+it20", "+it00=400", "+it00=3F", "+c=2", "+rg1", "+V", "rt01"}) {
    EXPECT_EQ(Client.Exchange(command), std::string(command) + "\rERROR\r\n") << command;
  }
  EXPECT_EQ(Panel.State(), before);
}

TEST_F(PanelSimTest, OverlongCommandIsRefused)
{
  const std::string command = "+wt01=" + std::string(400, '1');
  const std::string reply = Client.Exchange(command);
  EXPECT_TRUE(reply.ends_with("\rERROR\r\n"));
  EXPECT_TRUE(Panel.State().Phones[0].empty());
}

TEST_F(PanelSimTest, RecordsEveryCommand)
{
  Panel.AddFault({"+rk", EFault::Silence, false});
  Client.Send("+v\r+rk0\r+wg=1\r");
  ASSERT_TRUE(Panel.WaitForCommands(3, 2000));
  EXPECT_EQ(Panel.Commands(), (std::vector<std::string>{"+v", "+rk0", "+wg=1"}));
  Panel.ClearCommands();
  EXPECT_TRUE(Panel.Commands().empty());
  EXPECT_FALSE(Panel.WaitForCommands(1, 50));
}

TEST_F(PanelSimTest, StateChangedHandlerSeesEachWrite)
{
  std::atomic<int> calls{0};
  std::atomic<int> ring{0};
  Panel.SetStateChangedHandler([&](const TPanelState& s) {
    ring = s.Ring;
    ++calls;
  });
  Client.Exchange("+rh");
  EXPECT_EQ(calls, 0);
  // The handler runs before the reply goes out, so the saved state is never behind the "OK".
  Client.Exchange("+wh=5");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ring, 5);
}

// Faults on "+rt01" with phone "1": the exact bytes the program then sees.
struct TFaultCase
{
  const char* Name;
  EFault Kind;
  const char* Reply;
};

class PanelSimFault : public PanelSimTest, public ::testing::WithParamInterface<TFaultCase>
{
protected:
  void SetUp() override
  {
    PanelSimTest::SetUp();
    TPanelState state;
    state.Phones[0] = "1";
    Panel.SetState(state);
  }

  // Each reply goes out in one write, so what the first read brings is the whole reply; a stray
  // remainder would show up in the next exchange.
  std::string Ask(const char* command, const std::string& expected)
  {
    Client.Send(std::string(command) + "\r");
    return expected.empty() ? Client.ReadFor(100) : Client.ReadUntil(expected, 1000);
  }
};

TEST_P(PanelSimFault, OnceThenNormal)
{
  const std::string reply = GetParam().Reply;
  Panel.AddFault({"+rt01", GetParam().Kind, true});
  EXPECT_EQ(Ask("+rt01", reply), reply);
  EXPECT_EQ(Ask("+rt01", "OK\r\n"), "+rt01\r+rt011\rOK\r\n");
  EXPECT_TRUE(Panel.Faults().empty());
}

TEST_P(PanelSimFault, EveryTimeAndOnlyForItsPrefix)
{
  const std::string reply = GetParam().Reply;
  Panel.AddFault({"+rt01", GetParam().Kind, false});
  EXPECT_EQ(Ask("+rt01", reply), reply);
  EXPECT_EQ(Ask("+rt01", reply), reply);
  EXPECT_EQ(Ask("+rt02", "OK\r\n"), "+rt02\r+rt02\rOK\r\n");
}

INSTANTIATE_TEST_SUITE_P(Kinds, PanelSimFault,
                         ::testing::Values(TFaultCase{"silence", EFault::Silence, ""},
                                           TFaultCase{"no_ok", EFault::NoOk, "+rt01\r+rt011\r"},
                                           TFaultCase{"error", EFault::Error, "+rt01\rERROR\r\n"},
                                           TFaultCase{"lower_ok", EFault::LowerOk, "+rt01\r+rt011\rok\r\n"},
                                           TFaultCase{"no_carrier", EFault::NoCarrier, "\r\nNO CARRIER\r\n"},
                                           TFaultCase{"busy", EFault::Busy, "\r\nBUSY\r\n"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PanelSimTest, FaultedWritesAreCarriedOutOnlyWhenAnswered)
{
  Panel.AddFault({"+wg", EFault::Error, true});
  Panel.AddFault({"+wh", EFault::NoOk, true});
  Client.Exchange("+wg=2");
  Client.Send("+wh=4\r");
  Client.ReadUntil("+wh=4\r", 1000);
  ASSERT_TRUE(Panel.WaitForCommands(2, 1000));
  EXPECT_EQ(Panel.State().GsmModule, 0);
  EXPECT_EQ(Panel.State().Ring, 4);
}

TEST_F(PanelSimTest, KeepFaultConfirmsAWriteButKeepsTheOldValue)
{
  Panel.AddFault({"+wh", EFault::Keep, false, 0, ""});
  EXPECT_EQ(Client.Exchange("+wh=4"), "+wh=4\rOK\r\n");
  EXPECT_EQ(Client.Exchange("+wg=2"), "+wg=2\rOK\r\n");
  EXPECT_EQ(Panel.State().Ring, TPanelState().Ring);
  EXPECT_EQ(Panel.State().GsmModule, 2);
  // A malformed command still gets its "ERROR"; a read still answers.
  EXPECT_EQ(Client.Exchange("+wh=x"), "+wh=x\rERROR\r\n");
  const std::string ring = std::to_string(TPanelState().Ring);
  EXPECT_EQ(Client.Exchange("+rh"), "+rh\r+rh" + ring + "\rOK\r\n");
}

TEST_F(PanelSimTest, CloseFaultDropsTheLine)
{
  Panel.AddFault({"+rk4", EFault::CloseLine, true});
  EXPECT_EQ(Client.Exchange("+rk3"), "+rk3\r+rk30000000000000000\rOK\r\n");
  Client.Send("+rk4\r");
  EXPECT_TRUE(Client.WaitHangUp(2000));
  EXPECT_TRUE(Panel.WaitForLineClosed(1000));
  EXPECT_FALSE(Panel.IsLineOpen());
}

TEST_F(PanelSimTest, CloseLineAndUnaskedTextFromAnotherThread)
{
  Panel.SendUnasked("\r\nNO CARRIER\r\n");
  EXPECT_EQ(Client.ReadUntil("NO CARRIER\r\n", 1000), "\r\nNO CARRIER\r\n");
  Panel.CloseLine();
  EXPECT_TRUE(Client.WaitHangUp(2000));
}

TEST_F(PanelSimTest, ReplyDelayHoldsTheReplyBack)
{
  Panel.SetReplyDelay(300);
  Client.Send("+v\r");
  EXPECT_EQ(Client.ReadFor(150), "");
  EXPECT_EQ(Client.ReadUntil("OK\r\n", 1000), "+v\rOstrel GSM VER 05.01\rOK\r\n");
}

TEST_F(PanelSimTest, SentHandlerTimesWhatGoesOnTheLine)
{
  using TSimClock = TSimServer::TClock;
  std::mutex mutex;
  std::vector<TSimClock::time_point> sent;
  Panel.SetSentHandler([&](TSimClock::time_point at) {
    std::lock_guard lock(mutex);
    sent.push_back(at);
  });
  Panel.AddFault({"+rk", EFault::Silence, false});
  Panel.SetReplyDelay(100);
  const auto asked = TSimClock::now();
  Client.Send("+rk0\r+v\r");
  EXPECT_EQ(Client.ReadUntil("OK\r\n", 2000), "+v\rOstrel GSM VER 05.01\rOK\r\n");
  const auto read = TSimClock::now();
  // The handler runs just after the write that the client has already read.
  const auto calls = [&] {
    std::lock_guard lock(mutex);
    return sent.size();
  };
  for (int i = 0; i < 100 && calls() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::lock_guard lock(mutex);
  ASSERT_EQ(sent.size(), 1u);  // nothing for the silenced command
  EXPECT_GE(sent[0] - asked, std::chrono::milliseconds(100));  // when the reply went, after its delay
  EXPECT_LE(sent[0], read);
}

TEST(PanelSimLifecycle, KeepsRepliesForALateReaderAndStopsWhileAReplyIsDue)
{
  TPanelSim panel;
  panel.Start();
  {
    TSimClient client(panel.SlavePath());
    client.Send("+rh\r");
    ASSERT_TRUE(panel.WaitForCommands(1, 1000));
  }
  // The program closing its side neither drops the line nor loses the reply.
  {
    TSimClient client(panel.SlavePath());
    EXPECT_EQ(client.ReadUntil("OK\r\n", 1000), "+rh\r+rh1\rOK\r\n");
  }
  panel.SetReplyDelay(10'000);
  TSimClient client(panel.SlavePath());
  client.Send("+v\r");
  ASSERT_TRUE(panel.WaitForCommands(2, 1000));
  const auto start = std::chrono::steady_clock::now();
  panel.Stop();
  panel.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

struct TFaultTextCase
{
  const char* Text;
  bool Valid;
  TFault Expected;
};

TEST(ParseFault, Texts)
{
  const TFaultTextCase cases[] = {
      {"+rt07:silence", true, {"+rt07", EFault::Silence, false}},
      {"+rk4:no-ok:once", true, {"+rk4", EFault::NoOk, true}},
      {"+wt:lower-ok", true, {"+wt", EFault::LowerOk, false}},
      {"+v:close:once", true, {"+v", EFault::CloseLine, true}},
      {"+rg:no-carrier", true, {"+rg", EFault::NoCarrier, false}},
      {"+wt05:keep:skip=1", true, {"+wt05", EFault::Keep, false, 1, ""}},
      {"silence", false, {}},
      {":silence", false, {}},
      {"+rt07:loud", false, {}},
      {"+rt07:silence:twice", false, {}},
  };
  for (const auto& row : cases) {
    std::string error;
    const auto fault = ParseFault(row.Text, error);
    EXPECT_EQ(fault.has_value(), row.Valid) << row.Text;
    if (fault && row.Valid) {
      EXPECT_EQ(*fault, row.Expected) << row.Text;
    }
    if (!row.Valid) {
      EXPECT_FALSE(error.empty()) << row.Text;
    }
  }
}

}  // namespace
