#include "link/Clock.h"

#include <poll.h>
#include <time.h>

#include <cerrno>
#include <chrono>

namespace {

// Polls the given descriptors (negative ones are skipped by poll) for up to
// timeoutMs; returns early when one is readable or hung up.
void PollFor(int timeoutMs, int fd1, int fd2, int fd3 = -1) {
  pollfd fds[3] = {{fd1, POLLIN, 0}, {fd2, POLLIN, 0}, {fd3, POLLIN, 0}};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int left = static_cast<int>(
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (left < 0) left = 0;
    int rc = poll(fds, 3, left);
    if (rc >= 0 || errno != EINTR || left == 0) return;
  }
}

constexpr int64_t kNsPerSecond = 1'000'000'000;

int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * kNsPerSecond + now.tv_nsec;
}

class TRealClock : public TClock {
 public:
  uint32_t NowMs() override {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void Wait(uint32_t ms, int fd1, int fd2, int fd3) override { PollFor(static_cast<int>(ms), fd1, fd2, fd3); }
  TDeadline DeadlineIn(uint32_t ms) override { return {MonotonicNs() + int64_t{ms} * 1'000'000}; }
  void WaitUntil(TDeadline deadline) override {
    // An absolute sleep: a signal that interrupts it resumes toward the same
    // moment, and no rounding of a relative time is added.
    const timespec due{static_cast<time_t>(deadline.Ns / kNsPerSecond), static_cast<long>(deadline.Ns % kNsPerSecond)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
    }
  }
};

}  // namespace

TClock& TClock::Real() {
  static TRealClock clock;
  return clock;
}

void TVirtualClock::Wait(uint32_t ms, int fd1, int fd2, int fd3) {
  if (owes_) {
    // A far end that never catches up (a fault of the test) ends the
    // stand-still after a while of real time.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (owes_() && std::chrono::steady_clock::now() < limit) {
      pollfd fds[3] = {{fd1, POLLIN, 0}, {fd2, POLLIN, 0}, {fd3, POLLIN, 0}};
      // Something to read, or a stop: the waiter looks first, in no time.
      if (poll(fds, 3, 0) > 0) return;
      PollFor(1, fd1, fd2, fd3);
    }
  }
  PollFor(static_cast<int>(ms / speed_), fd1, fd2, fd3);
  nowNs_ += int64_t{ms} * kNsPerMs;
}

void TVirtualClock::WaitUntil(TDeadline deadline) {
  const int64_t left = deadline.Ns - nowNs_.load();
  if (left <= 0) return;
  PollFor(static_cast<int>(left / kNsPerMs / speed_), -1, -1);
  // Never back: another thread may have advanced the clock meanwhile.
  int64_t now = nowNs_.load();
  while (now < deadline.Ns && !nowNs_.compare_exchange_weak(now, deadline.Ns)) {
  }
}
