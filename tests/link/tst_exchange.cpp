// The command exchange through the real port code on a pseudo-terminal, with
// long time-outs in virtual time.
#include <gtest/gtest.h>

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "link/xModem.h"
#include "tests/common/Drain.h"
#include "tests/common/FarEnd.h"
#include "tests/common/ScriptedPeer.h"
#include "tests/serial/PtyPair.h"

namespace {

class TNoDevice : public TDevice {
 public:
  void ReadPage() override {}
  void WritePage() override {}
  void ReadAll() override {}
  void WriteAll() override {}
  void Step(uint8_t) override {}
};

const std::string Dated = "DT ";

// A link whose port is open on the peer, driven from the test thread.
struct TLinkOnPeer {
  explicit TLinkOnPeer(std::vector<std::string> script) : peer(std::move(script)) {
    queue.DateTimeText = [] { return std::string("DT"); };
    link.Port().SetDeviceName(peer.Path());
    link.Port().Open();
    StandStillWhileOwed(clock, link, peer);
  }
  TScriptedPeer peer;
  TOutArray queue;
  TNoDevice device;
  TVirtualClock clock;
  TModem link{"test", "", queue, device, false, &clock};
};

// Waits, for as long as a loaded machine may need, until the port holds n
// bytes that the peer sent unasked.
bool WaitQueued(TModem& link, uint32_t n) {
  for (int i = 0; i < 30000 && link.Port().QueueCount(0) < n; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return link.Port().QueueCount(0) >= n;
}

}  // namespace

TEST(FilterPhone, KeepsWhatAModemDials) {
  const std::pair<const char*, const char*> cases[] = {
      {"+1 (2) 3-4", "+1234"}, {"   \t ", ""},         {"8-9-W-1", "89W1"},
      {"+7,1;2", "+7,1;2"},    {"8w123", "8w123"},     {"", ""},
      {" 12 ", "12"},          {"abc", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(FilterPhone(in), out) << in;
}

struct TSendCase {
  const char* name;
  std::vector<std::string> script;  // the peer's reply to each attempt
  int attempts;
  std::string expected;
  bool failOnMismatch;
  uint8_t result;
  std::vector<std::string> memo;  // memo lines (dated ones start with "DT ")
  int goodLines;
};

class SendCommandTable : public ::testing::TestWithParam<TSendCase> {};

TEST_P(SendCommandTable, LogsAndDecides) {
  const TSendCase& c = GetParam();
  TLinkOnPeer t(c.script);
  std::string reply;
  EXPECT_EQ(t.link.SendCommand("+v", reply, c.attempts, 4500, c.expected, c.failOnMismatch), c.result);
  TDrained d = Drain(t.queue);
  EXPECT_EQ(d.MemoTexts(), c.memo);
  EXPECT_EQ(static_cast<int>(d.TextsFor(Targets::Memo1).size()), c.goodLines);
  // One command went out per attempt made, and each attempt logged its reply.
  const auto attemptsMade = std::count_if(c.memo.begin(), c.memo.end(),
                                          [](const std::string& line) { return line.rfind(" <<- ", 0) == 0; });
  EXPECT_EQ(t.peer.Commands().size(), static_cast<size_t>(attemptsMade));
  EXPECT_FALSE(t.link.IsTerminated());
}

INSTANTIATE_TEST_SUITE_P(
    Exchange, SendCommandTable,
    ::testing::Values(
        TSendCase{"reply-with-ok", {"+v\rVER 05\rOK\r\n"}, 3, "OK", false, 0,
                  {"-> +v", "DT  # Попытка № 1", " <<- +v\rVER 05\rOK\r\n"}, 1},
        TSendCase{"lower-case-ok", {"+v\rx\rok"}, 1, "OK", true, 0, {"-> +v", " <<- +v\rx\rok"}, 1},
        TSendCase{"ok-inside-a-word", {"+v\rBOOKED"}, 1, "OK", true, 0, {"-> +v", " <<- +v\rBOOKED"}, 1},
        TSendCase{"mismatch-counts-as-success",
                  {"ERR", "ERR", "ERR"},
                  3,
                  "OK",
                  false,
                  0,
                  {"-> +v", "DT  # Попытка № 1", " <<- ERR", " <- ERR", "DT  # Попытка № 2", " <<- ERR", " <- ERR",
                   "DT  # Попытка № 3", " <<- ERR", " <- ERR"},
                  0},
        TSendCase{"mismatch-fails-when-asked",
                  {"ERR", "ERR", "ERR"},
                  3,
                  "OK",
                  true,
                  1,
                  {"-> +v", "DT  # Попытка № 1", " <<- ERR", " <- ERR", "DT  # Попытка № 2", " <<- ERR", " <- ERR",
                   "DT  # Попытка № 3", " <<- ERR", " <- ERR"},
                  0},
        TSendCase{"err-then-silence-then-ok",
                  {"ERR", "", "OK"},
                  3,
                  "OK",
                  true,
                  0,
                  {"-> +v", "DT  # Попытка № 1", " <<- ERR", " <- ERR", "DT  # Попытка № 2", " <<- ",
                   "DT  # Попытка № 3", " <<- OK"},
                  1},
        TSendCase{"silence-fails", {"", ""}, 2, "OK", false, 1,
                  {"-> +v", "DT  # Попытка № 1", " <<- ", "DT  # Попытка № 2", " <<- "}, 0},
        TSendCase{"empty-expected-waits-for-a-carriage-return", {"+v\r"}, 1, "", true, 0,
                  {"-> +v", " <<- +v\r"}, 1},
        TSendCase{"null-bytes-left-out", {std::string("O\0K", 3)}, 1, "OK", true, 0, {"-> +v", " <<- OK"}, 1}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (ch == '-') ch = '_';
      return name;
    });

TEST(Exchange, ReplyHoldsEverythingOfTheLastAttempt) {
  TLinkOnPeer t({"ERR", "+v\rVER 05\rOK\r\n"});
  std::string reply;
  ASSERT_EQ(t.link.SendCommand("+v", reply, 3, 4500, "OK", false), 0);
  EXPECT_EQ(reply, "+v\rVER 05\rOK\r\n");
}

TEST(Exchange, TerminatedLinkLogsTheCommandButSendsNothing) {
  TLinkOnPeer t({"OK"});
  t.link.Terminate();
  std::string reply = "old";
  EXPECT_EQ(t.link.SendCommand("+v", reply, 3, 4500, "OK", false), 1);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(Drain(t.queue).MemoTexts(), std::vector<std::string>{"-> +v"});
  EXPECT_EQ(t.peer.Received(), "");
}

TEST(Exchange, ClosedPortFailsSilently) {
  TLinkOnPeer t({});
  t.link.Port().Close();
  std::string reply;
  EXPECT_EQ(t.link.SendCommand("+v", reply, 3, 4500, "OK", false), 1);
  EXPECT_TRUE(Drain(t.queue).Memo.empty());
}

TEST(Exchange, NoAttemptsMeansFailure) {
  TLinkOnPeer t({});
  std::string reply;
  EXPECT_EQ(t.link.SendCommand("+v", reply, 0, 4500, "OK", false), 1);
  EXPECT_EQ(t.peer.Received(), "");
}

TEST(Exchange, RawCommandGoesOutWithoutCarriageReturn) {
  TLinkOnPeer t({});
  std::string reply;
  t.link.SendCommand("+++", reply, 1, 300, "OK", false, true);
  EXPECT_EQ(t.peer.Received(), "+++");
}

TEST(Exchange, TimeOutLastsAtLeastItsLength) {
  TLinkOnPeer t({""});
  const uint32_t start = t.clock.NowMs();
  std::string reply;
  t.link.SendCommand("+v", reply, 1, 4500, "OK", false);
  const uint32_t elapsed = t.clock.NowMs() - start;
  EXPECT_GE(elapsed, 4500u);
  EXPECT_LE(elapsed, 4600u);
}

TEST(Exchange, EachCharacterTakesOneMillisecondOfItsOwn) {
  TLinkOnPeer t({});
  const uint32_t start = t.clock.NowMs();
  t.link.SendText("+rt07\r");
  EXPECT_EQ(t.clock.NowMs() - start, 6u);
  ASSERT_TRUE(t.peer.WaitForCommands(1, 2000));
  EXPECT_EQ(t.peer.Received(), "+rt07\r");
}

// A stop asked for while a command goes out lets it finish with its carriage
// return: half a command would stay in the panel's buffer and be completed
// by the next session's first command into another one.
TEST(Exchange, StopMidCommandFinishesTheCommand) {
  // Asks the link to stop after the third character's pause.
  struct TStoppingClock : TVirtualClock {
    TModem* Link = nullptr;
    int Pauses = 0;
    void WaitUntil(TDeadline deadline) override {
      TVirtualClock::WaitUntil(deadline);
      if (++Pauses == 3 && Link) Link->Terminate();
    }
  };
  TScriptedPeer peer({"+wt07=+79161234567\rOK\r\n"});
  TOutArray queue;
  TNoDevice device;
  TStoppingClock clock;
  TModem link{"test", "", queue, device, false, &clock};
  clock.Link = &link;
  link.Port().SetDeviceName(peer.Path());
  link.Port().Open();
  std::string reply;
  EXPECT_EQ(link.SendCommand("+wt07=+79161234567", reply, 3, 4500, "OK", false), 1);
  ASSERT_TRUE(peer.WaitForCommands(1, 2000));
  EXPECT_EQ(peer.Received(), "+wt07=+79161234567\r");
  EXPECT_EQ(peer.Commands().size(), 1u);  // no second attempt after the stop
  // A stop before the first character sends nothing.
  link.SendText("+v\r");
  EXPECT_EQ(peer.Received(), "+wt07=+79161234567\r");
}

// With a judge, the judge decides each attempt: one it does not take is
// retried like an unanswered one, and only a taken one succeeds.
TEST(Exchange, JudgeDecidesEachAttempt) {
  TLinkOnPeer t({"+v\rERR\r\n", "+v\rVER 05\rOK\r\n", "+v\rERR\r\n", "+v\rERR\r\n", "+v\rERR\r\n"});
  const TAttemptJudge judge = [](const std::string& reply) {
    if (reply.find("ERR") != std::string::npos) return TAttemptVerdict{TAttemptVerdict::Bad, " # !!! refused"};
    if (reply.find("OK") != std::string::npos) return TAttemptVerdict{TAttemptVerdict::Good, {}};
    return TAttemptVerdict{};
  };
  std::string reply;
  const uint32_t start = t.clock.NowMs();
  EXPECT_EQ(t.link.SendCommand("+v", reply, 3, 4500, "OK", false, false, judge), 0);
  EXPECT_EQ(reply, "+v\rVER 05\rOK\r\n");
  // The refusal was complete: its attempt did not wait for its time-out.
  EXPECT_LT(t.clock.NowMs() - start, 4500u);
  const std::vector<std::string> lines = Drain(t.queue).MemoTexts();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "DT  # !!! refused"), 1);
  // Refused in every attempt: failure, although something was answered.
  EXPECT_EQ(t.link.SendCommand("+v", reply, 3, 4500, "OK", false, false, judge), 1);
  EXPECT_EQ(t.peer.Commands().size(), 5u);
}

TEST(Clock, WaitUntilKeepsToTheDeadline) {
  TVirtualClock virtualClock;
  for (TClock* clock : {&TClock::Real(), static_cast<TClock*>(&virtualClock)}) {
    const TDeadline due = clock->DeadlineIn(3);
    const uint32_t start = clock->NowMs();
    clock->WaitUntil(due);
    EXPECT_GE(clock->NowMs() - start, 3u);
  }
  // Virtual time moves by the wait exactly, and a deadline already passed does not move it.
  EXPECT_EQ(virtualClock.NowMs(), 1003u);
  virtualClock.WaitUntil(TDeadline{});
  EXPECT_EQ(virtualClock.NowMs(), 1003u);
}

TEST(Exchange, DrainInput) {
  TLinkOnPeer t({});
  t.link.DrainInput();
  EXPECT_TRUE(Drain(t.queue).Memo.empty());

  t.peer.Send(std::string("BU\0SY", 5) + "BUSY");
  ASSERT_TRUE(WaitQueued(t.link, 9));
  t.link.DrainInput();
  TDrained d = Drain(t.queue);
  ASSERT_EQ(d.Memo.size(), 2u);
  EXPECT_EQ(d.Memo[0].Text, "<<<<- " + std::string("BU\0SY", 5) + "BUSY");
  EXPECT_FALSE(d.Memo[0].Shown);
  EXPECT_EQ(d.Memo[1].Text, "DT ОШИБКА!Цифровое соединение разорвано!");
  EXPECT_TRUE(t.link.IsTerminated());
}

TEST(Exchange, ReadUntilAnyMatchesTheWholeReplyIgnoringCase) {
  {
    TLinkOnPeer t({});
    t.peer.Send("busy");
    ASSERT_TRUE(WaitQueued(t.link, 4));
    std::string reply;
    EXPECT_TRUE(t.link.ReadUntilAny(reply, {"CONNECT 9600", "BUSY"}, 2000));
    EXPECT_EQ(reply, "busy");
  }
  {
    TLinkOnPeer t({});
    t.peer.Send("BUSY\r");
    ASSERT_TRUE(WaitQueued(t.link, 5));
    std::string reply;
    EXPECT_FALSE(t.link.ReadUntilAny(reply, {"CONNECT 9600", "BUSY"}, 500));
    EXPECT_EQ(reply, "BUSY\r");
  }
}

TEST(Exchange, LostLineEndsTheLink) {
  TLinkOnPeer t({});
  t.peer.CloseLine();
  std::string reply;
  EXPECT_FALSE(t.link.ReadUntil(reply, 4500, "OK"));
  TDrained d = Drain(t.queue);
  ASSERT_FALSE(d.Memo.empty());
  EXPECT_EQ(d.Memo.back().Text.rfind("DT  # !!! Ошибка при чтении данных из COM порта: Unable to read from port.", 0),
            0u)
      << d.Memo.back().Text;
  EXPECT_TRUE(t.link.IsTerminated());
}

struct TCheckCase {
  const char* name;
  uint8_t type;
  bool noAnswer;
  const char* reply;
  int32_t code;
  const char* logged;  // nullptr: nothing
  bool terminates;
};

class CheckReplyTable : public ::testing::TestWithParam<TCheckCase> {};

TEST_P(CheckReplyTable, Classifies) {
  const TCheckCase& c = GetParam();
  TLinkOnPeer t({});
  int32_t code = -1;
  EXPECT_EQ(t.link.CheckReply(c.noAnswer, c.reply, c.type, code), c.code == 0);
  EXPECT_EQ(code, c.code);
  TDrained d = Drain(t.queue);
  if (c.logged) {
    ASSERT_EQ(d.Memo.size(), 1u);
    EXPECT_EQ(d.Memo[0].Text, std::string("DT ") + c.logged);
    EXPECT_TRUE(d.Memo[0].Shown);
  } else {
    EXPECT_TRUE(d.Memo.empty());
  }
  EXPECT_EQ(t.link.IsTerminated(), c.terminates);
}

INSTANTIATE_TEST_SUITE_P(
    Exchange, CheckReplyTable,
    ::testing::Values(
        TCheckCase{"modem_no_answer", 0, true, "", 1, "ОШИБКА! Com - порт не ответил!", false},
        TCheckCase{"modem_error", 0, false, "OK ERROR", 1, "ОШИБКА! Не могу установить цифровое соединение!", false},
        TCheckCase{"modem_no_carrier", 0, false, "OK NO CARRIER", 1,
                   "ОШИБКА! Не могу установить цифровое соединение!", false},
        TCheckCase{"modem_without_ok", 0, false, "ATZ", 1, "ОШИБКА! Не могу установить цифровое соединение!", false},
        TCheckCase{"modem_ok", 0, false, "ATZ\rOK", 0, nullptr, false},
        TCheckCase{"modem_lower_ok_is_not_ok", 0, false, "ok", 1, "ОШИБКА! Не могу установить цифровое соединение!",
                   false},
        TCheckCase{"dial_no_answer_terminates", 1, true, "", 1, "ОШИБКА! Com - порт не ответил!", true},
        TCheckCase{"dial_busy", 1, false, "BUSY", 1, "ОШИБКА! Не могу установить цифровое соединение!", false},
        TCheckCase{"dial_connect", 1, false, "CONNECT 9600", 0, nullptr, false},
        TCheckCase{"link_busy", 3, false, "xBUSYx", 1, "ОШИБКА!Цифровое соединение разорвано!", true},
        TCheckCase{"link_disconnect", 3, false, "DISCONNECT", 1, "ОШИБКА!Цифровое соединение разорвано!", true},
        TCheckCase{"link_no_carrier_ignores_no_answer", 3, true, "NO CARRIER", 1,
                   "ОШИБКА!Цифровое соединение разорвано!", true},
        TCheckCase{"link_error", 3, false, "ERROR", 2, nullptr, false},
        TCheckCase{"link_fine", 3, false, "+v\rVER 05\rOK", 0, nullptr, false},
        TCheckCase{"link_lower_busy_is_fine", 3, false, "busy", 0, nullptr, false},
        TCheckCase{"other_type", 2, true, "BUSY", 0, nullptr, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- stops and floods, in real time

namespace {

// A link whose port is open on a bare pseudo-terminal that the test drives.
struct TLinkOnPty {
  explicit TLinkOnPty(TClock* clock = nullptr) : link("test", "", queue, device, false, clock) {
    queue.DateTimeText = [] { return std::string("DT"); };
    link.Port().SetDeviceName(pty.Path());
    link.Port().Open();
  }
  PtyPair pty;
  TOutArray queue;
  TNoDevice device;
  TModem link;
};

// Time that stands still until the test lets it run out: from then on every
// reading lies past any deadline. Its waits are real polls of the given
// descriptors, so data keeps arriving while time stands still.
class TTimeOutOnCue : public TClock {
 public:
  void TimeOut() { out_ = true; }
  uint32_t NowMs() override { return out_ ? 1'000'000'000u : 1000u; }
  void Wait(uint32_t ms, int fd1, int fd2, int fd3) override {
    pollfd fds[3] = {{fd1, POLLIN, 0}, {fd2, POLLIN, 0}, {fd3, POLLIN, 0}};
    poll(fds, 3, static_cast<int>(ms));
  }
  TDeadline DeadlineIn(uint32_t ms) override { return TDeadline{int64_t{NowMs()} * 1'000'000}.After(ms); }
  void WaitUntil(TDeadline) override {}

 private:
  std::atomic<bool> out_{false};
};

}  // namespace

// Nobody reads the line, so a write stalls for the port's output time-out; a
// stop request ends it instead.
TEST(ExchangeStops, StalledWriteEndsOnStop) {
  TLinkOnPty t;
  const std::string block(4096, 'x');
  while (t.link.Port().WriteBuffer(block.data(), block.size(), 50) == block.size()) {
  }
  // The longest output time-out the port takes: a write that waited for it
  // would hold every character of the command that long.
  const uint16_t writeTimeOutMs = 65535;
  t.link.Port().Buffers().SetOutputTimeout(writeTimeOutMs);
  std::thread stopper([&] {
    // The command's "-> " line is posted before its first character goes out.
    while (!t.queue.HasPending()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    t.link.Terminate();
  });
  const auto start = std::chrono::steady_clock::now();
  std::string reply;
  EXPECT_EQ(t.link.SendCommand("+wt01=79161234567", reply, 3, 4500, "OK", false), 1);
  const auto took = std::chrono::steady_clock::now() - start;
  stopper.join();
  EXPECT_LT(took, std::chrono::milliseconds(writeTimeOutMs));
  EXPECT_TRUE(t.link.IsTerminated());
}

// A peer that never stops sending cannot hold the wait past its time-out,
// and what one attempt keeps is capped.
TEST(ExchangeStops, FloodIsCutAtTheDeadline) {
  TTimeOutOnCue clock;
  TLinkOnPty t(&clock);
  std::atomic<bool> reading{true};
  std::thread flood([&] {
    // More than the line holds unread: once it has all gone in, the reader
    // has taken more than one reply may keep. Then the time-out comes while
    // the flood goes on.
    const size_t beyondTheCap = TModem::kMaxReply + 128 * 1024;
    const std::string block(1024, 'x');
    size_t written = 0;
    while (reading) {
      pollfd out{t.pty.Master(), POLLOUT, 0};
      if (poll(&out, 1, 10) <= 0) continue;
      const ssize_t n = write(t.pty.Master(), block.data(), block.size());
      if (n > 0) written += static_cast<size_t>(n);
      if (written >= beyondTheCap) clock.TimeOut();
    }
  });
  std::string reply;
  EXPECT_FALSE(t.link.ReadUntil(reply, 300, "OK"));
  reading = false;
  flood.join();
  EXPECT_EQ(reply, std::string(TModem::kMaxReply, 'x'));
  const TDrained d = Drain(t.queue);
  ASSERT_FALSE(d.Memo.empty());
  EXPECT_EQ(d.Memo.back().Text.rfind("DT  # !!! Слишком длинный ответ: отброшено байт сверх 65536: ", 0), 0u)
      << d.Memo.back().Text;
  EXPECT_FALSE(t.link.IsTerminated());
}
