// TCustomComm: open and close, transfers, queues, event dispatch, errors.
// The line settings are in LineSettings.cpp, the published properties in XComm.cpp.
#include "serial/XComDrv.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>

#include "serial/CommEventThread.h"

namespace {

const char* const kNotOpen = "Device not opened.";
const char* const kReadFailed = "Unable to read from port.";
const char* const kWriteFailed = "Unable to write to port.";

// The system's text for err without control characters, trailing spaces and
// full stops.

// Sets a lock bit for the life of a handler call, also when it raises.
class TLockBit {
 public:
  TLockBit(uint8_t& bits, uint8_t bit) : bits_(bits), bit_(bit) { bits_ |= bit_; }
  ~TLockBit() { bits_ &= static_cast<uint8_t>(~bit_); }
  TLockBit(const TLockBit&) = delete;
  TLockBit& operator=(const TLockBit&) = delete;

 private:
  uint8_t& bits_;
  uint8_t bit_;
};

// The open failure keeps its errno beside the component's fixed message.
[[noreturn]] void RaiseOpenError(const std::string& message, int err) {
  EDeviceError error(message, CE_CANNOT_OPEN);
  error.SystemError = err;
  throw error;
}

// Milliseconds left before a time-out, plus one so that the clock has passed
// the limit when the wait ends; bounded for poll().
int WaitLeft(uint32_t timeoutMs, uint32_t elapsedMs) {
  const uint64_t left = uint64_t{timeoutMs} - elapsedMs + 1;
  return static_cast<int>(std::min<uint64_t>(left, INT_MAX));
}

}  // namespace

std::string SystemErrorText(int err) {
  char buffer[256];
  const char* text = strerror_r(err, buffer, sizeof buffer);  // GNU variant
  std::string result;
  for (const char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c != 0x7F) result += *p;
  }
  while (!result.empty() && (result.back() == ' ' || result.back() == '.')) result.pop_back();
  return result;
}

const uint32_t BaudTable[15] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                19200, 38400, 56000, 57600, 115200, 128000, 256000};

void RaiseDeviceError(const std::string& message, int code) { throw EDeviceError(message, code); }

void RaiseSystemDeviceError(const std::string& message, int code) {
  const int err = errno;
  EDeviceError error(message + " (system error " + std::to_string(err) + ": " + SystemErrorText(err) + ")", code);
  error.SystemError = err;
  throw error;
}

uint32_t TickMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + (static_cast<uint64_t>(now.tv_nsec) + 500000u) / 1000000u;
  return static_cast<uint32_t>(ms);
}

// --- TCommClient ---

TCommClient::~TCommClient() { Detach(); }

void TCommClient::Attach(TCustomComm* comm) {
  if (comm == comm_) return;
  Detach();
  if (comm == nullptr) return;
  comm_ = comm;
  comm->clients_.push_back(this);
}

void TCommClient::Detach() {
  if (comm_ == nullptr) return;
  auto& list = comm_->clients_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  comm_ = nullptr;
}

// --- TCustomComm ---

TCustomComm::TCustomComm()
    : buffers_(std::make_unique<TCommBuffers>(this)),
      dataControl_(std::make_unique<TCommDataControl>(this)),
      eventChars_(std::make_unique<TCommEventChars>(this)),
      timeouts_(std::make_unique<TCommTimeoutsEx>(this)) {}

TCustomComm::~TCustomComm() {
  Shutdown();
  while (!clients_.empty()) clients_.front()->Detach();
}

void TCustomComm::Shutdown() {
  destroying_.store(true);
  StopEventThread();
  CloseHandle();
}

