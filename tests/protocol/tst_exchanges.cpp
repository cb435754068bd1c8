// The exchanges of each group of settings (common settings, keys, GSM, ADC)
// against the panel simulator, through the real link and port code on the
// test thread with a virtual clock. Controls are read from a map.
#include <gtest/gtest.h>

#include "model/Fields.h"
#include "protocol/OperationSize.h"
#include "protocol/ProtocolText.h"
#include "tests/common/ScriptedPeer.h"
#include "tests/protocol/ExchangeRig.h"
#include "tools/PanelSim.h"

using ostrel::sim::EFault;
using ostrel::sim::TPanelSim;
using ostrel::sim::TPanelState;
using TCommands = std::vector<std::string>;

namespace {

const std::string Eq80(80, '=');

class Exchanges : public ::testing::Test {
 protected:
  Exchanges() { panel.Start(); }
  // The panel's thread may call into the rig: stop it before the rig goes.
  ~Exchanges() override { panel.Stop(); }
  // Stops the link as soon as the panel receives the command.
  void TerminateOn(const std::string& command) {
    panel.SetCommandHandler([this, command](const std::string& c) {
      if (c == command) rig.link.Terminate();
    });
  }

  TPanelSim panel;
  TRig rig{panel.SlavePath(), panel};
};

TCommands ReadCommonCommands() {
  TCommands commands{"+v"};
  for (int n = 1; n <= 12; ++n) {
    commands.push_back("+rt" + TDevOstrel::ZeroPad(n, 2));
    commands.push_back("+rq" + TDevOstrel::ZeroPad(n, 2));
  }
  commands.push_back("+rp");
  return commands;
}

// The command at its first place sent three times; the rest cut off if asked.
TCommands Tripled(TCommands commands, const std::string& command, bool endsThere) {
  auto it = std::find(commands.begin(), commands.end(), command);
  if (it == commands.end()) return commands;
  if (endsThere) commands.erase(it + 1, commands.end());
  it = std::find(commands.begin(), commands.end(), command);
  commands.insert(it, 2, command);
  return commands;
}

TCommands Numbered(const std::string& prefix, int first, int last) {
  TCommands commands;
  for (int n = first; n <= last; ++n) commands.push_back(prefix + std::to_string(n));
  return commands;
}

TPanelState CommonState() {
  TPanelState s;
  for (int n = 1; n <= 12; ++n) s.Phones[n - 1] = "8916" + std::to_string(1000 + n);
  s.Phones[6] = "12345678901234567890";  // entry 7: as long as a phone can be
  s.Flags = {"100", "000", "100", "011", "110", "001", "000", "101", "000", "111", "010", "000"};
  s.EntryDelay = 30;
  s.ExitDelay = 10;
  s.FastArming = true;
  s.WaitSend = false;
  return s;
}

}  // namespace

// ---------------------------------------------------------------- helpers

TEST(ProtocolText, SwapKeyBytes) {
  struct TCase {
    const char* text;
    const char* swapped;
  };
  for (const TCase& c : {TCase{"0123456789ABCDEF", "EFCDAB8967452301"},
                         TCase{"123456789ABCDEF", "EFCDAB8967452301"},     // 15 characters: a "0" in front
                         TCase{"0123456789ABCDEF99", "EFCDAB8967452301"},  // cut to 16
                         TCase{"", "0000000000000000"}, TCase{"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF"},
                         TCase{"zz3456789ABCDEF0", "F0DEBC9A785634zz"}}) {  // not checked, not changed
    EXPECT_EQ(SwapKeyBytes(c.text), c.swapped) << c.text;
    EXPECT_EQ(SwapKeyBytes(SwapKeyBytes(c.swapped)), c.swapped) << c.text;
  }
}

TEST(ProtocolText, NumbersAndPositions) {
  EXPECT_EQ(ParseHex("1E"), 30);
  EXPECT_EQ(ParseHex("3ff"), 1023);
  EXPECT_EQ(ParseHex(""), std::nullopt);
  EXPECT_EQ(ParseHex("OR"), std::nullopt);
  EXPECT_EQ(ParseHex(" 1F"), std::nullopt);
  EXPECT_EQ(ParseHex("FFFFFFFFF"), std::nullopt);  // beyond int
  EXPECT_EQ(ParseDecimal("-1"), -1);
  EXPECT_EQ(ParseDecimal("12a"), std::nullopt);
  EXPECT_EQ(ParseDecimal(""), std::nullopt);
  EXPECT_EQ(ToHex(255, 2), "FF");
  EXPECT_EQ(ToHex(0, 2), "00");
  EXPECT_EQ(ToHex(100, 3), "064");
  EXPECT_EQ(ToHex(1023, 3), "3FF");
  EXPECT_EQ(CharAt("+rg1", 4), '1');
  EXPECT_EQ(CharAt("+rg", 4), '\0');
  EXPECT_EQ(TextFrom("+rt07123", 6), "123");
  EXPECT_EQ(TextFrom("+rt07", 6), "");
}

// ---------------------------------------------------------------- common settings

