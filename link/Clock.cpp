#include "link/Clock.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

namespace {

// Polls the given descriptors (negative ones are skipped by poll) for up to
// timeoutMs; returns early when one is readable or hung up.
void PollFor(int timeoutMs, int fd1, int fd2) {
  pollfd fds[2] = {{fd1, POLLIN, 0}, {fd2, POLLIN, 0}};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int left = static_cast<int>(
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (left < 0) left = 0;
    int rc = poll(fds, 2, left);
    if (rc >= 0 || errno != EINTR || left == 0) return;
  }
}

class TRealClock : public TClock {
 public:
  uint32_t NowMs() override {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void Wait(uint32_t ms, int fd1, int fd2) override { PollFor(static_cast<int>(ms), fd1, fd2); }
};

}  // namespace

TClock& TClock::Real() {
  static TRealClock clock;
  return clock;
}

void TVirtualClock::Wait(uint32_t ms, int fd1, int fd2) {
  PollFor(static_cast<int>(ms / speed_), fd1, fd2);
  now_ += ms;
}
