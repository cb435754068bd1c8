// The ostrelgsm4-panel-sim program, run as a child process.

#include "tests/common/Child.h"
#include "tests/tools/SimClient.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using ostrel::sim::test::TChild;
using ostrel::sim::test::TSimClient;

namespace {

std::string ReadFile(const std::filesystem::path& path)
{
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class PanelSimProgram : public ::testing::Test
{
protected:
  void SetUp() override
  {
    Dir = std::filesystem::temp_directory_path() / ("ostrel-simprog-" + std::to_string(::getpid()));
    std::filesystem::create_directories(Dir);
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }

  std::filesystem::path Dir;
};

TEST_F(PanelSimProgram, HelpAndBadOptions)
{
  TChild help(OSTREL_PANEL_SIM_EXE, {"--help"});
  const std::string text = help.AllOutput(5000);
  EXPECT_EQ(help.WaitExit(5000), 0);
  for (const char* option : {"--link", "--state", "--version-text", "--fault", "--modem"}) {
    EXPECT_NE(text.find(option), std::string::npos) << option;
  }

  TChild bad(OSTREL_PANEL_SIM_EXE, {"--bogus"});
  EXPECT_EQ(bad.WaitExit(5000), 2);
  EXPECT_NE(bad.Errors().find("unknown option"), std::string::npos);

  TChild badFault(OSTREL_PANEL_SIM_EXE, {"--fault", "+rt07:loud"});
  EXPECT_EQ(badFault.WaitExit(5000), 2);
}

TEST_F(PanelSimProgram, ServesLinksSavesAndQuitsOnSigterm)
{
  const auto link = Dir / "panel";
  const auto state = Dir / "panel.state";
  std::ofstream(state) << "phone1=555\ngsm_module=1\n";
  TChild child(OSTREL_PANEL_SIM_EXE, {"--link", link.string(), "--state", state.string(), "--version-text", "Test VER 05.99",
                "--fault", "+rk0:error:once"});
  const std::string path = child.ReadLine(5000);
  ASSERT_TRUE(path.starts_with("/dev/pts/")) << path << child.Errors();
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), path);

  {
    TSimClient client(link.string());
    ASSERT_TRUE(client.IsOpen());
    EXPECT_EQ(client.Exchange("+v"), "+v\rTest VER 05.99\rOK\r\n");
    EXPECT_EQ(client.Exchange("+rt01"), "+rt01\r+rt01555\rOK\r\n");
    EXPECT_EQ(client.Exchange("+rk0"), "+rk0\rERROR\r\n");
    EXPECT_EQ(client.Exchange("+wg=2"), "+wg=2\rOK\r\n");
    // Saved before the reply went out.
    EXPECT_NE(ReadFile(state).find("\ngsm_module=2\n"), std::string::npos);
  }

  child.Signal(SIGTERM);
  EXPECT_EQ(child.WaitExit(5000), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  const std::string saved = ReadFile(state);
  EXPECT_NE(saved.find("\nphone1=555\n"), std::string::npos);
  EXPECT_NE(saved.find("\ngsm_module=2\n"), std::string::npos);
}

TEST_F(PanelSimProgram, RefusesABadStateFileWithoutTouchingIt)
{
  const auto state = Dir / "bad.state";
  std::ofstream(state) << "ring=9\n";
  TChild child(OSTREL_PANEL_SIM_EXE, {"--state", state.string()});
  EXPECT_EQ(child.WaitExit(5000), 1);
  EXPECT_NE(child.Errors().find("bad value for \"ring\""), std::string::npos) << child.Errors();
  EXPECT_EQ(ReadFile(state), "ring=9\n");
}

TEST_F(PanelSimProgram, ModemModeQuitsOnSigint)
{
  TChild child(OSTREL_PANEL_SIM_EXE, {"--modem", "--dial", "BUSY"});
  const std::string path = child.ReadLine(5000);
  ASSERT_TRUE(path.starts_with("/dev/pts/")) << path << child.Errors();
  {
    TSimClient client(path);
    client.Send("ATD 1\r");
    EXPECT_TRUE(client.ReadUntil("BUSY", 2000).ends_with("BUSY"));
  }
  child.Signal(SIGINT);
  EXPECT_EQ(child.WaitExit(5000), 0);
}

}  // namespace

TEST_F(PanelSimProgram, RefusesABadAdcScript)
{
  const auto script = Dir / "levels.txt";
  std::ofstream(script) << "1 100 2s\n1 2000 2s\n";
  TChild child(OSTREL_PANEL_SIM_EXE, {"--adc-script", script.string()});
  EXPECT_EQ(child.WaitExit(5000), 1);
  EXPECT_NE(child.Errors().find("line 2: value must be 0..1023"), std::string::npos) << child.Errors();
}
