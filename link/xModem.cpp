// The link thread: its life, the link loop, opening and closing the port.
#include "link/xModem.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "serial/GuiSync.h"
#include "serial/PortDiagnosis.h"

namespace {

void SignalFd(int fd) {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(fd, &one, sizeof one);
}

bool IsBlankOrControl(unsigned char c) { return c <= ' '; }

}  // namespace

std::string FilterPhone(const std::string& phone) {
  size_t first = 0;
  size_t last = phone.size();
  while (first < last && IsBlankOrControl(static_cast<unsigned char>(phone[first]))) ++first;
  while (last > first && IsBlankOrControl(static_cast<unsigned char>(phone[last - 1]))) --last;
  std::string result;
  if (first == last) return result;
  for (char c : phone) {
    if ((c >= '0' && c <= '9') || c == 'W' || c == 'w' || c == '+' || c == ',' || c == ';') result += c;
  }
  return result;
}

bool HasDigitsToDial(const std::string& phone) {
  const std::string filtered = FilterPhone(phone);
  return filtered.find_first_of("0123456789") != std::string::npos;
}

std::string ModemWords(const std::string& reply) {
  size_t end = reply.size();
  while (end > 0 && (reply[end - 1] == '\r' || reply[end - 1] == '\n' || reply[end - 1] == ' ')) --end;
  size_t begin = end;
  while (begin > 0 && reply[begin - 1] != '\r' && reply[begin - 1] != '\n') --begin;
  std::string words;
  for (size_t i = begin; i < end && words.size() < 80; ++i) {
    const auto c = static_cast<unsigned char>(reply[i]);
    words += (c >= 0x20 && c <= 0x7E) ? static_cast<char>(c) : '?';
  }
  return words;
}

std::string AsciiUpper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

TModem::TModem(const std::string& portName, const std::string& phone, TOutArray& queue, TDevice& device,
               bool waitForNetwork, TClock* clock)
    : queue_(queue),
      port_(std::make_unique<TXComm>()),
      device_(device),
      waitForNetwork_(waitForNetwork),
      portName_(portName),
      clock_(clock ? *clock : TClock::Real()),
      stopFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      doneFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      stateFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      modeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  port_->Buffers().SetInputTimeout(4500);
  port_->Buffers().SetOutputTimeout(4500);
  port_->DataControl().SetStopBits(sb1);
  // A write stalled on a full line ends when a stop is requested.
  port_->SetCancelFd(stopFd_);
  phone_ = FilterPhone(phone);
}

TModem::~TModem() {
  if (thread_.joinable()) {
    Terminate();
    WaitFor();
  }
  try {
    ClosePort();
  } catch (...) {
  }
  close(stopFd_);
  close(doneFd_);
  close(stateFd_);
  close(modeFd_);
}

void TModem::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void TModem::WaitFor() {
  if (!thread_.joinable()) return;
  if (TGuiSync::Instance().IsGuiThread()) TGuiSync::Instance().WaitServing(doneFd_);
  thread_.join();
}

void TModem::Terminate() {
  if (!terminated_.exchange(true)) SignalFd(stopFd_);
  queue_.WakeProducer();
}

std::string TModem::FaultLine() const {
  const std::lock_guard<std::mutex> lock(faultMutex_);
  return faultLine_;
}

TCallFailure TModem::CallFailure() const {
  const std::lock_guard<std::mutex> lock(faultMutex_);
  return callFailure_;
}

void TModem::NoteCallFailure(const std::string& stage, const std::string& reply) {
  const std::lock_guard<std::mutex> lock(faultMutex_);
  callFailure_ = {stage, ModemWords(reply)};
}

void TModem::Fail(const std::string& line) {
  Log(line, true, true);
  {
    const std::lock_guard<std::mutex> lock(faultMutex_);
    if (faultLine_.empty()) faultLine_ = line;
  }
  Terminate();
}

void TModem::Log(const std::string& text, bool showInMemo, bool withDateTime) {
  queue_.PostMemo(text, showInMemo, withDateTime);
}

void TModem::Traffic(const std::string& text, bool withDateTime) {
  queue_.PostMemo(text, trafficInMemo_, withDateTime, true);
}

void TModem::LogFault(const std::string& prefix, const std::exception& e, const std::string& suffix) {
  TSerialFault fault;
  if (const auto* device = dynamic_cast<const EDeviceError*>(&e)) {
    fault.Code = device->ErrorCode;
    fault.SystemError = device->SystemError;
    fault.Device = portName_;
    fault.Length = std::char_traits<char>::length(e.what());
    fault.Tail = suffix.size();
  }
  queue_.PostMemo(prefix + e.what() + suffix, true, true, false, fault);
}

void TModem::FailOn(const std::string& prefix, const std::exception& e, const std::string& suffix) {
  LogFault(prefix, e, suffix);
  {
    const std::lock_guard<std::mutex> lock(faultMutex_);
    if (faultLine_.empty()) faultLine_ = prefix + e.what() + suffix;
  }
  Terminate();
}

