#pragma once
// The program's side of a simulator's pseudo-terminal, for tests: opens the slave raw and talks
// to it with poll()-based waits.

#include <string>
#include <string_view>

namespace ostrel::sim::test {

class TSimClient
{
public:
  explicit TSimClient(const std::string& path);
  ~TSimClient();
  TSimClient(const TSimClient&) = delete;
  TSimClient& operator=(const TSimClient&) = delete;

  bool IsOpen() const { return Fd >= 0; }

  void Send(std::string_view text);
  // Reads until the text received contains `expected`, or the time-out passes; returns it all.
  std::string ReadUntil(std::string_view expected, int timeoutMs);
  // Everything that arrives within the given time.
  std::string ReadFor(int ms);
  // Sends the command and a carriage return and reads until the reply ends with CR LF.
  std::string Exchange(std::string_view command, int timeoutMs = 2000);
  // Waits until the line is dropped (POLLHUP on our side).
  bool WaitHangUp(int timeoutMs);
  // Bytes waiting to be read.
  int Pending() const;

private:
  int Fd = -1;
};

}  // namespace ostrel::sim::test
