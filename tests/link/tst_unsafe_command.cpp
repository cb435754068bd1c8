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
  TRig rig(panel.SlavePath());
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
  TRig rig(panel.SlavePath());
  std::string reply;
  EXPECT_EQ(rig.link.SendCommand("+v\r", reply, 1, 4500, "OK", true, true), 0);
  panel.Stop();
  EXPECT_EQ(panel.Commands(), std::vector<std::string>{"+v"});
}

// A phone edit holding a carriage return or a NUL: the panel receives neither
// the phone nor a command of its own; the flags of the entry still go out.
TEST(UnsafeCommand, InjectedPhoneNeverReachesThePanel) {
  TPanelSim panel;
  panel.Start();
  TRig rig(panel.SlavePath());
  rig.reader.Set(Pages::Common, "etPhone1", "1\r+wp=FF0011");
  rig.reader.Set(Pages::Common, "etPhone2", std::string("2\0", 2));
  const TOutput out = rig.Run(Pages::Common, 4);
  panel.Stop();
  for (const std::string& command : panel.Commands()) {
    EXPECT_EQ(command.find('\0'), std::string::npos);
    EXPECT_NE(command, "+wp=FF0011");
    EXPECT_EQ(command.rfind("+wt01", 0), std::string::npos) << command;
    EXPECT_EQ(command.rfind("+wt02", 0), std::string::npos) << command;
  }
  EXPECT_TRUE(out.HasLine("DT  # !!! Команда не отправлена, в ней недопустимый символ: +wt01=1\\x0D+wp=FF0011", true));
  EXPECT_TRUE(out.HasLine("DT  # !!! Команда не отправлена, в ней недопустимый символ: +wt02=2\\x00", true));
  const auto commands = panel.Commands();
  EXPECT_NE(std::find(commands.begin(), commands.end(), "+wq01=000"), commands.end());
}

}  // namespace
