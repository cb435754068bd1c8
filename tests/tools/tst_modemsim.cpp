// The GSM modem simulator: the dialogue the link thread holds with it, and the panel behind it.

#include "tests/tools/SimClient.h"
#include "tools/ModemSim.h"

#include <gtest/gtest.h>

#include <thread>

using namespace ostrel::sim;
using ostrel::sim::test::TSimClient;

namespace {

class ModemSimTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    Modem.SetCpin(ECpin::Never, 1000);
    Modem.Start();
    ASSERT_TRUE(Client.IsOpen());
  }

  // The dial reply has no line end: it comes in one write, so read until it (or for a moment when
  // none is expected) and take what came.
  std::string Dial(const char* number, const std::string& expected = "CONNECT 9600")
  {
    Client.Send(std::string("ATD ") + number + "\r");
    return expected.empty() ? Client.ReadFor(100) : Client.ReadUntil(expected, 1000);
  }

  TModemSim Modem;
  TSimClient Client{Modem.SlavePath()};
};

TEST_F(ModemSimTest, DataCallHappyPath)
{
  EXPECT_EQ(Client.Exchange("AT+CREG?"), "AT+CREG?\r\r\n+CREG: 0,1\r\n\r\nOK\r\n");
  EXPECT_EQ(Client.Exchange("ATZ"), "ATZ\r\r\nOK\r\n");
  EXPECT_EQ(Client.Exchange("AT+CBST=7,0,1"), "AT+CBST=7,0,1\r\r\nOK\r\n");
  EXPECT_EQ(Client.Exchange("AT"), "AT\r\r\nOK\r\n");
  EXPECT_EQ(Dial("89161234567"), "CONNECT 9600");
  EXPECT_TRUE(Modem.IsDataMode());

  // The panel answers behind the call, with its own framing.
  EXPECT_EQ(Client.Exchange("+v"), "+v\rOstrel GSM VER 05.01\rOK\r\n");
  EXPECT_EQ(Client.Exchange("+wh=3"), "+wh=3\rOK\r\n");
  EXPECT_EQ(Modem.State().Ring, 3);

  // Escape without a carriage return, then hang up.
  Client.Send("+++");
  EXPECT_EQ(Client.ReadUntil("OK\r\n", 1000), "\r\nOK\r\n");
  EXPECT_FALSE(Modem.IsDataMode());
  EXPECT_TRUE(Modem.IsCallUp());
  EXPECT_EQ(Client.Exchange("ATH"), "ATH\r\r\nOK\r\n");
  EXPECT_FALSE(Modem.IsCallUp());

  EXPECT_EQ(Modem.ModemCommands(), (std::vector<std::string>{"AT+CREG?", "ATZ", "AT+CBST=7,0,1", "AT",
                                                              "ATD 89161234567", "+++", "ATH"}));
  EXPECT_EQ(Modem.Commands(), (std::vector<std::string>{"+v", "+wh=3"}));
}

TEST_F(ModemSimTest, FailedDialsLeaveTheModemInCommandMode)
{
  for (const char* reply : {"NO CARIER", "BUSY", ""}) {
    Modem.SetDialReply(reply);
    EXPECT_EQ(Dial("123", reply), reply);
    EXPECT_FALSE(Modem.IsCallUp()) << reply;
    EXPECT_EQ(Client.Exchange("AT"), "AT\r\r\nOK\r\n") << reply;
  }
}

TEST_F(ModemSimTest, DialDelay)
{
  Modem.SetDialDelay(300);
  Client.Send("ATD 1\r");
  EXPECT_EQ(Client.ReadFor(150), "");
  EXPECT_EQ(Client.ReadUntil("9600", 1000), "CONNECT 9600");
}

TEST_F(ModemSimTest, ConfiguredOutcomesHoldEveryTime)
{
  Modem.SetOutcome("at+cbst=7,0,1", EModemOutcome::Error);
  Modem.SetOutcome("ATZ", EModemOutcome::Silence);
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(Client.Exchange("AT+CBST=7,0,1"), "AT+CBST=7,0,1\r\r\nERROR\r\n");
    Client.Send("ATZ\r");
    EXPECT_EQ(Client.ReadFor(100), "");
  }
  EXPECT_EQ(Client.Exchange("AT+XYZ"), "AT+XYZ\r\r\nERROR\r\n");
  Modem.SetCregReply("+CREG:0,1");
  EXPECT_EQ(Client.Exchange("AT+CREG?"), "AT+CREG?\r\r\n+CREG:0,1\r\n\r\nOK\r\n");
}

TEST_F(ModemSimTest, EscapeInCommandModeAndGarbageBeforeAt)
{
  // A hang-up after a call that never came up: "+++" alone, then ATH.
  Client.Send("+++");
  EXPECT_EQ(Client.ReadUntil("OK\r\n", 1000), "\r\nOK\r\n");
  EXPECT_EQ(Client.Exchange("xxATZ"), "xxATZ\r\r\nOK\r\n");
  Client.Send("+v\r");  // not a modem command: ignored
  EXPECT_EQ(Client.ReadFor(100), "");
  EXPECT_EQ(Modem.ModemCommands(), (std::vector<std::string>{"+++", "xxATZ", "+v"}));
  EXPECT_TRUE(Modem.Commands().empty());
}

TEST_F(ModemSimTest, EchoOffAndCardStatusQuery)
{
  EXPECT_EQ(Client.Exchange("ATE0"), "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(Client.Exchange("AT+CPIN?"), "\r\n+CPIN: READY\r\n\r\nOK\r\n");
}

TEST_F(ModemSimTest, FarEndHangsUp)
{
  EXPECT_EQ(Dial("1"), "CONNECT 9600");
  Modem.DropCall();
  EXPECT_EQ(Client.ReadUntil("CARRIER\r\n", 1000), "\r\nNO CARRIER\r\n");
  EXPECT_FALSE(Modem.IsCallUp());
  EXPECT_EQ(Client.Exchange("ATO"), "ATO\r\r\nNO CARRIER\r\n");
}

TEST(ModemSimCpin, RepeatedWhileReadUntilTheFirstCommand)
{
  TModemSim modem;
  modem.SetCpin(ECpin::Repeat, 40);
  modem.Start();
  TSimClient client(modem.SlavePath());
  EXPECT_EQ(client.ReadUntil("READY", 1000), "+CPIN: READY");
  EXPECT_EQ(client.ReadUntil("READY", 1000), "+CPIN: READY");
  // Not read: it is not offered again meanwhile.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(client.Pending(), 12);
  // One more may slip in before the modem sees the command; none after it.
  client.Send("AT\r");
  EXPECT_TRUE(client.ReadUntil("OK\r\n", 1000).ends_with("AT\r\r\nOK\r\n"));
  EXPECT_EQ(client.ReadFor(150), "");
}

TEST(ModemSimCpin, OnceAfterStart)
{
  TModemSim modem;
  modem.SetCpin(ECpin::OnStart, 100);
  modem.Start();
  TSimClient client(modem.SlavePath());
  EXPECT_EQ(client.ReadFor(50), "");
  EXPECT_EQ(client.ReadUntil("READY", 1000), "+CPIN: READY");
  EXPECT_EQ(client.ReadFor(250), "");
}

}  // namespace
