// The panel device's dispatch, connection check and framing of Read all and
// Write all, through the real link and port code.
#include <gtest/gtest.h>

#include "link/xModem.h"
#include "protocol/DevOstrel.h"
#include "tests/common/Drain.h"
#include "tests/common/FarEnd.h"
#include "tests/common/ScriptedPeer.h"

namespace {

struct TDeviceOnPeer {
  explicit TDeviceOnPeer(std::vector<std::string> script) : peer(std::move(script)) {
    queue.DateTimeText = [] { return std::string("DT"); };
    device.SetLink(&link);
    link.Port().SetDeviceName(peer.Path());
    link.Port().Open();
    StandStillWhileOwed(clock, link, peer);
  }
  TScriptedPeer peer;
  TOutArray queue;
  TDevOstrel device{queue};
  TVirtualClock clock;
  TModem link{"test", "", queue, device, true, &clock};
};

}  // namespace

TEST(Device, ReplyLineAndZeroPad) {
  EXPECT_EQ(TDevOstrel::ReplyLine("+v\rVER 05\rOK"), "VER 05");
  EXPECT_EQ(TDevOstrel::ReplyLine("+v\r\rOK"), "");
  EXPECT_EQ(TDevOstrel::ReplyLine("VER 05\rOK"), "");
  EXPECT_EQ(TDevOstrel::ReplyLine(""), "");
  EXPECT_EQ(TDevOstrel::ZeroPad(7, 2), "07");
  EXPECT_EQ(TDevOstrel::ZeroPad(12, 2), "12");
  EXPECT_EQ(TDevOstrel::ZeroPad(123, 2), "123");
}

struct TCheckCase {
  const char* name;
  std::vector<std::string> script;
  std::vector<std::string> panel2;  // texts for the progress dialog's status panel
  std::vector<std::string> pane2;   // texts for the version status pane
  bool connected;
};

class ConnectionCheck : public ::testing::TestWithParam<TCheckCase> {};