std::string TCustomComm::DevicePath(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  // "COMn" (any case, n from 1) keeps settings written for Windows working.
  if (name.size() > 3 && name.size() <= 9 && strncasecmp(name.c_str(), "COM", 3) == 0 &&
      std::all_of(name.begin() + 3, name.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
    const long number = std::stol(name.substr(3));
    if (number >= 1) return "/dev/ttyS" + std::to_string(number - 1);
  }
  return "/dev/" + name;
}

bool TCustomComm::Open() {
  if (IsOpen()) RaiseDeviceError("Device is allready opened.", CE_ALREADY_OPEN);
  lockBits_ = 0;
  const std::string cannotOpen = "Cannot open device " + deviceName_;
  const int fd = ::open(DevicePath(deviceName_).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) RaiseOpenError(cannotOpen, errno);
  // Exclusive use: flock refuses a second opener even when it runs as root,
  // which TIOCEXCL alone does not; TIOCEXCL also fails on anything not a tty.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    const int err = errno;
    ::close(fd);
    RaiseOpenError(cannotOpen, err == EWOULDBLOCK ? EBUSY : err);
  }
  handle_.store(fd, std::memory_order_release);
  // Settings before the watcher: changing them wakes the tty's waiters, which
  // the edge-triggered watch would report as an arrival if bytes came in at
  // that moment. Bytes already waiting are reported when the watch starts.
  std::exception_ptr failure;
  try {
    ApplyLineSettings();
    ApplyBuffers();
    ApplyTimeouts();
  } catch (const EDeviceError&) {
    failure = std::current_exception();
  }
  try {
    eventThread_ = std::make_unique<TCommEventThread>(this, fd);
  } catch (const std::exception&) {
    CloseHandle();
    RaiseDeviceError(cannotOpen, CE_CANNOT_OPEN);
  }
  // A settings failure leaves the device open with its watcher; the caller closes it.
  if (failure) std::rethrow_exception(failure);
  return true;
}

void TCustomComm::Close() {
  if (!IsOpen()) RaiseDeviceError(kNotOpen, CE_NOT_OPEN);
  StopEventThread();
  CloseHandle();
  receivedCount_ = 0;
  sentCount_ = 0;
}

void TCustomComm::StopEventThread() { eventThread_.reset(); }

void TCustomComm::CloseHandle() {
  const int fd = handle_.exchange(-1, std::memory_order_acq_rel);
  if (fd < 0) return;
  // The exclusive flag outlives close. On a line that went away this fails
  // with EIO, which does not matter any more.
  ioctl(fd, TIOCNXCL);
  ::close(fd);
}

uint8_t TCustomComm::LockState() {
  if (!IsOpen()) return lsSend | lsRead;
  uint8_t state = lockBits_;
  for (const TCommClient* client : clients_) {
    if (state == (lsSend | lsRead)) break;
    state |= client->Locks & (lsSend | lsRead);
  }
  return state;
}

uint32_t TCustomComm::QueueCount(int which) {
  const int fd = Handle();
  if (fd < 0) RaiseDeviceError(kNotOpen, CE_NOT_OPEN);
  int count = 0;
  if (which == 0) {
    // A read of 0 bytes cannot tell a line that went away from no data, but
    // FIONREAD fails with EIO then: report it, so that nobody waits forever.
    if (ioctl(fd, FIONREAD, &count) != 0) RaiseSystemDeviceError(kReadFailed, CE_READ);
  } else if (which == 1) {
    if (ioctl(fd, TIOCOUTQ, &count) != 0) RaiseSystemDeviceError(kWriteFailed, CE_WRITE);
  }
  return count > 0 ? static_cast<uint32_t>(count) : 0;
}

short TCustomComm::WaitDevice(short events, int timeoutMs, bool* cancelled) {
  pollfd fds[2] = {{Handle(), events, 0}, {cancelFd_, POLLIN, 0}};
  // A signal or the time-out: the caller looks at the clock and loops.
  if (poll(fds, 2, timeoutMs) <= 0) return 0;
  *cancelled = fds[1].revents != 0;
  return fds[0].revents;
}

uint32_t TCustomComm::ReadBuffer(void* buffer, uint32_t count, uint32_t timeoutMs) {
  if (!IsOpen()) RaiseDeviceError(kNotOpen, CE_NOT_OPEN);
  if (LockState() & lsRead) RaiseDeviceError("Device locked. Cannot perform read operations.", CE_READ_LOCKED);
  if (count == 0) return 0;
  auto* position = static_cast<char*>(buffer);
  uint32_t done = 0;
  const uint32_t start = TickMs();
  while (done < count) {
    // Never ask for more than the input queue holds.
    const uint32_t waiting = QueueCount(0);
    if (waiting > 0) {
      ssize_t got = ::read(Handle(), position, std::min(waiting, count - done));
      if (got < 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) RaiseSystemDeviceError(kReadFailed, CE_READ);
        got = 0;
      }
      if (got > 0) {
        receivedCount_ += static_cast<uint32_t>(got);
        done += static_cast<uint32_t>(got);
        position += got;
        TLockBit lock(lockBits_, lsRead);
        if (OnRead) OnRead(this);
        continue;
      }
    }
    const uint32_t elapsed = TickMs() - start;
    if (elapsed > timeoutMs) break;
    bool cancelled = false;
    const short revents = WaitDevice(POLLIN, WaitLeft(timeoutMs, elapsed), &cancelled);
    if (cancelled) break;
    if ((revents & (POLLHUP | POLLERR | POLLNVAL)) && QueueCount(0) == 0) {
      // Hung up with nothing left to read (QueueCount normally fails first).
      errno = EIO;
      RaiseSystemDeviceError(kReadFailed, CE_READ);
    }
  }
  return done;
}