TEST_F(Exchanges, ReadCommonPostsEveryValue) {
  panel.SetState(CommonState());
  const TOutput out = rig.Run(Pages::Common, 3);
  EXPECT_EQ(panel.Commands(), ReadCommonCommands());

  // Everything read goes into the result, nothing to the page's controls.
  ASSERT_EQ(out.Results, 1);
  EXPECT_EQ(out.Result.Outcome, TOutcome::Success);
  EXPECT_EQ(out.Result.Settings.Groups, TGroups(TGroup::Common));
  const TSettings& s = out.Read();
  const bool reacts[] = {true, false, true, false, true, false, false, true, false, true, false, false};
  for (int n = 1; n <= 12; ++n) {
    EXPECT_EQ(s.Phone[n - 1], n == 7 ? "12345678901234567890" : "8916" + std::to_string(1000 + n)) << n;
    EXPECT_EQ(s.React[n - 1], reacts[n - 1]) << n;
    // Loop 2 reports its normal state on both rows (entries 6 and 10): the
    // lower row keeps it.
    EXPECT_EQ(s.Norm[n - 1], n == 8 || n == 10) << n;
  }
  // Loop 1 from entry 5, loop 2 from entry 10, loop 3 from entry 11.
  EXPECT_EQ(s.Hours24, (std::array<bool, 4>{true, true, true, false}));
  EXPECT_EQ(s.TimeOut, 30);
  EXPECT_EQ(s.TimeOut2, 10);
  EXPECT_TRUE(s.FastGuard);
  EXPECT_FALSE(s.WaitSend);
  EXPECT_EQ(s.Version, "Ostrel GSM VER 05.01");
  EXPECT_TRUE(out.PageTexts(Pages::Common).empty());
  EXPECT_EQ(out.TextsFor("Form1", "RzStatusPane2"), (TCommands{"Ostrel GSM VER 05.01"}));

  ASSERT_GE(out.Memo.size(), 6u);
  EXPECT_EQ(
      std::vector<TOutput::TLine>(out.Memo.begin(), out.Memo.begin() + 4),
      (std::vector<TOutput::TLine>{
          {"DT " + Eq80, false}, {"DT Читаем общие настройки", false}, {"DT Читаем версию", true}, {">> +v", true}}));
  EXPECT_EQ(std::vector<TOutput::TLine>(out.Memo.end() - 2, out.Memo.end()),
            (std::vector<TOutput::TLine>{{"DT Окончили читать общие настройки", false}, {"DT " + Eq80, false}}));
  const size_t entry7 = out.IndexOf("DT Читаем телефон №7");
  ASSERT_LT(entry7 + 1, out.Memo.size());
  EXPECT_EQ(out.Memo[entry7 + 1], (TOutput::TLine{">> +rt07", true}));
  EXPECT_TRUE(out.Memo[entry7].Shown);
  EXPECT_FALSE(out.HasLine(">> +rq07", true));
  EXPECT_TRUE(out.HasLine("DT Читаем Задержки", true));
  EXPECT_TRUE(out.HasLine(">> +rp", true));
  EXPECT_EQ(out.Messages, (TCommands{"Успешно прочитали общие настройки"}));
  EXPECT_FALSE(rig.device.Failed());
}

struct TCommonReadFault {
  const char* name;
  const char* prefix;
  EFault kind;
  const char* lastSent;  // the read stops after this command; nullptr: it goes on to the end
  const char* message;   // the one message box
};

void PrintTo(const TCommonReadFault& c, std::ostream* os) { *os << c.name; }

// The commands up to the last place of command.
TCommands CutAfter(TCommands commands, const char* command) {
  if (!command) return commands;
  const auto last = std::find(commands.rbegin(), commands.rend(), command);
  commands.erase(last.base(), commands.end());
  return commands;
}

class CommonReadFaults : public Exchanges, public ::testing::WithParamInterface<TCommonReadFault> {};

