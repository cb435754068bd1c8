// A program under test run as a child process: its standard output and error
// are read through pipes, its exit status is waited for with a deadline.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

extern char** environ;

namespace ostrel::sim::test {

using TClock = std::chrono::steady_clock;

class TChild
{
public:
  TChild(const std::string& program, std::vector<std::string> args)
  {
    args.insert(args.begin(), program);
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

  // Appends what standard output gives within timeoutMs (or until its end); false at its end or
  // when nothing came.
  bool ReadMore(std::string& text, int timeoutMs)
  {
    return ReadSome(Out, text, TClock::now() + std::chrono::milliseconds(timeoutMs));
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

}  // namespace ostrel::sim::test