uint32_t TCustomComm::Read(void* buffer, uint32_t count) {
  return ReadBuffer(buffer, count, buffers_->inputTimeout_);
}

bool TCustomComm::ReadChar(char& c) { return Read(&c, 1) == 1; }

uint32_t TCustomComm::WriteBuffer(const void* buffer, uint32_t count, uint32_t timeoutMs) {
  if (!IsOpen()) RaiseDeviceError(kNotOpen, CE_NOT_OPEN);
  if (LockState() & lsSend) RaiseDeviceError("Device locked. Cannot perform send operations.", CE_SEND_LOCKED);
  if (count == 0) return 0;
  const auto* position = static_cast<const char*>(buffer);
  uint32_t done = 0;
  bool hungUp = false;
  const uint32_t start = TickMs();
  while (done < count) {
    // Linux has no driver queue of OutputSize bytes: the kernel's write room
    // decides. A non-blocking write takes what fits and never blocks on a
    // full queue; OutputSize only bounds one transfer.
    const uint32_t piece = std::min<uint32_t>(count - done, std::max<uint32_t>(buffers_->outputSize_, 1));
    const ssize_t put = ::write(Handle(), position, piece);
    if (put < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) RaiseSystemDeviceError(kWriteFailed, CE_WRITE);
    } else {
      DispatchEvents(bit(deOutEmpty));
    }
    if (put > 0) {
      sentCount_ += static_cast<uint32_t>(put);
      done += static_cast<uint32_t>(put);
      position += put;
      TLockBit lock(lockBits_, lsSend);
      if (OnSend) OnSend(this);
      continue;
    }
    if (hungUp) {
      // The line hung up and still takes nothing (write normally fails first).
      errno = EIO;
      RaiseSystemDeviceError(kWriteFailed, CE_WRITE);
    }
    const uint32_t elapsed = TickMs() - start;
    if (elapsed > timeoutMs) break;
    // Sleep until the queue has room again or the time is up.
    bool cancelled = false;
    const short revents = WaitDevice(POLLOUT, WaitLeft(timeoutMs, elapsed), &cancelled);
    if (cancelled) break;
    hungUp = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  }
  return done;
}

uint32_t TCustomComm::Write(const void* buffer, uint32_t count) {
  return WriteBuffer(buffer, count, buffers_->outputTimeout_);
}

bool TCustomComm::WriteChar(char c) { return Write(&c, 1) == 1; }

bool TCustomComm::WriteString(const std::string& text) {
  const auto length = static_cast<uint32_t>(text.size());
  return Write(text.data(), length) == length;
}

void TCustomComm::DispatchEvents(TDeviceEvents events) {
  if (!IsOpen() || destroying_.load()) return;
  // A copy: a client may detach itself from inside its notification.
  const std::vector<TCommClient*> clients = clients_;
  for (TCommClient* client : clients) {
    if (client->NotifyOrder & TCommClient::nBefore) client->CommEvent(events);
  }
  DoCommEvent(events);
  for (TCommClient* client : clients) {
    if (client->NotifyOrder & TCommClient::nAfter) client->CommEvent(events);
  }
}

void TCustomComm::DoCommEvent(TDeviceEvents events) {
  if (events & (bit(deChar) | bit(deFlag))) DoData(QueueCount(0));
  const auto shown = static_cast<TDeviceEvents>(events & monitorEvents_);
  if (shown != 0 && OnCommEvent) OnCommEvent(this, shown);
}

void TCustomComm::DoData(uint32_t received) {
  if (OnData) OnData(this, received);
}
