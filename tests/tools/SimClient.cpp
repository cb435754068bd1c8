#include "tests/tools/SimClient.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace ostrel::sim::test {

namespace {

using TClock = std::chrono::steady_clock;

int MsLeft(TClock::time_point deadline)
{
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

TSimClient::TSimClient(const std::string& path)
{
  Fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (Fd < 0) return;
  termios tio{};
  if (tcgetattr(Fd, &tio) == 0) {
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tcsetattr(Fd, TCSANOW, &tio);
  }
}

TSimClient::~TSimClient()
{
  if (Fd >= 0) ::close(Fd);
}

void TSimClient::Send(std::string_view text)
{
  while (!text.empty()) {
    const ssize_t n = ::write(Fd, text.data(), text.size());
    if (n > 0) {
      text.remove_prefix(static_cast<size_t>(n));
    } else if (n < 0 && errno == EAGAIN) {
      pollfd pfd{Fd, POLLOUT, 0};
      ::poll(&pfd, 1, 100);
    } else if (!(n < 0 && errno == EINTR)) {
      return;
    }
  }
}

std::string TSimClient::ReadUntil(std::string_view expected, int timeoutMs)
{
  const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
  std::string text;
  while (expected.empty() || text.find(expected) == std::string::npos) {
    pollfd pfd{Fd, POLLIN, 0};
    const int left = MsLeft(deadline);
    if (::poll(&pfd, 1, left) <= 0) break;
    if (pfd.revents & (POLLHUP | POLLERR)) break;
    char buffer[512];
    const ssize_t n = ::read(Fd, buffer, sizeof buffer);
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
    if (left == 0) break;
  }
  return text;
}

std::string TSimClient::ReadFor(int ms) { return ReadUntil({}, ms); }

std::string TSimClient::Exchange(std::string_view command, int timeoutMs)
{
  Send(std::string(command) + "\r");
  const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
  std::string text;
  while (!text.ends_with("\r\n")) {
    const std::string more = ReadUntil("\n", MsLeft(deadline));
    if (more.empty()) break;
    text += more;
  }
  return text;
}

bool TSimClient::WaitHangUp(int timeoutMs)
{
  pollfd pfd{Fd, POLLIN, 0};
  return ::poll(&pfd, 1, timeoutMs) > 0 && (pfd.revents & POLLHUP);
}

int TSimClient::Pending() const
{
  int count = 0;
  return ioctl(Fd, FIONREAD, &count) == 0 ? count : -1;
}

}  // namespace ostrel::sim::test
