// The ostrelgsm4-panel-sim program, run as a child process.

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

using ostrel::sim::test::TSimClient;

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;

class TChild
{
public:
  explicit TChild(std::vector<std::string> args)
  {
    args.insert(args.begin(), OSTREL_PANEL_SIM_EXE);
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&Pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    Out = out[0];
    Err = err[0];
  }

  ~TChild()
  {
    if (Pid > 0) {
      ::kill(Pid, SIGKILL);
      ::waitpid(Pid, nullptr, 0);
    }
    if (Out >= 0) ::close(Out);
    if (Err >= 0) ::close(Err);
  }

  // The first line of standard output, without its line end ("" on time-out).
  std::string ReadLine(int timeoutMs)
  {
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    while (line.find('\n') == std::string::npos) {
      if (!ReadSome(Out, line, deadline)) return "";
    }
    return line.substr(0, line.find('\n'));
  }

  // Waits for the exit (end of both outputs, then the status); -1 on time-out or a signal.
  int WaitExit(int timeoutMs)
  {
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    std::string ignored;
    while (ReadSome(Out, ignored, deadline)) {
    }
    while (ReadSome(Err, ErrText, deadline)) {
    }
    if (TClock::now() >= deadline) return -1;
    int status = 0;
    ::waitpid(Pid, &status, 0);
    Pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void Signal(int sig) { ::kill(Pid, sig); }
  const std::string& Errors() const { return ErrText; }
  std::string AllOutput(int timeoutMs)
  {
    std::string text;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    while (ReadSome(Out, text, deadline)) {
    }
    return text;
  }

private:
  // Appends what is there; false at end of file or the deadline.
  static bool ReadSome(int fd, std::string& text, TClock::time_point deadline)
  {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
    pollfd pfd{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&pfd, 1, static_cast<int>(left)) <= 0) return false;
    char buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    text.append(buffer, static_cast<size_t>(n));
    return true;
  }

  pid_t Pid = -1;
  int Out = -1;
  int Err = -1;
  std::string ErrText;
};

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
  TChild help({"--help"});
  const std::string text = help.AllOutput(5000);
  EXPECT_EQ(help.WaitExit(5000), 0);
  for (const char* option : {"--link", "--state", "--version-text", "--fault", "--modem"}) {
    EXPECT_NE(text.find(option), std::string::npos) << option;
  }

  TChild bad({"--bogus"});
  EXPECT_EQ(bad.WaitExit(5000), 2);
  EXPECT_NE(bad.Errors().find("unknown option"), std::string::npos);

  TChild badFault({"--fault", "+rt07:loud"});
  EXPECT_EQ(badFault.WaitExit(5000), 2);
}

TEST_F(PanelSimProgram, ServesLinksSavesAndQuitsOnSigterm)
{
  const auto link = Dir / "panel";
  const auto state = Dir / "panel.state";
  std::ofstream(state) << "phone1=555\ngsm_module=1\n";
  TChild child({"--link", link.string(), "--state", state.string(), "--version-text", "Test VER 05.99",
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
  TChild child({"--state", state.string()});
  EXPECT_EQ(child.WaitExit(5000), 1);
  EXPECT_NE(child.Errors().find("bad value for \"ring\""), std::string::npos) << child.Errors();
  EXPECT_EQ(ReadFile(state), "ring=9\n");
}

TEST_F(PanelSimProgram, ModemModeQuitsOnSigint)
{
  TChild child({"--modem", "--dial", "BUSY"});
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
