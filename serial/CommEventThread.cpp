#include "serial/CommEventThread.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "serial/GuiSync.h"

namespace {

void SignalFd(int fd) {
  const uint64_t one = 1;
  // The counter only has to become non-zero.
  [[maybe_unused]] ssize_t n = write(fd, &one, sizeof one);
}

}  // namespace

TCommEventThread::TCommEventThread(TCustomComm* comm, int deviceFd) : comm_(comm) {
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  doneFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  bool ok = epollFd_ >= 0 && stopFd_ >= 0 && doneFd_ >= 0;
  if (ok) {
    // Edge-triggered: each arrival is reported once, so the watcher sleeps
    // while received bytes wait unread in the input queue. Linux reports only
    // arrivals and hang-ups here; the modem-status and line-error events have
    // no pollable equivalent on a tty.
    epoll_event device{};
    device.events = EPOLLIN | EPOLLET;
    device.data.fd = deviceFd;
    epoll_event stop{};
    stop.events = EPOLLIN;
    stop.data.fd = stopFd_;
    ok = epoll_ctl(epollFd_, EPOLL_CTL_ADD, stopFd_, &stop) == 0 &&
         epoll_ctl(epollFd_, EPOLL_CTL_ADD, deviceFd, &device) == 0;
  }
  if (!ok) {
    const int err = errno;
    CloseDescriptors();
    throw std::system_error(err, std::generic_category(), "event watcher");
  }
  try {
    thread_ = std::thread(&TCommEventThread::Run, this);
  } catch (...) {
    CloseDescriptors();
    throw;
  }
}

TCommEventThread::~TCommEventThread() {
  Stop();
  CloseDescriptors();
}

void TCommEventThread::CloseDescriptors() {
  for (int* fd : {&epollFd_, &stopFd_, &doneFd_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void TCommEventThread::Stop() {
  if (!thread_.joinable()) return;
  SignalFd(stopFd_);
  TGuiSync& sync = TGuiSync::Instance();
  if (sync.IsGuiThread()) sync.WaitServing(doneFd_);
  thread_.join();
}

void TCommEventThread::Run() {
  for (;;) {
    epoll_event events[2];
    const int n = epoll_wait(epollFd_, events, 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;  // a failed wait ends the watcher
    }
    bool stop = false;
    bool lineGone = false;
    uint32_t mask = 0;
    for (int i = 0; i < n; ++i) {
      if (events[i].data.fd == stopFd_) {
        stop = true;
      } else if (events[i].events & (EPOLLHUP | EPOLLERR)) {
        // The line went away (adapter pulled, pty master closed). Its unread
        // bytes are gone with it, so no deChar: DoData would only fail.
        mask |= bit(deError);
        lineGone = true;
      } else if (events[i].events & EPOLLIN) {
        mask |= bit(deChar);
      }
    }
    if (stop) break;  // the stop event wins, as it comes first in the wait list
    lastMask_ = mask;
    DoEvent();
    if (lineGone) break;  // as a failed wait would
  }
  SignalFd(doneFd_);
}

void TCommEventThread::DoEvent() {
  auto deliver = [this] {
    if (lastMask_ != 0 && comm_ != nullptr) comm_->DispatchEvents(static_cast<TDeviceEvents>(lastMask_));
  };
  try {
    if (comm_->synchronize_.load()) {
      TGuiSync::Instance().Call(deliver);
    } else {
      deliver();
    }
  } catch (...) {
    // No exception leaves the watcher, and nobody on this thread can take one
    // from a handler: it is dropped. A line that went away is still reported,
    // by the next wait (deError) and by the owner's next transfer.
  }
}