// A request the panel did not confirm fails the read as one without an answer
// does: the read stops after that entry and nothing of the entry is posted.
TEST_P(CommonReadFaults, FollowTheRules) {
  const TCommonReadFault& c = GetParam();
  panel.SetState(CommonState());
  panel.AddFault({c.prefix, c.kind, false});
  const TOutput out = rig.Run(Pages::Common, 3);
  const TCommands sent = c.kind == EFault::LowerOk ? ReadCommonCommands()
                                                  : CutAfter(Tripled(ReadCommonCommands(), c.prefix, false), c.lastSent);
  EXPECT_EQ(panel.Commands(), sent);
  EXPECT_EQ(out.Messages, TCommands{c.message});
  const bool failed = std::string(c.message) == "ОШИБКА при чтении!";
  EXPECT_EQ(rig.device.Failed(), failed);
  EXPECT_EQ(out.HasLine("DT ОШИБКА при чтении общих настроек", true), failed);
  EXPECT_FALSE(rig.link.IsTerminated());

  // A failed read brings no settings: the page stays as it was.
  EXPECT_EQ(out.Holds(TGroup::Common), !failed);
  EXPECT_TRUE(out.PageTexts(Pages::Common).empty());
  const std::string name = c.name;
  if (failed) {
    EXPECT_EQ(out.Result.Outcome, name == "phone-refused-with-err" || name == "delays-refused" ? TOutcome::Refused
                                                                                               : TOutcome::FailedRequest);
    EXPECT_EQ(out.Result.Command, c.prefix);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Exchanges, CommonReadFaults,
    ::testing::Values(
        TCommonReadFault{"no-answer-to-entry-7-phone", "+rt07", EFault::Silence, "+rt07", "ОШИБКА при чтении!"},
        TCommonReadFault{"entry-2-phone-fails-whatever-its-flags", "+rt02", EFault::Silence, "+rq02",
                         "ОШИБКА при чтении!"},
        TCommonReadFault{"entry-9-flags-unanswered", "+rq09", EFault::Silence, "+rq09", "ОШИБКА при чтении!"},
        TCommonReadFault{"phone-without-ok-refused", "+rt05", EFault::NoOk, "+rt05", "ОШИБКА при чтении!"},
        TCommonReadFault{"phone-refused-with-err", "+rt05", EFault::Refuse, "+rt05", "ОШИБКА при чтении!"},
        TCommonReadFault{"lower-case-ok-is-good", "+rt05", EFault::LowerOk, nullptr,
                         "Успешно прочитали общие настройки"},
        TCommonReadFault{"delays-refused", "+rp", EFault::Error, "+rp", "ОШИБКА при чтении!"}),
    [](const auto& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

namespace {

struct TEntryInput {
  const char* phone;
  bool react;
  const char* flags;  // what the panel stores
};

// Entries 1..12 as the page shows them; loop 2 has its 24-hour box on, loop 1
// "Замыкание" and loop 3 "Размыкание" as normal states.
const TEntryInput EntryInputs[12] = {
    {"+79161234567", true, "100"}, {"", false, "000"},   {"8916", true, "100"},
    {"112", false, "000"},         {"5", true, "101"},   {"6", false, "010"},
    {"7", false, "000"},           {"8", true, "100"},   {"9", false, "000"},
    {"10", true, "110"},           {"11", false, "001"}, {"12", false, "000"},
};

void FillCommonPage(TSettings& s) {
  for (int n = 1; n <= 12; ++n) {
    s.Phone[n - 1] = EntryInputs[n - 1].phone;
    s.React[n - 1] = EntryInputs[n - 1].react;
  }
  s.Hours24[1] = true;
  s.Norm[4] = s.Norm[10] = true;
  s.FastGuard = s.WaitSend = true;
  s.TimeOut = 255;
  s.TimeOut2 = 0;
}

TCommands WriteCommonCommands() {
  TCommands commands;
  for (int n = 1; n <= 12; ++n) {
    const std::string nn = TDevOstrel::ZeroPad(n, 2);
    commands.push_back("+wt" + nn + "=" + EntryInputs[n - 1].phone);
    commands.push_back("+wq" + nn + "=" + EntryInputs[n - 1].flags);
  }
  commands.push_back("+wp=FF0011");
  return commands;
}

}  // namespace

TEST_F(Exchanges, WriteCommonSendsThePage) {
  FillCommonPage(rig.settings);
  const TOutput out = rig.Run(Pages::Common, 4);
  EXPECT_EQ(panel.Commands(), WriteCommonCommands());

  const TPanelState state = panel.State();
  for (int n = 1; n <= 12; ++n) {
    EXPECT_EQ(state.Phones[n - 1], EntryInputs[n - 1].phone) << n;
    EXPECT_EQ(state.Flags[n - 1], EntryInputs[n - 1].flags) << n;
  }
  EXPECT_EQ(state.EntryDelay, 255);
  EXPECT_EQ(state.ExitDelay, 0);
  EXPECT_TRUE(state.FastArming);
  EXPECT_TRUE(state.WaitSend);

  for (const std::string& command : WriteCommonCommands()) EXPECT_TRUE(out.HasLine(">> " + command, true)) << command;
  EXPECT_TRUE(out.HasLine("DT Пишем телефон №12", true));
  EXPECT_TRUE(out.HasLine("DT Пишем Задержку и б.пост. на охрану", true));
  ASSERT_GE(out.Memo.size(), 4u);
  EXPECT_EQ(out.Memo[0], (TOutput::TLine{"DT " + Eq80, false}));
  EXPECT_EQ(out.Memo[1], (TOutput::TLine{"DT Пишем общие настройки", false}));
  EXPECT_EQ(std::vector<TOutput::TLine>(out.Memo.end() - 2, out.Memo.end()),
            (std::vector<TOutput::TLine>{{"DT Окончили записывать общие настройки", false}, {"DT " + Eq80, false}}));
  EXPECT_EQ(out.Messages, TCommands{"Успешно записали общие настройки"});
  EXPECT_TRUE(out.Controls.empty());
}

TEST_F(Exchanges, WriteCommonFailures) {
  struct TCase {
    const char* prefix;
    EFault kind;
  };
  // A phone or flag field that the panel did not confirm fails its entry,
  // whatever the other request of the entry answered: the write ends there.
  for (const TCase& c : {TCase{"+wt04", EFault::Silence}, TCase{"+wq04", EFault::Silence},
                         TCase{"+wt04", EFault::Refuse}, TCase{"+wq04", EFault::NoOk}}) {
    SCOPED_TRACE(std::string(c.prefix) + " " + FaultName(c.kind));
    panel.ClearCommands();
    panel.ClearFaults();
    panel.AddFault({c.prefix, c.kind, false});
    FillCommonPage(rig.settings);
    const TOutput out = rig.Run(Pages::Common, 4);
    const std::string sent = WriteCommonCommands()[c.prefix[2] == 't' ? 6 : 7];
    EXPECT_EQ(panel.Commands(), CutAfter(Tripled(WriteCommonCommands(), sent, false), "+wq04=000"));
    EXPECT_EQ(out.Messages, TCommands{"ОШИБКА при записи!"});
    EXPECT_TRUE(out.HasLine("DT ОШИБКА при записи общих настроек", true));
    EXPECT_TRUE(rig.device.Failed());
  }
  // The delays record refused.
  panel.ClearCommands();
  panel.ClearFaults();
  panel.AddFault({"+wp=", EFault::Refuse, false});
  const TOutput out = rig.Run(Pages::Common, 4);
  EXPECT_EQ(out.Messages, TCommands{"ОШИБКА при записи!"});
  EXPECT_EQ(panel.State().EntryDelay, TPanelState().EntryDelay);
}

// ---------------------------------------------------------------- keys

TEST_F(Exchanges, ReadKeysPutsThemIntoTheRows) {
  TPanelState state;
  state.Keys[0] = "0123456789ABCDEF";
  state.Keys[9] = "FFFFFFFFFFFFFFFF";
  panel.SetState(state);
  const TOutput out = rig.Run(Pages::Keys, 3);
  EXPECT_EQ(panel.Commands(), Numbered("+rk", 0, 9));
  EXPECT_TRUE(out.Rows.empty());
  ASSERT_TRUE(out.Holds(TGroup::Keys));
  EXPECT_EQ(out.Read().Key[0], "EFCDAB8967452301");
  for (int row = 2; row <= 10; ++row) EXPECT_EQ(out.Read().Key[row - 1], TSettings::EmptyKey);  // all ones too

  EXPECT_EQ(out.Memo[0], (TOutput::TLine{"DT " + Eq80, false}));
  EXPECT_EQ(out.Memo[1], (TOutput::TLine{"DT Читаем ключи", false}));
  const size_t first = out.IndexOf("DT Читаем ключ №1");
  ASSERT_LT(first + 1, out.Memo.size());
  EXPECT_TRUE(out.Memo[first].Shown);
  EXPECT_EQ(out.Memo[first + 1], (TOutput::TLine{">> +rk0", true}));
  EXPECT_TRUE(out.HasLine(">> +rk9", true));
  // The read has no closing lines.
  EXPECT_EQ(std::count(out.Memo.begin(), out.Memo.end(), TOutput::TLine{"DT " + Eq80, false}), 1);
  EXPECT_EQ(out.Messages, TCommands{"Успешно прочитали ключи"});
}

TEST_F(Exchanges, ReadKeysStopsAtAKeyWithoutOk) {
  panel.AddFault({"+rk4", EFault::NoOk, false});
  const TOutput out = rig.Run(Pages::Keys, 3);
  TCommands expected = Numbered("+rk", 0, 3);
  expected.insert(expected.end(), 3, "+rk4");
  EXPECT_EQ(panel.Commands(), expected);
  EXPECT_FALSE(out.Holds(TGroup::Keys));
  EXPECT_EQ(out.Result.Command, "+rk4");
  EXPECT_TRUE(out.HasLine("DT ОШИБКА при чтении ключей", true));
  EXPECT_EQ(out.Messages, TCommands{"ОШИБКА при чтении!"});
  EXPECT_TRUE(rig.device.Failed());
}

TEST_F(Exchanges, WriteKeysSendsTheRows) {
  rig.settings.Key[0] = "0123456789ABCDEF";
  rig.settings.Key[1] = TSettings::BlankKey;
  rig.settings.Key[2] = *CanonicalKey("123456789abcdef");
  rig.settings.Key[9] = "00000000000000A1";
  const TOutput out = rig.Run(Pages::Keys, 4);
  const TCommands expected = {"+wk0=EFCDAB8967452301", "+wk1=0000000000000000", "+wk2=EFCDAB8967452301",
                              "+wk3=0000000000000000", "+wk4=0000000000000000", "+wk5=0000000000000000",
                              "+wk6=0000000000000000", "+wk7=0000000000000000", "+wk8=0000000000000000",
                              "+wk9=A100000000000000"};
  EXPECT_EQ(panel.Commands(), expected);
  EXPECT_EQ(panel.State().Keys[0], "EFCDAB8967452301");
  EXPECT_EQ(panel.State().Keys[9], "A100000000000000");
  for (const std::string& command : expected) EXPECT_TRUE(out.HasLine(">> " + command, true));
  EXPECT_TRUE(out.HasLine("DT Пишем ключ №10", true));
  EXPECT_EQ(out.Memo[0], (TOutput::TLine{"DT " + Eq80, false}));
  EXPECT_EQ(out.Memo[1], (TOutput::TLine{"DT Пишем ключи", false}));
  EXPECT_EQ(std::vector<TOutput::TLine>(out.Memo.end() - 2, out.Memo.end()),
            (std::vector<TOutput::TLine>{{"DT Окончили писать ключи", false}, {"DT " + Eq80, false}}));
  EXPECT_EQ(out.Messages, TCommands{"Успешно записали ключи!"});
}

TEST_F(Exchanges, WriteKeysStopsAtAKeyWithoutAnswer) {
  panel.AddFault({"+wk3", EFault::Silence, false});
  const TOutput out = rig.Run(Pages::Keys, 4);
  TCommands expected = {"+wk0=0000000000000000", "+wk1=0000000000000000", "+wk2=0000000000000000"};
  expected.insert(expected.end(), 3, "+wk3=0000000000000000");
  EXPECT_EQ(panel.Commands(), expected);
  // Closing lines first, then the error line.
  ASSERT_GE(out.Memo.size(), 2u);
  EXPECT_EQ(out.Memo.back(), (TOutput::TLine{"DT ОШИБКА при записи ключей", true}));
  EXPECT_EQ(out.Messages, TCommands{"ОШИБКА при записи!"});
}

// ---------------------------------------------------------------- GSM

TEST_F(Exchanges, ReadGsmSelectsModuleAndRing) {
  struct TCase {
    int module;
    int ring;
    const char* radio;
    TCommands ringIndex;
  };
  // -1 puts "-" where the ring's digit stands: not a ring duration, nothing
  // posted, the label red and the read failed.
  for (const TCase& c :
       {TCase{0, 3, "rb1", {"2"}}, TCase{1, 6, "rb2", {"5"}}, TCase{2, 1, "rb3", {"0"}}, TCase{7, -1, "rb3", {}}}) {
    SCOPED_TRACE(c.module);
    TPanelState state;
    state.GsmModule = c.module;
    state.Ring = c.ring;
    panel.SetState(state);
    panel.ClearCommands();
    const TOutput out = rig.Run(Pages::GSM, 3);
    // A ring value the list cannot hold is asked for again, like no answer.
    EXPECT_EQ(panel.Commands(), (c.ring > 0 ? TCommands{"+rg", "+rh"} : TCommands{"+rg", "+rh", "+rh", "+rh"}));
    const bool ringRead = !c.ringIndex.empty();
    EXPECT_EQ(out.Holds(TGroup::Gsm), ringRead);
    EXPECT_EQ(out.Read().Module, c.radio[2] - '1');
    if (ringRead) {
      EXPECT_EQ(std::to_string(out.Read().Ring), c.ringIndex[0]);
    }
    EXPECT_TRUE(out.PageTexts(Pages::GSM).empty());
    EXPECT_EQ(out.ColoursFor(Pages::GSM, "RzGroupBox1"), TCommands{"clBlue"});
    const bool ringGood = !c.ringIndex.empty();
    EXPECT_EQ(out.ColoursFor(Pages::GSM, "lbRing"), TCommands{ringGood ? "clBlue" : "clRed"});
    EXPECT_EQ(out.Messages, ringGood ? TCommands{} : TCommands{"ОШИБКА при чтении!"});
    EXPECT_EQ(rig.device.Failed(), !ringGood);
    EXPECT_FALSE(out.HasLine("DT " + Eq80, false));  // no memo lines of its own
  }
}

TEST_F(Exchanges, ReadGsmFailuresGoOnButFailTheRead) {
  // "ERROR" for the module: red, the ring is read all the same, and the read
  // has failed.
  panel.AddFault({"+rg", EFault::Error, false});
  TOutput out = rig.Run(Pages::GSM, 3);
  EXPECT_EQ(panel.Commands(), (TCommands{"+rg", "+rg", "+rg", "+rh"}));
  EXPECT_EQ(out.ColoursFor(Pages::GSM, "RzGroupBox1"), TCommands{"clRed"});
  EXPECT_EQ(out.ColoursFor(Pages::GSM, "lbRing"), TCommands{"clBlue"});
  EXPECT_FALSE(out.Holds(TGroup::Gsm));
  EXPECT_EQ(out.Result.Outcome, TOutcome::Refused);
  EXPECT_EQ(out.Result.Command, "+rg");
  EXPECT_EQ(out.Messages, TCommands{"ОШИБКА при чтении!"});
  EXPECT_TRUE(rig.device.Failed());

  // A stop while the module is asked for: the ring is not asked, and the read
  // is reported as failed like any other page's.
  panel.ClearCommands();
  panel.ClearFaults();
  panel.AddFault({"+rg", EFault::Silence, false});
  TerminateOn("+rg");
  out = rig.Run(Pages::GSM, 3);
  EXPECT_EQ(panel.Commands(), TCommands{"+rg"});
  EXPECT_EQ(out.ColoursFor(Pages::GSM, "RzGroupBox1"), TCommands{"clRed"});
  EXPECT_TRUE(out.ColoursFor(Pages::GSM, "lbRing").empty());
  EXPECT_EQ(out.Result.Outcome, TOutcome::Interrupted);
  EXPECT_EQ(out.Messages, TCommands{"ОШИБКА при чтении!"});
}

TEST_F(Exchanges, WriteGsmFromThePage) {
  struct TCase {
    const char* name;
    const char* on;  // the radio button that is on, or ""
    const char* ringIndex;
    TCommands commands;
    int module;
    int ring;
    const char* ringColour;
  };
  for (const TCase& c : {TCase{"siemens-45-ring-4", "rb2", "3", {"+wg=1", "+wh=4"}, 1, 4, "clBlue"},
                         TCase{"modem-ring-1", "rb3", "0", {"+wg=2", "+wh=1"}, 2, 1, "clBlue"},
                         TCase{"siemens-35-ring-6", "rb1", "5", {"+wg=0", "+wh=6"}, 0, 6, "clBlue"}}) {
    SCOPED_TRACE(c.name);
    TPanelState state;
    state.GsmModule = 1;
    panel.SetState(state);
    panel.ClearCommands();
    rig.settings.Module = c.on[2] - '1';
    rig.settings.Ring = std::stoi(c.ringIndex);
    const TOutput out = rig.Run(Pages::GSM, 4);
    EXPECT_EQ(panel.Commands(), c.commands);
    EXPECT_EQ(panel.State().GsmModule, c.module);
    EXPECT_EQ(panel.State().Ring, c.ring);
    EXPECT_EQ(out.ColoursFor(Pages::GSM, "RzGroupBox1"), TCommands{"clBlue"});
    EXPECT_EQ(out.ColoursFor(Pages::GSM, "lbRing"), TCommands{c.ringColour});
    // The panel refuses a ring of 0: the write has failed.
    EXPECT_EQ(out.Messages, c.ringColour == std::string("clRed") ? TCommands{"ОШИБКА при записи!"} : TCommands{});
  }
}

// ---------------------------------------------------------------- ADC

namespace {

const TCommands AdcReadCommands = {"+c=0", "+it04", "+it03", "+it02", "+it01", "+it00",
                                   "+c=1", "+it14", "+it13", "+it12", "+it11", "+it10"};

TPanelState AdcState() {
  TPanelState s;
  s.Adc[0].Reading = 0x1FF;
  s.Adc[0].Thresholds = {100, 300, 500, 700, 1023};
  s.Adc[1].Reading = 0x2A0;
  s.Adc[1].Thresholds = {10, 20, 30, 40, 50};
  return s;
}

}  // namespace

TEST_F(Exchanges, ReadAdcMovesSlidersAndPanes) {
  panel.SetState(AdcState());
  const TOutput out = rig.Run(Pages::ACP, 3);
  EXPECT_EQ(panel.Commands(), AdcReadCommands);
  // The readings show as the sliders' levels; the thresholds go into the result.
  const std::vector<TOutput::TSlide> levels = {{"ts", 511, "position"}, {"ts2", 672, "position"}};
  EXPECT_EQ(out.Sliders, levels);
  EXPECT_TRUE(out.PageTexts(Pages::ACP).empty());
  ASSERT_TRUE(out.Holds(TGroup::Adc));
  EXPECT_EQ(out.Read().Threshold[0], (std::array<int, 5>{100, 300, 500, 700, 1023}));
  EXPECT_EQ(out.Read().Threshold[1], (std::array<int, 5>{10, 20, 30, 40, 50}));
  EXPECT_EQ(out.Read().Reading, (std::array<int, 2>{511, 672}));
  TCommands colours;
  for (int i = 0; i < 6; ++i) colours.insert(colours.end(), {"clWindowText", "clBlue"});
  EXPECT_EQ(out.ColoursFor(Pages::ACP, "lbACP1"), colours);
  EXPECT_EQ(out.ColoursFor(Pages::ACP, "lbACP2"), colours);
  EXPECT_TRUE(out.Messages.empty());
  EXPECT_FALSE(out.HasLine("DT " + Eq80, false));
}

TEST_F(Exchanges, ReadAdcSkipsAnUnansweredThreshold) {
  panel.SetState(AdcState());
  panel.AddFault({"+it02", EFault::Silence, false});
  const TOutput out = rig.Run(Pages::ACP, 3);
  EXPECT_EQ(panel.Commands(), AdcReadCommands);  // one attempt each
  EXPECT_FALSE(out.Holds(TGroup::Adc));
  EXPECT_EQ(out.Result.Command, "+it02");
  EXPECT_EQ(out.Read().Threshold[0][1], 300);
  const TCommands label1 = out.ColoursFor(Pages::ACP, "lbACP1");
  EXPECT_EQ(std::count(label1.begin(), label1.end(), "clRed"), 1);
  EXPECT_EQ(out.Messages, TCommands{"ОШИБКА при чтении!"});
  EXPECT_FALSE(rig.link.IsTerminated());
  EXPECT_TRUE(rig.device.Failed());
}

TEST(ExchangesOnScript, ReadAdcSkipsValuesThatAreNotHexadecimal) {
  auto reply = [](const std::string& command, const std::string& line) { return command + "\r" + line + "\rOK\r\n"; };
  std::vector<std::string> script = {reply("+c=0", "1G0"), reply("+it04", "3FF"), reply("+it03", ""),
                                     reply("+it02", "010"), reply("+it01", "-12")};
  for (size_t i = 5; i < AdcReadCommands.size(); ++i) script.push_back(reply(AdcReadCommands[i], "010"));
  TScriptedPeer peer(script);
  TRig rig(peer.Path(), peer);
  const TOutput out = rig.Run(Pages::ACP, 3);
  EXPECT_EQ(peer.Commands(), AdcReadCommands);
  EXPECT_TRUE(out.HasLine("DT  # !!! Неверное значение в ответе на +c=0: 1G0", true));
  EXPECT_TRUE(out.HasLine("DT  # !!! Нет значения в ответе на +it03", true));
  EXPECT_TRUE(out.HasLine("DT  # !!! Неверное значение в ответе на +it01: -12", true));
  // No level for channel 1; the values that were read are kept apart from
  // the page, which takes none of a failed read.
  EXPECT_EQ(out.Sliders, (std::vector<TOutput::TSlide>{{"ts2", 16, "position"}}));
  EXPECT_FALSE(out.Holds(TGroup::Adc));
  EXPECT_EQ(out.Result.Command, "+c=0");
  EXPECT_EQ(out.Read().Reading[0], -1);
  EXPECT_EQ(out.Read().Threshold[0][4], 1023);
  EXPECT_EQ(out.Read().Threshold[0][2], 16);
  EXPECT_FALSE(rig.link.IsTerminated());
  EXPECT_EQ(out.Messages, TCommands{"ОШИБКА при чтении!"});
}

TEST_F(Exchanges, WriteAdcSendsThumbPositions) {
  const int ts[5] = {0, 23, 46, 69, 92};
  const int ts2[5] = {100, 200, 300, 400, 1023};
  for (int k = 0; k < 5; ++k) {
    rig.settings.Threshold[0][k] = ts[k];
    rig.settings.Threshold[1][k] = ts2[k];
  }
  // A failed threshold does not stop the write.
  panel.AddFault({"+it02=", EFault::Silence, false});
  const TOutput out = rig.Run(Pages::ACP, 4);
  EXPECT_EQ(panel.Commands(), (TCommands{"+it04=05C", "+it03=045", "+it02=02E", "+it01=017", "+it00=000", "+it14=3FF",
                                         "+it13=190", "+it12=12C", "+it11=0C8", "+it10=064"}));
  const TPanelState state = panel.State();
  EXPECT_EQ(state.Adc[0].Thresholds, (std::array<int, 5>{0, 23, 500, 69, 92}));  // 500: the panel's own
  EXPECT_EQ(state.Adc[1].Thresholds, (std::array<int, 5>{100, 200, 300, 400, 1023}));
  const TCommands label1 = out.ColoursFor(Pages::ACP, "lbACP1");
  EXPECT_EQ(std::count(label1.begin(), label1.end(), "clRed"), 1);
  EXPECT_EQ(out.Messages, TCommands{"ОШИБКА при записи!"});
}

// ---------------------------------------------------------------- all pages

namespace {

// Read all and Write all: framed by lines of 81 "=" in the log only, each
// group by its own lines of 80, the pages brought to the front in order.
void ExpectFraming(const TOutput& out, const char* start, const char* end, long groupSeparators) {
  const std::string eq81(81, '=');
  ASSERT_GE(out.Memo.size(), 5u);
  EXPECT_EQ(std::vector<TOutput::TLine>(out.Memo.begin(), out.Memo.begin() + 3),
            (std::vector<TOutput::TLine>{{" ", false}, {eq81, false}, {std::string("DT ") + start, false}}));
  EXPECT_EQ(std::vector<TOutput::TLine>(out.Memo.end() - 2, out.Memo.end()),
            (std::vector<TOutput::TLine>{{std::string("DT ") + end, false}, {eq81, false}}));
  EXPECT_EQ(std::count(out.Memo.begin(), out.Memo.end(), TOutput::TLine{"DT " + Eq80, false}), groupSeparators);
  std::vector<std::string> shown;
  for (const auto& [target, text] : out.Controls)
    if (text == "Show") shown.push_back(target.Form);
  EXPECT_EQ(shown, (std::vector<std::string>{Pages::Common, Pages::Keys, Pages::GSM}));
}

}  // namespace

TEST_F(Exchanges, WriteAllThenReadAllGivesThePageBack) {
  FillCommonPage(rig.settings);
  rig.settings.Key[0] = "0123456789ABCDEF";
  rig.settings.Key[4] = "00000000000000A5";
  rig.settings.Module = 2;
  rig.settings.Ring = 5;
  TOutput out = rig.Run(Pages::Keys, 6);
  EXPECT_EQ(out.Messages, TCommands{"Запись всех параметров завершена!"});
  ExpectFraming(out, "Пишем всё", "Окончили писать всё", 4);
  TCommands written = WriteCommonCommands();
  for (int row = 1; row <= 10; ++row)
    written.push_back("+wk" + std::to_string(row - 1) + "=" + SwapKeyBytes(rig.settings.Key[row - 1]));
  written.insert(written.end(), {"+wg=2", "+wh=6"});
  EXPECT_EQ(panel.Commands(), written);
  // The window's progress counts the commands as the link logs them.
  auto sentLines = [](const TOutput& o) {
    return std::count_if(o.Memo.begin(), o.Memo.end(), [](const TOutput::TLine& l) { return l.Text.rfind("-> ", 0) == 0; });
  };
  EXPECT_EQ(sentLines(out), OperationSize::WriteAllCommands);
  EXPECT_EQ(int(written.size()), OperationSize::WriteAllCommands);

  panel.ClearCommands();
  out = rig.Run(Pages::Keys, 5);
  EXPECT_EQ(out.Messages, TCommands{"Чтение всех параметров завершено!"});
  ExpectFraming(out, "Читаем всё", "Окончили читать всё", 3);
  TCommands read = ReadCommonCommands();
  for (const std::string& c : Numbered("+rk", 0, 9)) read.push_back(c);
  read.insert(read.end(), {"+rg", "+rh"});
  EXPECT_EQ(panel.Commands(), read);
  EXPECT_EQ(sentLines(out), OperationSize::ReadAllCommands);
  EXPECT_EQ(int(read.size()), OperationSize::ReadAllCommands);
  // What was written comes back whole.
  TSettings expected = rig.settings;
  expected.Groups = TGroups::All();
  TSettings back = out.Read();
  EXPECT_EQ(back.Groups, TGroups::All());
  EXPECT_TRUE(back == expected);
  EXPECT_EQ(rig.device.GetPage(), Pages::GSM);
}

TEST_F(Exchanges, TerminationDuringReadAllEndsQuietly) {
  panel.AddFault({"+rk2", EFault::Silence, false});
  TerminateOn("+rk2");
  const TOutput out = rig.Run(Pages::Common, 5);
  TCommands expected = ReadCommonCommands();
  for (const std::string& c : Numbered("+rk", 0, 2)) expected.push_back(c);
  EXPECT_EQ(panel.Commands(), expected);
  EXPECT_TRUE(out.Messages.empty());
  EXPECT_TRUE(out.HasLine("DT ОШИБКА при чтении ключей", true));
  EXPECT_EQ(out.Result.Outcome, TOutcome::Interrupted);
  EXPECT_EQ(out.Read().Groups, TGroups(TGroup::Common));  // the whole Read all is refused by the window
  EXPECT_EQ(rig.device.GetPage(), Pages::Keys);
  EXPECT_TRUE(rig.link.IsTerminated());
}

// ---------------------------------------------------------------- untrusted replies

namespace {

struct TUntrusted {
  const char* name;
  const char* page;
  const char* prefix;      // the request answered wrongly
  const char* reply;       // what the panel sends for it
  const char* control;     // nothing may be posted for it
  const char* line;        // a memo line that says why, or nullptr
  bool linkLost;
};

void PrintTo(const TUntrusted& c, std::ostream* os) { *os << c.name; }

class UntrustedReplies : public Exchanges, public ::testing::WithParamInterface<TUntrusted> {};

}  // namespace

// A reply that came back with "OK" but cannot be trusted fails its request:
// nothing from it reaches a control, and the read ends in its error box.
TEST_P(UntrustedReplies, FailTheRead) {
  const TUntrusted& c = GetParam();
  panel.SetState(CommonState());
  ostrel::sim::TFault fault{c.prefix, EFault::Reply, false};
  fault.Reply = c.reply;
  panel.AddFault(fault);
  const TOutput out = rig.Run(c.page, 3);
  EXPECT_EQ(out.Messages, TCommands{"ОШИБКА при чтении!"});
  EXPECT_TRUE(rig.device.Failed());
  const std::string control = c.control;
  EXPECT_FALSE(out.Holds(GroupOfPage(c.page)));
  if (control == "ts")
    EXPECT_TRUE(std::none_of(out.Sliders.begin(), out.Sliders.end(),
                             [](const TOutput::TSlide& s) { return s.Text == "position" && s.Slider == "ts"; }));
  if (c.line) EXPECT_TRUE(out.HasLine(std::string("DT ") + c.line, true)) << c.line;
  EXPECT_EQ(rig.link.IsTerminated(), c.linkLost);
}

INSTANTIATE_TEST_SUITE_P(
    Exchanges, UntrustedReplies,
    ::testing::Values(
        TUntrusted{"another-command-answered", Pages::Common.c_str(), "+rt05", "+rt06\r+rt0689160000006\rOK\r\n",
                   "etPhone5", nullptr, false},
        TUntrusted{"reply-line-of-another-request", Pages::Common.c_str(), "+rt05",
                   "+rt05\r+rt0689160000006\rOK\r\n", "etPhone5", " # !!! Ответ не на команду +rt05", false},
        TUntrusted{"phone-longer-than-20", Pages::Common.c_str(), "+rt05", "+rt05\r+rt05123456789012345678901\rOK\r\n",
                   "etPhone5", " # !!! Неверное значение в ответе на +rt05: 123456789012345678901", false},
        TUntrusted{"flag-position-not-0-or-1", Pages::Common.c_str(), "+rq07", "+rq07\r+rq071x0\rOK\r\n", "cbReact7",
                   " # !!! Неверное значение в ответе на +rq07: 1x0", false},
        TUntrusted{"delay-option-not-0-or-1", Pages::Common.c_str(), "+rp", "+rp\r+rp1E0A12\rOK\r\n", "cbWaitSend",
                   " # !!! Неверное значение в ответе на +rp: 1E0A12", false},
        TUntrusted{"module-digit-missing", Pages::GSM.c_str(), "+rg", "+rg\r+rg\rOK\r\n", "rb3",
                   " # !!! Нет значения в ответе на +rg", false},
        TUntrusted{"no-carrier-for-a-phone", Pages::Common.c_str(), "+rt05", "\r\nNO CARRIER\r\n", "etPhone5",
                   "ОШИБКА!Цифровое соединение разорвано!", true},
        TUntrusted{"phone-with-letters", Pages::Common.c_str(), "+rt05", "+rt05\r+rt05ARRIER\rOK\r\n", "etPhone5",
                   " # !!! Неверное значение в ответе на +rt05: ARRIER", false},
        TUntrusted{"flags-refused", Pages::Common.c_str(), "+rq03", "+rq03\rERR\r\n", "cbReact3", nullptr, false},
        TUntrusted{"delays-not-hexadecimal", Pages::Common.c_str(), "+rp", "+rp\r+rpZZ0A10\rOK\r\n", "seTimeOut",
                   " # !!! Неверное значение в ответе на +rp: ZZ0A10", false},
        TUntrusted{"key-not-hexadecimal", Pages::Keys.c_str(), "+rk0", "+rk0\r+rk010.12.2026 12:20\rOK\r\n", "TMLV",
                   " # !!! Неверное значение в ответе на +rk0: 10.12.2026 12:20", false},
        TUntrusted{"ring-outside-1-to-6", Pages::GSM.c_str(), "+rh", "+rh\r+rh9\rOK\r\n", "cbRing",
                   " # !!! Неверное значение в ответе на +rh: 9", false},
        TUntrusted{"adc-reading-beyond-3ff", Pages::ACP.c_str(), "+c=0", "+c=0\r1388\rOK\r\n", "ts",
                   " # !!! Неверное значение в ответе на +c=0: 1388", false}),
    [](const auto& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

TEST(ProtocolText, JudgeAnswer) {
  const TRequestRule phone{TReplyForm::Echoed, IsPhoneValue};
  const TRequestRule flags{TReplyForm::Echoed, IsFlagsValue};
  const TRequestRule version{TReplyForm::Version};
  const TRequestRule write{};
  struct TCase {
    const char* name;
    const char* command;
    TRequestRule rule;
    const char* text;
    TReplyFault fault;
    size_t answerAt;
  };
  const TCase cases[] = {
      {"good", "+rt05", phone, "+rt05\r+rt05123\rOK\r\n", TReplyFault::Good, 0},
      {"lower-case-ok-after-a-line-feed", "+rt05", phone, "\n+rt05\r+rt05123\rok\r\n", TReplyFault::Good, 1},
      {"late-ok-of-the-previous-command", "+rt05", phone, "\r\nOK\r\n+rt05\r+rt05123\rOK\r\n", TReplyFault::Good, 6},
      {"late-ok-alone", "+rt05", phone, "\r\nOK\r\n+rt05\r", TReplyFault::Incomplete, 6},
      {"reply-line-without-ok-yet", "+rt05", phone, "+rt05\r+rt05123\r", TReplyFault::Incomplete, 0},
      {"refused", "+rt05", phone, "+rt05\rERR\r\n", TReplyFault::Refused, 0},
      {"link-lost", "+rt05", phone, "+rt05\r\r\nBUSY\r\nOK", TReplyFault::Incomplete, 0},
      {"another-command-answered", "+rt05", phone, "+rt06\r+rt06123\rOK\r\n", TReplyFault::Incomplete, 0},
      {"echo-inside-a-longer-command", "+rt05", phone, "+rt051\r+rt05123\rOK\r\n", TReplyFault::Incomplete, 0},
      {"reply-line-of-another-request", "+rt05", phone, "+rt05\r+rt06123\rOK\r\n", TReplyFault::WrongLine, 0},
      {"phone-with-a-letter", "+rt05", phone, "+rt05\r+rt05ARRIER\rOK\r\n", TReplyFault::BadValue, 0},
      {"flag-position-2", "+rq05", flags, "+rq05\r+rq05120\rOK\r\n", TReplyFault::BadValue, 0},
      {"flags-short", "+rq05", flags, "+rq05\r+rq0510\rOK\r\n", TReplyFault::BadValue, 0},
      {"version-with-error-word", "+v", version, "+v\rVER 05.10 ERROR\rOK\r\n", TReplyFault::Good, 0},
      {"version-refused", "+v", version, "+v\rERR\rOK\r\n", TReplyFault::Refused, 0},
      {"version-other", "+v", version, "+v\rVER 04.00\rOK\r\n", TReplyFault::WrongLine, 0},
      {"write-confirmed", "+wt05=1", write, "+wt05=1\rOK\r\n", TReplyFault::Good, 0},
      {"write-refused", "+wt05=1", write, "+wt05=1\rERROR\r\n", TReplyFault::Refused, 0},
      {"write-without-echo", "+wt05=1", write, "OK\r\n", TReplyFault::Incomplete, 0},
  };
  for (const TCase& c : cases) {
    const TReplyJudgement j = JudgeAnswer(c.command, c.text, c.rule);
    EXPECT_EQ(j.Fault, c.fault) << c.name;
    if (j.Fault != TReplyFault::Incomplete) EXPECT_EQ(j.AnswerAt, c.answerAt) << c.name;
  }
}

TEST(ProtocolText, ValueRules) {
  EXPECT_TRUE(IsPhoneValue("+79161234567") && IsPhoneValue("") && IsPhoneValue(std::string(20, '9')));
  EXPECT_FALSE(IsPhoneValue("8 916") || IsPhoneValue("ARRIER") || IsPhoneValue(std::string(21, '9')));
  EXPECT_TRUE(IsKeyValue("0123456789abcdef") && !IsKeyValue("0123456789ABCDEF0") && !IsKeyValue("G1"));
  EXPECT_TRUE(IsFlagsValue("101") && !IsFlagsValue("1a1") && !IsFlagsValue("10") && !IsFlagsValue("1011"));
  EXPECT_TRUE(IsDelaysValue("1E0A10") && !IsDelaysValue("1E0A12") && !IsDelaysValue("1E0A1"));
  EXPECT_FALSE(IsDelaysValue("1G0A10"));
  EXPECT_TRUE(IsModuleValue("2") && IsModuleValue("7") && !IsModuleValue(""));
  EXPECT_TRUE(IsRingValue("6") && !IsRingValue("0") && !IsRingValue("") && !IsRingValue("12"));
}
