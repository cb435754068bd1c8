#include "serial/GuiSync.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

struct TGuiSync::TCall {
  std::function<void()> fn;
  std::exception_ptr error;
  bool done = false;
  std::condition_variable doneCv;
};

TGuiSync& TGuiSync::Instance() {
  static TGuiSync instance;
  return instance;
}

TGuiSync::TGuiSync() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TGuiSync::~TGuiSync() {
  if (wakeFd_ >= 0) close(wakeFd_);
}

void TGuiSync::AttachGuiThread() {
  std::lock_guard lock(mutex_);
  guiThread_ = std::this_thread::get_id();
  attached_ = true;
}

void TGuiSync::DetachGuiThread() {
  Serve();
  std::lock_guard lock(mutex_);
  attached_ = false;
}

bool TGuiSync::IsGuiThread() const {
  std::lock_guard lock(mutex_);
  return attached_ && guiThread_ == std::this_thread::get_id();
}

void TGuiSync::Call(const std::function<void()>& fn) {
  auto call = std::make_shared<TCall>();
  {
    std::unique_lock lock(mutex_);
    if (!attached_ || guiThread_ == std::this_thread::get_id()) {
      lock.unlock();
      fn();
      return;
    }
    call->fn = fn;
    calls_.push_back(call);
    const uint64_t one = 1;
    // The counter only has to become non-zero; a full counter is still readable.
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    call->doneCv.wait(lock, [&] { return call->done; });
  }
  if (call->error) std::rethrow_exception(call->error);
}

int TGuiSync::Serve() {
  uint64_t value = 0;
  [[maybe_unused]] ssize_t n = read(wakeFd_, &value, sizeof value);
  int served = 0;
  for (;;) {
    std::shared_ptr<TCall> call;
    {
      std::lock_guard lock(mutex_);
      if (calls_.empty()) break;
      call = calls_.front();
      calls_.pop_front();
    }
    try {
      call->fn();
    } catch (...) {
      call->error = std::current_exception();
    }
    {
      std::lock_guard lock(mutex_);
      call->done = true;
      call->fn = nullptr;
    }
    call->doneCv.notify_all();
    ++served;
  }
  return served;
}

void TGuiSync::WaitServing(int doneFd) {
  for (;;) {
    Serve();
    pollfd fds[2] = {{doneFd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    int rc = poll(fds, 2, -1);
    if (rc < 0 && errno != EINTR) return;
    if (fds[0].revents) {
      Serve();
      return;
    }
  }
}
