// The GSM modem data call: the link thread dials the simulated modem, on a
// pseudo-terminal and in virtual time, and hangs up when it ends.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <ostream>

#include "link/xModem.h"
#include "protocol/DevOstrel.h"
#include "tests/common/Drain.h"
#include "tests/common/FarEnd.h"
#include "tools/ModemSim.h"

using ostrel::sim::ECpin;
using ostrel::sim::EModemOutcome;
using ostrel::sim::TModemSim;

namespace {

using TLines = std::vector<std::string>;

TLines Cat(std::initializer_list<TLines> parts) {
  TLines all;
  for (const TLines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TLines Times(int n, const TLines& lines) {
  TLines all;
  for (int i = 0; i < n; ++i) all = Cat({all, lines});
  return all;
}

// Virtual time (see TVirtualClock) with two additions for the modem's side:
// an action run by the link thread at its first wait from a given moment on,
// and a stretch of virtual time that passes without real waiting (a dial
// that nobody answers: a minute of nothing).
class TScriptClock : public TVirtualClock {
 public:
  void At(uint32_t ms, std::function<void()> action) {
    due_ = ms;
    action_ = std::move(action);
  }
  // Any thread.
  void SkipAhead(uint32_t ms) { skipUntil_.store(NowMs() + ms); }

  void Wait(uint32_t ms, int fd1 = -1, int fd2 = -1, int fd3 = -1) override {
    if (action_ && NowMs() >= due_) {
      auto action = std::move(action_);
      action_ = nullptr;
      action();
    }
    if (static_cast<int32_t>(skipUntil_.load() - NowMs()) > 0) {
      Advance(ms);
      return;
    }
    TVirtualClock::Wait(ms, fd1, fd2, fd3);
  }

 private:
  uint32_t due_ = 0;
  std::function<void()> action_;  // link thread only, once started
  std::atomic<uint32_t> skipUntil_{0};
};

// Makes the call on the connection check and then ends the link, so that a
// run is the dialogue followed by the link's end.
class TDialer : public TDevice {
 public:
  void ReadPage() override {}
  void WritePage() override {}
  void ReadAll() override {}
  void WriteAll() override {}
  void Step(uint8_t mode) override {
    if (mode == 1) {
      const uint32_t start = link->Clock().NowMs();
      established = link->EstablishLink();
      elapsedMs = link->Clock().NowMs() - start;
      callUp = link->DataCallUp();
      terminatedByCall = link->IsTerminated();
    }
    link->Terminate();
  }
  TModem* link = nullptr;
  // Written on the link thread, read after it has been joined.
  bool established = false;
  bool callUp = false;
  bool terminatedByCall = false;
  uint32_t elapsedMs = 0;
};

// The panel's own device; tells the test when its connection check is over.
class TWatchedDevice : public TDevOstrel {
 public:
  using TDevOstrel::TDevOstrel;
  void Step(uint8_t mode) override {
    TDevOstrel::Step(mode);
    if (mode == 1) checked.set_value();
  }
  std::promise<void> checked;
};

// A link on the simulated modem. The modem offers its card status once, when
// the link has dropped RTS, listened for half a second and raised RTS again:
// at the link's first wait after that half second, the first one of its wait
// for the card status.
struct TModemLink {
  // panel: the panel's own device drives the link, else the dialer.
  explicit TModemLink(const std::string& phone, bool waitForNetwork, bool panel = false) {
    modem.SetCpin(ECpin::Never, 1000);
    modem.Start();
    queue.DateTimeText = [] { return std::string("DT"); };
    if (panel) panelDevice = std::make_unique<TWatchedDevice>(queue);
    link = std::make_unique<TModem>(modem.SlavePath(), phone, queue,
                                    panel ? static_cast<TDevice&>(*panelDevice) : dialer, waitForNetwork, &clock);
    dialer.link = link.get();
    if (panel) panelDevice->SetLink(link.get());
    StandStillWhileOwed(clock, *link, modem);
    clock.At(clock.NowMs() + 505, [this] { modem.SendUnasked("+CPIN: READY"); });
  }
  // Runs the link to its end; one that goes on polling or dialling for good
  // is stopped, so that the case fails instead of hanging.
  void Run() {
    link->Start();  // does nothing when already started
    pollfd done{link->DoneFd(), POLLIN, 0};
    if (poll(&done, 1, 15000) != 1) {
      ADD_FAILURE() << "the link did not end by itself";
      link->Terminate();
    }
    link->WaitFor();
    out = Drain(queue);
  }
  TLines Modem() const { return modem.ModemCommands(); }
  TLines Opening() const {
    return {"DT  # Поток начал работу", "DT  # Успешно открыли COM порт: " + modem.SlavePath()};
  }
  TLines Closing() const {
    return {"DT  # Успешно закрыли COM порт: " + modem.SlavePath(), "DT  # Поток завершил работу"};
  }
  TLines PortTexts() const {
    return {"Открываем COM порт: " + modem.SlavePath(), "Успешно открыли COM порт: " + modem.SlavePath()};
  }

  TModemSim modem;
  TOutArray queue;
  TDialer dialer;
  std::unique_ptr<TWatchedDevice> panelDevice;
  TScriptClock clock;
  std::unique_ptr<TModem> link;
  TDrained out;
};

// What the link logs, step by step.
const TLines kPrelude = {"DT ClrRTS", "", "DT SetRTS", "+CPIN: READY"};
const TLines kHangUp = {"-> +++", " <<- \r\nOK\r\n",   "-> ATH",    " <<- ATH\r\r\nOK\r\n",
                        "-> ATZ", " <<- ATZ\r\r\nOK\r\n", "DT ClrRTS", ""};
const TLines kConnected = {"DT  # Цифровое соединение успешно установленно"};
const TLines kNoAnswer = {"DT ОШИБКА! Com - порт не ответил!"};
const TLines kRefused = {"DT ОШИБКА! Не могу установить цифровое соединение!"};

std::string CregReply(const std::string& form) { return "AT+CREG?\r\r\n" + form + "\r\n\r\nOK\r\n"; }
// A poll answered by the expected text at once.
TLines Registered() {
  return {"-> AT+CREG?", "DT  # Попытка № 1", " <<- " + CregReply("+CREG: 0,1"), "", ""};
}
// A poll whose five attempts all got another form.
TLines PolledFiveTimes(const std::string& form) {
  TLines lines = {"-> AT+CREG?"};
  for (int n = 1; n <= 5; ++n)
    lines = Cat({lines, {"DT  # Попытка № " + std::to_string(n), " <<- " + CregReply(form), " <- " + CregReply(form)}});
  return Cat({lines, {"", ""}});
}
TLines Init(const std::string& command) { return {"-> " + command, " <<- " + command + "\r\r\nOK\r\n"}; }
const TLines kInits = Cat({Init("ATZ"), Init("AT+CBST=7,0,1"), Init("AT")});
// The modem sends the echo and ERROR in one piece: the second read for the
// result finds nothing more.
TLines InitError(const std::string& command) {
  return Cat({{"-> " + command, " <<- " + command + "\r\r\nERROR\r\n"}, kNoAnswer});
}

// Status texts for the progress dialog.
const std::string kPhone = "+79161234567";
const TLines kInitTexts = {"Инициализация модема: ATZ", "Инициализация модема: AT+CBST=7,0,1",
                           "Инициализация модема: AT"};
const TLines kDialTexts = Cat({kInitTexts, {"Набор номера: " + kPhone}});
const TLines kUpTexts = {"Цифровое соединение успешно установленно"};
const TLines kDialFailedTexts = {"Не могу дозвониться до : " + kPhone};
const TLines kReadyTexts = {"Ожидание готовности модема"};
const TLines kHangUpTexts = {"Завершение звонка: +++, ATH, ATZ"};
TLines Polls(int n) {
  TLines texts;
  for (int i = 1; i <= n; ++i) texts.push_back("Ожидание регистрации в сети: опрос " + std::to_string(i));
  return texts;
}
std::string Attempt(int n) { return "Звонок на " + kPhone + ": попытка " + std::to_string(n) + " из 3"; }
const std::string kCallUpLine = "Звонок на " + kPhone + ": соединение 9600 бит/с";

// Commands the modem receives.
const TLines kPass = {"ATZ", "AT+CBST=7,0,1", "AT", "ATD " + kPhone};
const TLines kHangUpCommands = {"+++", "ATH", "ATZ"};

struct TCallCase {
  const char* name;
  std::string phone;  // as given to the link
  bool waitForNetwork;
  std::function<void(TModemLink&)> setUp;
  bool established;
  TLines modemCommands;
  TLines panel2;  // after the port's own texts
  TLines memo;    // between the link's opening and closing lines
  TLines callLine = {};  // the call's course under Panel2; not looked at when empty
};

void PrintTo(const TCallCase& c, std::ostream* os) { *os << c.name; }

// Switches the modem's answer once it has received a command n times.
void AfterCommands(TModemLink& t, const std::string& prefix, int n, std::function<void()> change) {
  auto count = std::make_shared<std::atomic<int>>(0);
  t.modem.SetCommandHandler([=](const std::string& command) {
    if (command.rfind(prefix, 0) == 0 && ++*count == n) change();
  });
}

TCallCase RegisteredBy(const std::string& form) {
  return {"registered",
          kPhone,
          true,
          [form](TModemLink& t) { t.modem.SetCregReply(form); },
          true,
          Cat({{"AT+CREG?", "AT+CREG?", "AT+CREG?", "AT+CREG?", "AT+CREG?"}, kPass, kHangUpCommands}),
          Cat({Polls(1), kDialTexts, kUpTexts}),
          Cat({kPrelude, PolledFiveTimes(form), kInits, kConnected, kHangUp})};
}

class ModemCallTable : public ::testing::TestWithParam<TCallCase> {};

TEST_P(ModemCallTable, Dialogue) {
  const TCallCase& c = GetParam();
  TModemLink t(c.phone, c.waitForNetwork);
  if (c.setUp) c.setUp(t);
  t.Run();

  EXPECT_EQ(t.Modem(), c.modemCommands);
  EXPECT_TRUE(t.modem.Commands().empty()) << "nothing reaches the panel";
  // A call waits for the modem first and hangs up at the end, whatever happened between.
  const bool call = !c.modemCommands.empty();
  EXPECT_EQ(t.out.TextsFor(Targets::Panel2), Cat({t.PortTexts(), call ? kReadyTexts : TLines{}, c.panel2,
                                                  call ? kHangUpTexts : TLines{}}));
  if (!c.callLine.empty()) EXPECT_EQ(t.out.TextsFor(Targets::CallLine), c.callLine);
  EXPECT_EQ(t.out.MemoTexts(), Cat({t.Opening(), c.memo, t.Closing()}));
  for (const auto& line : t.out.Memo) EXPECT_TRUE(line.Shown) << line.Text;
  EXPECT_TRUE(t.out.Persistent.empty());

  EXPECT_EQ(t.dialer.established, c.established);
  EXPECT_EQ(t.dialer.callUp, c.established && !c.modemCommands.empty()) << "a direct link makes no call";
  EXPECT_EQ(t.dialer.terminatedByCall, !c.established);
  EXPECT_FALSE(t.link->DataCallUp()) << "the hang-up clears it";
  EXPECT_FALSE(t.modem.IsCallUp());
}

INSTANTIATE_TEST_SUITE_P(
    ModemCall, ModemCallTable,
    ::testing::Values(
        TCallCase{"empty_phone_is_a_direct_link", "", true, nullptr, true, {}, {}, {}},
        TCallCase{"blank_phone_is_a_direct_link", " \t ", true, nullptr, true, {}, {}, {}},
        TCallCase{"call_comes_up",
                  "+7 (916) 123-45-67",
                  true,
                  nullptr,
                  true,
                  Cat({{"AT+CREG?"}, kPass, kHangUpCommands}),
                  Cat({Polls(1), kDialTexts, kUpTexts}),
                  Cat({kPrelude, Registered(), kInits, kConnected, kHangUp}),
                  {"Модем зарегистрирован в сети", Attempt(1), kCallUpLine}},
        TCallCase{"without_waiting_for_the_network",
                  kPhone,
                  false,
                  nullptr,
                  true,
                  Cat({kPass, kHangUpCommands}),
                  Cat({kDialTexts, kUpTexts}),
                  Cat({kPrelude, kInits, kConnected, kHangUp})},
        [] {
          TCallCase c = RegisteredBy("+CREG: 0,5");
          c.name = "roaming_ends_polling";
          return c;
        }(),
        [] {
          TCallCase c = RegisteredBy("+CREG: 0, 1");
          c.name = "blank_after_comma_ends_polling";
          return c;
        }(),
        [] {
          TCallCase c = RegisteredBy("+CREG:0,5");
          c.name = "roaming_without_blanks_ends_polling";
          return c;
        }(),
        [] {
          TCallCase c = RegisteredBy("+CREG:0, 5");
          c.name = "roaming_without_first_blank_ends_polling";
          return c;
        }(),
        TCallCase{"home_without_blank_polls_again",
                  kPhone,
                  true,
                  [](TModemLink& t) {
                    t.modem.SetCregReply("+CREG:0,1");
                    AfterCommands(t, "AT+CREG?", 6, [&t] { t.modem.SetCregReply("+CREG: 0,1"); });
                  },
                  true,
                  Cat({TLines(7, "AT+CREG?"), kPass, kHangUpCommands}),
                  Cat({Polls(2), kDialTexts, kUpTexts}),
                  Cat({kPrelude, PolledFiveTimes("+CREG:0,1"),
                       {"-> AT+CREG?", "DT  # Попытка № 1", " <<- " + CregReply("+CREG:0,1"),
                        " <- " + CregReply("+CREG:0,1"), "DT  # Попытка № 2", " <<- " + CregReply("+CREG: 0,1"), "",
                        ""},
                       kInits, kConnected, kHangUp}),
                  {"Нет регистрации в сети (опрос 1), ответ модема: +CREG:0,1", "Модем зарегистрирован в сети",
                   Attempt(1), kCallUpLine}},
        TCallCase{"three_failed_passes_end_the_link",
                  kPhone,
                  false,
                  [](TModemLink& t) { t.modem.SetOutcome("AT+CBST=7,0,1", EModemOutcome::Error); },
                  false,
                  Cat({Times(3, {"ATZ", "AT+CBST=7,0,1"}), kHangUpCommands}),
                  Times(3, {"Инициализация модема: ATZ", "Инициализация модема: AT+CBST=7,0,1",
                            "ОШИБКА инициализации модема: AT+CBST=7,0,1"}),
                  Cat({kPrelude, Times(3, Cat({Init("ATZ"), InitError("AT+CBST=7,0,1")})), kHangUp}),
                  {Attempt(1), Attempt(2) + ", предыдущая: Инициализация модема: AT+CBST=7,0,1 (ERROR)",
                   Attempt(3) + ", предыдущая: Инициализация модема: AT+CBST=7,0,1 (ERROR)"}},
        TCallCase{"busy_is_retried_from_atz",
                  kPhone,
                  false,
                  [](TModemLink& t) {
                    t.modem.SetDialReply("BUSY");
                    AfterCommands(t, "ATD", 1, [&t] { t.modem.SetDialReply("CONNECT 9600"); });
                  },
                  true,
                  Cat({kPass, kPass, kHangUpCommands}),
                  Cat({kDialTexts, kDialFailedTexts, kDialTexts, kUpTexts}),
                  Cat({kPrelude, kInits, kRefused, kInits, kConnected, kHangUp}),
                  {Attempt(1), Attempt(2) + ", предыдущая: Набор номера: " + kPhone + " (BUSY)", kCallUpLine}},
        TCallCase{"no_carier_three_times_ends_the_link",
                  kPhone,
                  false,
                  [](TModemLink& t) { t.modem.SetDialReply("NO CARIER"); },
                  false,
                  Cat({Times(3, kPass), kHangUpCommands}),
                  Times(3, Cat({kDialTexts, kDialFailedTexts})),
                  Cat({kPrelude, Times(3, Cat({kInits, kRefused})), kHangUp})},
        TCallCase{"unanswered_dial_ends_the_link_at_once",
                  kPhone,
                  false,
                  [](TModemLink& t) {
                    t.modem.SetDialReply("");
                    AfterCommands(t, "ATD", 1, [&t] { t.clock.SkipAhead(59000); });
                  },
                  false,
                  Cat({kPass, kHangUpCommands}),
                  Cat({kDialTexts, kDialFailedTexts}),
                  Cat({kPrelude, kInits, kNoAnswer, kHangUp})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModemCall, UnansweredDialWaitsAMinute) {
  TModemLink t(kPhone, false);
  t.modem.SetDialReply("");
  AfterCommands(t, "ATD", 1, [&t] { t.clock.SkipAhead(59000); });
  t.Run();
  // Half a second of listening, the card status, three commands and the
  // dial's minute; at most each of those waits to its time-out, never a
  // second minute.
  EXPECT_GE(t.dialer.elapsedMs, 60000u + 500u);
  EXPECT_LT(t.dialer.elapsedMs, 500u + 7500u + 3 * (4500u + 4500u) + 60000u);
}

TEST(ModemCall, StopWhilePollingTheNetwork) {
  TModemLink t(kPhone, true);
  t.modem.SetCregReply("+CREG: 0,2");  // still searching: polls forever
  AfterCommands(t, "AT+CREG?", 8, [&t] { t.link->Terminate(); });
  t.Run();
  EXPECT_FALSE(t.dialer.established);
  const TLines commands = t.Modem();
  ASSERT_GE(commands.size(), 8u + kHangUpCommands.size());
  EXPECT_EQ(TLines(commands.begin(), commands.end() - 3), TLines(commands.size() - 3, "AT+CREG?"));
  EXPECT_EQ(TLines(commands.end() - 3, commands.end()), kHangUpCommands) << "the hang-up still runs";
  const TLines panel2 = t.out.TextsFor(Targets::Panel2);
  ASSERT_GE(panel2.size(), 5u);
  EXPECT_EQ(TLines(panel2.begin(), panel2.begin() + 3), Cat({t.PortTexts(), kReadyTexts}));
  EXPECT_EQ(TLines(panel2.end() - 2, panel2.end()), Cat({{"Ожидание регистрации в сети: опрос 2"}, kHangUpTexts}))
      << "no pass was started";
  EXPECT_EQ(t.out.TextsFor(Targets::CallLine).back(), "Нет регистрации в сети (опрос 1), ответ модема: +CREG: 0,2")
      << "a poll cut short says nothing of the modem";
  // The reply to the poll that was cut short may come in just before the
  // hang-up, which logs it as unasked data.
  TLines memo;
  for (const auto& line : t.out.Memo)
    if (line.Text.rfind("<<<<- ", 0) != 0) memo.push_back(line.Text);
  ASSERT_GE(memo.size(), kHangUp.size() + 2);
  EXPECT_EQ(TLines(memo.end() - 10, memo.end() - 2), kHangUp);
}

TEST(ModemCall, StopWhileDialling) {
  TModemLink t(kPhone, false);
  t.modem.SetDialReply("");
  AfterCommands(t, "ATD", 1, [&t] { t.link->Terminate(); });
  const auto start = std::chrono::steady_clock::now();
  t.Run();
  // Without the stop the dial would wait a minute of virtual time, at least
  // 6 s here.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
  EXPECT_FALSE(t.dialer.established);
  EXPECT_EQ(t.Modem(), Cat({kPass, kHangUpCommands}));
  // A dial given up is no failure of the call: the stop is said as the hang-up.
  EXPECT_EQ(t.out.TextsFor(Targets::Panel2), Cat({t.PortTexts(), kReadyTexts, kDialTexts, kHangUpTexts}));
  EXPECT_TRUE(t.link->CallFailure().Empty());
  EXPECT_TRUE(t.link->FaultLine().empty());
}

TEST(ModemCall, PanelReachedThroughTheCall) {
  TModemLink t(kPhone, true, true);
  t.link->Start();
  ASSERT_EQ(t.panelDevice->checked.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  t.link->Terminate();
  t.Run();

  EXPECT_EQ(t.Modem(), Cat({{"AT+CREG?"}, kPass, kHangUpCommands}));
  EXPECT_EQ(t.modem.Commands(), TLines{"+v"}) << "the panel behind the call";
  EXPECT_FALSE(t.modem.IsCallUp());
  EXPECT_EQ(t.out.TextsFor(Targets::Panel2),
            Cat({t.PortTexts(), kReadyTexts, Polls(1), kDialTexts, kUpTexts,
                 {"Идёт проверка версии!", "СОЕДИНЕНИЕ УСТАНОВЛЕНО"}, kHangUpTexts}));
  EXPECT_EQ(t.out.TextsFor(Targets::Button1), TLines{"Click"});
  EXPECT_EQ(t.out.TextsFor(Targets::RzStatusPane2), TLines{"Ostrel GSM VER 05.01"});

  // The dialogue, the version check and the idle steps that drained nothing,
  // then the hang-up.
  const std::string version = "+v\rOstrel GSM VER 05.01\rOK\r\n";
  EXPECT_EQ(t.out.MemoTexts(),
            Cat({t.Opening(), kPrelude, Registered(), kInits, kConnected,
                 {"-> +v", "DT  # Попытка № 1", " <<- " + version, "DT  # " + version}, kHangUp, t.Closing()}));
  EXPECT_FALSE(t.link->DataCallUp());
}

TEST(ModemCall, CallLostByTheFarEndEndsTheLink) {
  TModemLink t(kPhone, false, true);
  t.link->Start();
  ASSERT_EQ(t.panelDevice->checked.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  t.modem.DropCall();
  t.Run();  // ends by itself: the idle step finds NO CARRIER

  EXPECT_EQ(t.out.TextsFor(Targets::Button1), TLines{"Click"});
  EXPECT_EQ(t.Modem(), Cat({kPass, kHangUpCommands}));
  const auto& memo = t.out.Memo;
  ASSERT_GE(memo.size(), 2 + kHangUp.size() + 2);
  const size_t lost = memo.size() - 2 - kHangUp.size() - 2;
  EXPECT_EQ(memo[lost].Text, "<<<<- \r\nNO CARRIER\r\n");
  EXPECT_FALSE(memo[lost].Shown) << "unasked data goes to the log file only";
  EXPECT_EQ(memo[lost + 1].Text, "DT ОШИБКА!Цифровое соединение разорвано!");
  EXPECT_TRUE(memo[lost + 1].Shown);
  TLines tail;
  for (size_t i = lost + 2; i < memo.size(); ++i) tail.push_back(memo[i].Text);
  EXPECT_EQ(tail, Cat({kHangUp, t.Closing()}));
  // What the window tells the user: where the call went down and the modem's words.
  const TCallFailure failure = t.link->CallFailure();
  EXPECT_EQ(failure.Stage, "Цифровое соединение с панелью");
  EXPECT_EQ(failure.Words, "NO CARRIER");
}

}  // namespace
