// A pseudo-terminal pair for the serial tests: the component opens the slave
// by its path, the test plays the far end on the master.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>

class PtyPair {
 public:
  PtyPair() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~PtyPair() {
    CloseMaster();
    if (slave_ >= 0) close(slave_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& Path() const { return path_; }
  int Master() const { return master_; }
  // A descriptor of our own on the slave: termios is per tty, so tcgetattr on
  // it shows what the component set.
  int Slave() const { return slave_; }

  termios SlaveTermios() const {
    termios t{};
    tcgetattr(slave_, &t);
    return t;
  }

  void Send(const std::string& text) const {
    if (write(master_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      throw std::runtime_error("master write failed");
  }

  // Reads from the master until count bytes came or timeoutMs passed.
  std::string Receive(size_t count, int timeoutMs = 1000) const {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (text.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - text.size()));
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
    return text;
  }

  // Waits until the slave has input to read (level-triggered); false on time-out.
  bool WaitSlaveInput(int timeoutMs = 1000) const {
    pollfd p{slave_, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
  }

  // The far end goes away: the slave is hung up.
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

// Milliseconds of CPU this process used so far (all threads).
inline double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}
