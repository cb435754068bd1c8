// The last line of defence of the command exchange: a command that holds a
// control character (other than its own final carriage return) or a byte
// above 0x7E never reaches the port, whatever a control or a file held.
#include <gtest/gtest.h>

#include "tests/common/Drain.h"
#include "tests/protocol/ExchangeRig.h"
#include "tools/PanelSim.h"

using ostrel::sim::TPanelSim;

namespace {

struct TUnsafeCase {
  const char* name;
  std::string command;
  bool raw;
  std::string logged;  // the command as the refusal line shows it
};

class UnsafeCommand : public ::testing::TestWithParam<TUnsafeCase> {};

TEST_P(UnsafeCommand, IsRefusedLoggedAndFails) {
  const TUnsafeCase& c = GetParam();
  TPanelSim panel;
  panel.Start();
  TRig rig(panel.SlavePath(), panel);
  std::string reply = "old";
  EXPECT_EQ(rig.link.SendCommand(c.command, reply, 3, 4500, "OK", false, c.raw), 1);
  EXPECT_EQ(reply, "");
  const TOutput out = Collect(rig.queue);
  ASSERT_EQ(out.Memo.size(), 1u);
  EXPECT_EQ(out.Memo[0].Text, "DT  # !!! Команда не отправлена, в ней недопустимый символ: " + c.logged);
  // The exchange of the next command shows that nothing was sent before it.
  EXPECT_EQ(rig.link.SendCommand("+v", reply, 1, 4500, "OK", true), 0);
  panel.Stop();
  EXPECT_EQ(panel.Commands(), std::vector<std::string>{"+v"});
  EXPECT_FALSE(rig.link.IsTerminated());
}

INSTANTIATE_TEST_SUITE_P(
    Exchange, UnsafeCommand,
    ::testing::Values(TUnsafeCase{"carriage_return_inside", "+wt01=1\r+wp=FF0011", false, "+wt01=1\\x0D+wp=FF0011"},
                      TUnsafeCase{"line_feed", "+wt01=1\n", false, "+wt01=1\\x0A"},
                      TUnsafeCase{"nul_byte", std::string("+wt01=\0", 7), false, "+wt01=\\x00"},
                      TUnsafeCase{"delete", "+wk0=\x7F", false, "+wk0=\\x7F"},
                      TUnsafeCase{"utf8_text", "+wt01=\xD0\xB0", false, "+wt01=\\xD0\\xB0"},
                      TUnsafeCase{"raw_with_two_carriage_returns", "AT\r\r", true, "AT\\x0D\\x0D"},
                      TUnsafeCase{"escape", "\x1B+v", false, "\\x1B+v"}),
    [](const auto& info) { return std::string(info.param.name); });

// A raw command may end with its own carriage return.
TEST(UnsafeCommand, FinalCarriageReturnOfARawCommandPasses) {
  TPanelSim panel;
  panel.Start();
  TRig rig(panel.SlavePath(), panel);
  std::string reply;
  EXPECT_EQ(rig.link.SendCommand("+v\r", reply, 1, 4500, "OK", true, true), 0);
  panel.Stop();
  EXPECT_EQ(panel.Commands(), std::vector<std::string>{"+v"});
}

// A phone edit holding a carriage return or a NUL: the panel receives neither
// the phone nor a command of its own; the flags of the entry still go out,
// and the write has failed there.
TEST(UnsafeCommand, InjectedPhoneNeverReachesThePanel) {
  const std::pair<std::string, std::string> cases[] = {
      {"1\r+wp=FF0011", "+wt01=1\\x0D+wp=FF0011"},
      {std::string("2\0", 2), "+wt01=2\\x00"},
  };
  for (const auto& [phone, logged] : cases) {
    SCOPED_TRACE(logged);
    TPanelSim panel;
    panel.Start();
    TRig rig(panel.SlavePath(), panel);
    rig.settings.Phone[0] = phone;
    const TOutput out = rig.Run(Pages::Common, 4);
    panel.Stop();
    EXPECT_EQ(panel.Commands(), std::vector<std::string>{"+wq01=000"});
    EXPECT_TRUE(out.HasLine("DT  # !!! Команда не отправлена, в ней недопустимый символ: " + logged, true));
    EXPECT_EQ(out.Messages, std::vector<std::string>{"ОШИБКА при записи!"});
  }
}

}  // namespace