TEST_P(ConnectionCheck, ReportsAndDecides) {
  const TCheckCase& c = GetParam();
  TDeviceOnPeer t(c.script);
  t.link.SetMode(1);
  t.device.Step(1);
  TDrained d = Drain(t.queue);
  EXPECT_EQ(d.TextsFor(Targets::Panel2), c.panel2);
  EXPECT_EQ(d.TextsFor(Targets::RzStatusPane2), c.pane2);
  EXPECT_EQ(t.link.IsTerminated(), !c.connected);
  EXPECT_EQ(d.TextsFor(Targets::Button1).size(), c.connected ? 1u : 0u);
  EXPECT_EQ(t.link.GetMode(), 0);
  // One result ends the check, the outcome agreeing with the dialog.
  ASSERT_EQ(d.Results.size(), 1u);
  EXPECT_EQ(d.Results[0].Mode, 1);
  EXPECT_EQ(d.Results[0].Succeeded(), c.connected);
  if (!c.connected) {
    EXPECT_FALSE(d.Results[0].Detail.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Device, ConnectionCheck,
    ::testing::Values(
        TCheckCase{"good_version",
                   {"+v\rOstrel GSM VER 05.01\rOK\r\n"},
                   {"Идёт проверка версии!", "СОЕДИНЕНИЕ УСТАНОВЛЕНО"},
                   {"Ostrel GSM VER 05.01"},
                   true},
        TCheckCase{"error_in_reply_still_passes",
                   {"+v\rVER 05 ERROR\rOK\r\n"},
                   {"Идёт проверка версии!", "СОЕДИНЕНИЕ УСТАНОВЛЕНО"},
                   {"VER 05 ERROR"},
                   true},
        TCheckCase{"small_letters_fail",
                   {"+v\rver 05\rOK\r\n"},
                   {"Идёт проверка версии!", "ОШИБКА! НЕ верная версия прошивки"},
                   {"ver 05"},
                   false},
        TCheckCase{"fewer_than_two_carriage_returns",
                   {"VER 05 OK"},
                   {"Идёт проверка версии!", "ОШИБКА! НЕ верная версия прошивки"},
                   {""},
                   false},
        TCheckCase{"silent_panel",
                   {"", "", ""},
                   {"Идёт проверка версии!", "ОШИБКА! Устройство не ответило!"},
                   {},
                   false},
        TCheckCase{"link_lost", {"+v\r\nNO CARRIER\r\nOK"}, {"Идёт проверка версии!", "ОШИБКА! Сбой соединения"}, {},
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Device, ModesOutsideTheTableDoNothing) {
  TDeviceOnPeer t({});
  for (uint8_t mode : {2, 8, 255}) {
    t.link.SetMode(mode);
    t.device.Step(mode);
    EXPECT_EQ(t.link.GetMode(), mode);
  }
  EXPECT_EQ(t.queue.HasPending(), 0);
  EXPECT_EQ(t.peer.Received(), "");
}

TEST(Device, OperationsOnThePageDisableTheNavigationAndReturnToIdle) {
  TDeviceOnPeer t({});
  for (uint8_t mode : {3, 4}) {
    t.device.SetPage("");  // no page: nothing to exchange
    t.link.SetMode(mode);
    t.device.Step(mode);
    EXPECT_EQ(t.link.GetMode(), 0);
    TDrained d = Drain(t.queue);
    ASSERT_EQ(d.Persistent.size(), 2u);
    EXPECT_EQ(d.Persistent[0], std::make_pair(Targets::RzGroup2, std::string("false")));
    EXPECT_EQ(d.Persistent[1], std::make_pair(Targets::RzGroup2, std::string("true")));
    EXPECT_TRUE(d.Messages.empty());
    ASSERT_EQ(d.Results.size(), 1u);
    EXPECT_TRUE(d.Results[0].Succeeded());
    EXPECT_EQ(d.Results[0].Settings.Groups, TGroups::None());
  }
}

TEST(Device, TerminatedReadAllStopsWithoutAMessage) {
  TDeviceOnPeer t({});
  t.link.Terminate();
  t.link.SetMode(5);
  t.device.Step(5);
  TDrained d = Drain(t.queue);
  EXPECT_TRUE(d.Messages.empty());
  ASSERT_EQ(d.Results.size(), 1u);
  EXPECT_EQ(d.Results[0].Outcome, TOutcome::Interrupted);
  EXPECT_EQ(t.device.GetPage(), Pages::Common);
  EXPECT_EQ(t.link.GetMode(), 0);
}

TEST(Device, QueryValueOnATerminatedLinkDoesNothing) {
  TDeviceOnPeer t({});
  t.link.Terminate();
  std::string reply = "kept";
  t.device.QueryValue("+c=0", {Pages::ACP, "lbACP1"}, reply, {TReplyForm::Whole});
  EXPECT_EQ(reply, "kept");
  EXPECT_EQ(t.queue.HasPending(), 0);
}

TEST(Device, QueryValueColoursTheLabel) {
  TDeviceOnPeer t({"+c=0\r0123\rOK\r\n", "+c=1\rERROR\r\n"});
  const TTarget label{Pages::ACP, "lbACP1"};
  std::string reply;
  t.device.QueryValue("+c=0", label, reply, {TReplyForm::Whole});
  EXPECT_EQ(reply, "0123");
  t.device.QueryValue("+c=1", label, reply, {TReplyForm::Whole});
  EXPECT_EQ(reply, "");
  std::vector<std::string> colours;
  TOutElement* e = nullptr;
  while (t.queue.Pop(e) != 0)
    if (e->Kind == okControlColor) colours.push_back(static_cast<TControlOut*>(e)->Text);
  EXPECT_EQ(colours, (std::vector<std::string>{"clWindowText", "clBlue", "clWindowText", "clRed"}));
}

// The window may ask for an operation as soon as it sees the check's "Click":
// the check then ends without clearing that operation's mode.
TEST(Device, OperationAskedForDuringTheCheckIsKept) {
  TDeviceOnPeer t({"+v\rOstrel GSM VER 05.01\rOK\r\n"});
  t.link.SetMode(5);
  t.device.Step(1);
  EXPECT_EQ(Drain(t.queue).TextsFor(Targets::Button1).size(), 1u);
  EXPECT_EQ(t.link.GetMode(), 5);
}