void TModem::SetMode(uint8_t mode) {
  mode_.store(mode);
  // Back to idle also wakes a paced wait (PaceWait) of the mode it ends.
  if (mode == 0) SignalFd(stateFd_);
  SignalFd(modeFd_);
}

void TModem::EndMode(uint8_t done) {
  uint8_t expected = done;
  mode_.compare_exchange_strong(expected, 0);
  SignalFd(stateFd_);
}

void TModem::Sleep(uint32_t ms) { clock_.Wait(ms, StopFdForWait()); }

void TModem::IdleWait(uint32_t ms) {
  const int port = idleWatchesPort_ && port_ ? port_->Handle() : -1;
  clock_.Wait(port >= 0 ? std::max(ms, kIdlePortWaitMs) : ms, StopFdForWait(), modeFd_, port);
  if (port >= 0) {
    pollfd ready{port, POLLIN, 0};
    try {
      // Readable with nothing waiting: a hang-up that the drain cannot see.
      if (poll(&ready, 1, 0) > 0 && port_->QueueCount(0) == 0) idleWatchesPort_ = false;
    } catch (const std::exception&) {
      // The drain that follows meets the same failure and reports it.
    }
  }
  uint64_t count = 0;
  [[maybe_unused]] ssize_t n = read(modeFd_, &count, sizeof count);
}

void TModem::PaceWait(TDeadline deadline) {
  const uint8_t mode = mode_.load();
  for (;;) {
    const int64_t left = deadline.NsSince(clock_.DeadlineIn(0));
    if (left <= 0 || StopRequested() || mode_.load() != mode) return;
    clock_.Wait(static_cast<uint32_t>((left + 999'999) / 1'000'000), StopFdForWait(), modeFd_);
    // A signal of a mode already running is taken, so the next wait rests.
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(modeFd_, &count, sizeof count);
  }
}

void TModem::Run() {
  // The drains and character pauses are short and many; the default slack
  // (50 us a wait) would add up to tens of milliseconds over one operation.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  queue_.SetProducerStop([this] { return terminated_.load(); });
  try {
    Execute();
  } catch (...) {
    // Execute logs its own failures; nothing may leave the thread.
  }
  // The window stores "connected" and then looks whether the link has
  // finished; here it is the other way round, so at least one of the two
  // sees the other and a link that ends just then is never left for dead.
  finished_.store(true);
  if (connectedCheck_ && connectedCheck_()) queue_.PostPersistent(Targets::DisconnectItem, "Click");
  queue_.SetProducerStop(nullptr);
  SignalFd(stateFd_);
  SignalFd(doneFd_);
}

void TModem::Execute() {
  Traffic(" # Поток начал работу", true);
  mode_.store(1);
  try {
    while (!terminated_.load()) {
      while (!port_->IsOpen() && !terminated_.load()) OpenPort();
      if (terminated_.load()) break;
      device_.Step(mode_.load());
    }
  } catch (const std::exception& e) {
    NoteFailure(e);
    FailOn(" # !!! Ошибка при работе с COM портом: ", e);
  }
  if (dataCallUp_ || !phone_.empty()) {
    try {
      HangUp();
    } catch (const std::exception& e) {
      hangingUp_.store(false);
      LogFault(" # !!! Ошибка при работе с COM портом: ", e);
    }
  }
  ClosePort();
  Traffic(" # Поток завершил работу", true);
}

void TModem::OpenPort() {
  try {
    ClosePort();
    queue_.PostControlText(Targets::Panel2, "Открываем COM порт: " + portName_);
    port_->SetBaudRate(br19200);
    port_->SetBaudValue(19200);
    port_->DataControl().SetParity(paNone);
    port_->SetDeviceName(portName_);
    port_->SetFlowControl(fcNone);
    port_->Open();
    Traffic(" # Успешно открыли COM порт: " + portName_, true);
    queue_.PostControlText(Targets::Panel2, "Успешно открыли COM порт: " + portName_);
  } catch (const std::exception& e) {
    // The system's reason (and a hint for a refused or busy port) follows
    // the fixed texts.
    const auto* device = dynamic_cast<const EDeviceError*>(&e);
    const std::string reason =
        device ? OpenFailureReason(device->SystemError, TXComm::DevicePath(portName_)) : std::string();
    // The memo keeps the system's own words too, for whoever reads the log.
    const std::string system =
        device && device->SystemError != 0 ? " (" + SystemErrorText(device->SystemError) + ")" : std::string();
    NoteFailure(e);
    FailOn(" # !!! Ошибка открытия COM порта: ", e, reason + system);
    queue_.PostControlText(Targets::Panel2, "Ошибка при открытии COM порта: " + portName_ + reason);
  }
}

void TModem::NoteFailure(const std::exception& e) {
  if (const auto* device = dynamic_cast<const EDeviceError*>(&e); device && device->SystemError != 0)
    lastSystemError_.store(device->SystemError);
}

void TModem::ClosePort() {
  try {
    if (port_->IsOpen()) {
      port_->Close();
      Traffic(" # Успешно закрыли COM порт: " + portName_, true);
    }
  } catch (const std::exception& e) {
    LogFault(" # !!! Ошибка закрытия COM порта: ", e);
  }
}
