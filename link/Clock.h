// Time for the link thread: a millisecond counter and waits that end early
// when a descriptor becomes readable (the port's input, the stop signal).
// Tests replace it with TVirtualClock so that long protocol time-outs pass
// quickly while the real port code still runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

// A moment on one clock's own time line, in nanoseconds; only that clock
// may compare or wait for it.
struct TDeadline {
  int64_t Ns = 0;
  TDeadline After(uint32_t ms) const { return {Ns + int64_t{ms} * 1'000'000}; }
  // How far this moment lies past an earlier one.
  int64_t NsSince(TDeadline earlier) const { return Ns - earlier.Ns; }
};

class TClock {
 public:
  virtual ~TClock() = default;
  // Milliseconds; compare readings by unsigned difference.
  virtual uint32_t NowMs() = 0;
  // Waits ms, or less when fd1, fd2 or fd3 (ignored when negative) becomes
  // readable or reports a hang-up.
  virtual void Wait(uint32_t ms, int fd1 = -1, int fd2 = -1, int fd3 = -1) = 0;
  // The moment ms from now. Taken before some work, then handed to WaitUntil,
  // it makes the work's own time part of the wait instead of adding to it.
  virtual TDeadline DeadlineIn(uint32_t ms) = 0;
  // Waits until the deadline (at once when it has passed).
  virtual void WaitUntil(TDeadline deadline) = 0;

  // The steady clock of the system, shared by every link thread.
  static TClock& Real();
};

// Virtual time: every wait advances the clock by its full length at once,
// while real time passes at 1/Speed of it (a real poll of ms/Speed), so data
// that a peer sends in real time still arrives within a virtual wait.
class TVirtualClock : public TClock {
 public:
  explicit TVirtualClock(uint32_t speed = 10) : speed_(speed) {}
  uint32_t NowMs() override { return static_cast<uint32_t>(nowNs_.load() / kNsPerMs); }
  void Wait(uint32_t ms, int fd1 = -1, int fd2 = -1, int fd3 = -1) override;
  TDeadline DeadlineIn(uint32_t ms) override { return {nowNs_.load() + int64_t{ms} * kNsPerMs}; }
  void WaitUntil(TDeadline deadline) override;
  void Advance(uint32_t ms) { nowNs_ += int64_t{ms} * kNsPerMs; }
  // A far end that answers in real time (a simulator on a pseudo-terminal)
  // says through owes whether it still owes the link something: a command it
  // has not taken in yet, or an answer that is not readable yet. While it
  // does, a wait lets no virtual time pass, so how fast the machine runs the
  // far end changes nothing. Set before the waits begin; called on the
  // waiting thread.
  void SetFarEndOwes(std::function<bool()> owes) { owes_ = std::move(owes); }

 private:
  static constexpr int64_t kNsPerMs = 1'000'000;
  uint32_t speed_;
  std::atomic<int64_t> nowNs_{1000 * kNsPerMs};
  std::function<bool()> owes_;
};
