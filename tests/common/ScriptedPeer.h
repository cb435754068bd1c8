// A peer on a pseudo-terminal that answers each command (bytes up to a
// carriage return) with the next text of its script; an empty text is
// silence. Used to drive the command exchange through the real port code.
#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/Pty.h"

class TScriptedPeer {
 public:
  explicit TScriptedPeer(std::vector<std::string> script = {})
      : script_(script.begin(), script.end()), stopFd_(eventfd(0, EFD_CLOEXEC)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~TScriptedPeer() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(stopFd_, &one, sizeof one);
    thread_.join();
    close(stopFd_);
  }

  const std::string& Path() const { return pty_.SlavePath(); }
  // Bytes sent to the program now, outside the script.
  void Send(const std::string& bytes) {
    std::lock_guard lock(mutex_);
    pending_ += bytes;
  }
  void CloseLine() {
    std::lock_guard lock(mutex_);
    closeLine_ = true;
  }
  std::vector<std::string> Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  bool WaitForCommands(size_t n, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return commands_.size() >= n; });
  }
  // Everything received, including raw commands without a carriage return.
  std::string Received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }
  // How far the line has got (see FarEndOwes): bytes taken in, each one
  // answered by then; bytes written; text of Send not yet written.
  uint64_t BytesTaken() const { return taken_.load(); }
  uint64_t BytesGiven() const { return given_.load(); }
  bool OutputQueued() const {
    std::lock_guard lock(mutex_);
    return !pending_.empty();
  }

 private:
  void Run() {
    std::string line;
    for (;;) {
      {
        std::lock_guard lock(mutex_);
        if (closeLine_ && pty_.IsMasterOpen()) pty_.CloseMaster();
        if (!pending_.empty() && pty_.IsMasterOpen()) {
          const ssize_t n = write(pty_.MasterFd(), pending_.data(), pending_.size());
          if (n > 0) given_ += static_cast<uint64_t>(n);
          pending_.clear();
        }
      }
      pollfd fds[2] = {{pty_.MasterFd(), POLLIN, 0}, {stopFd_, POLLIN, 0}};
      // A short period lets Send and CloseLine from the test take effect.
      poll(fds, 2, 5);
      if (fds[1].revents) return;
      if (!(fds[0].revents & POLLIN)) continue;
      char buffer[256];
      const ssize_t n = read(pty_.MasterFd(), buffer, sizeof buffer);
      if (n <= 0) continue;
      std::lock_guard lock(mutex_);
      received_.append(buffer, static_cast<size_t>(n));
      for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] != '\r') {
          line += buffer[i];
          continue;
        }
        commands_.push_back(line);
        line.clear();
        if (!script_.empty()) {
          const std::string reply = script_.front();
          script_.pop_front();
          if (!reply.empty()) {
            const ssize_t w = write(pty_.MasterFd(), reply.data(), reply.size());
            if (w > 0) given_ += static_cast<uint64_t>(w);
          }
        }
        changed_.notify_all();
      }
      taken_ += static_cast<uint64_t>(n);
    }
  }

  ostrel::sim::TPty pty_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<std::string> script_;
  std::vector<std::string> commands_;
  std::string received_;
  std::string pending_;
  bool closeLine_ = false;
  std::atomic<uint64_t> taken_{0};
  std::atomic<uint64_t> given_{0};
  int stopFd_;
  std::thread thread_;
};
