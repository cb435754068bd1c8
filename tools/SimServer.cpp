#include "tools/SimServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace ostrel::sim {

TSimServer::TSimServer()
{
  StopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (StopFd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

TSimServer::~TSimServer()
{
  Stop();
  ::close(StopFd);
}

bool TSimServer::MakeLink(const std::string& linkPath, std::string& error)
{
  // The link is made from the caller's thread; the serving thread never touches it.
  return Pty.MakeLink(linkPath, error);
}

void TSimServer::Start()
{
  if (Thread.joinable()) return;
  {
    std::lock_guard lock(Mutex);
    StopRequested = false;
    OnStart(TClock::now());
  }
  Thread = std::thread(&TSimServer::Run, this);
}

void TSimServer::Stop()
{
  if (!Thread.joinable()) return;
  {
    std::lock_guard lock(Mutex);
    StopRequested = true;
  }
  Wake();
  Thread.join();
}

void TSimServer::Wake()
{
  const std::uint64_t one = 1;
  // The eventfd counter cannot overflow in practice; a failed write only delays the wake-up.
  [[maybe_unused]] const ssize_t n = ::write(StopFd, &one, sizeof one);
}

TPanelState TSimServer::State() const
{
  std::lock_guard lock(Mutex);
  return Panel.State;
}

void TSimServer::SetState(const TPanelState& state)
{
  std::lock_guard lock(Mutex);
  Panel.State = state;
}

void TSimServer::SetVersionText(const std::string& text)
{
  std::lock_guard lock(Mutex);
  Panel.VersionText = text;
}

void TSimServer::SetAdcScript(const TAdcScript& script)
{
  std::lock_guard lock(Mutex);
  // The engine calls it on the serving thread with Mutex held.
  Panel.ReadingSource = [player = std::make_shared<TAdcPlayer>(script)](int channel) {
    return player->Reading(channel, TClock::now());
  };
}

void TSimServer::AddFault(const TFault& fault)
{
  std::lock_guard lock(Mutex);
  Panel.Faults.push_back(fault);
}

void TSimServer::ClearFaults()
{
  std::lock_guard lock(Mutex);
  Panel.Faults.clear();
}

std::vector<TFault> TSimServer::Faults() const
{
  std::lock_guard lock(Mutex);
  return Panel.Faults;
}

void TSimServer::SetReplyDelay(int ms)
{
  std::lock_guard lock(Mutex);
  Panel.ReplyDelayMs = std::max(0, ms);
}

void TSimServer::SetStateChangedHandler(std::function<void(const TPanelState&)> handler)
{
  std::lock_guard lock(Mutex);
  StateHandler = std::move(handler);
}

void TSimServer::SetSentHandler(std::function<void(TClock::time_point)> handler)
{
  std::lock_guard lock(Mutex);
  SentHandler = std::move(handler);
}

void TSimServer::SetCommandHandler(std::function<void(const std::string&)> handler)
{
  std::lock_guard lock(Mutex);
  CommandHandler = std::move(handler);
}

std::vector<std::string> TSimServer::Commands() const
{
  std::lock_guard lock(Mutex);
  return Panel.Commands;
}

void TSimServer::ClearCommands()
{
  std::lock_guard lock(Mutex);
  Panel.Commands.clear();
}

bool TSimServer::WaitForCommands(size_t n, int timeoutMs) const
{
  std::unique_lock lock(Mutex);
  return Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return Panel.Commands.size() >= n; });
}

void TSimServer::SendUnasked(const std::string& text)
{
  {
    std::lock_guard lock(Mutex);
    std::vector<TSimOutput> out{{text, 0, false}};
    ScheduleLocked(out, TClock::now());
  }
  Wake();
}

void TSimServer::CloseLine()
{
  {
    std::lock_guard lock(Mutex);
    std::vector<TSimOutput> out{{"", 0, true}};
    ScheduleLocked(out, TClock::now());
  }
  Wake();
}

bool TSimServer::WaitForLineClosed(int timeoutMs) const
{
  std::unique_lock lock(Mutex);
  return Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !LineOpen.load(); });
}

bool TSimServer::OutputQueued() const
{
  std::lock_guard lock(Mutex);
  return !Queue.empty() || UnsentBytes.load() > 0;
}

void TSimServer::ScheduleLocked(std::vector<TSimOutput>& outputs, TClock::time_point now)
{
  for (auto& output : outputs) {
    // Outputs keep their order: a delayed reply holds back everything queued after it.
    TClock::time_point due = now + std::chrono::milliseconds(output.DelayMs);
    if (!Queue.empty()) due = std::max(due, Queue.back().Due);
    Queue.push_back({due, std::move(output.Bytes), output.CloseLine});
  }
  outputs.clear();
}

void TSimServer::Run() noexcept
{
  // No exception leaves the serving thread: report it and stop serving.
  try {
    Serve();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "panel simulator: serving thread stopped: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "panel simulator: serving thread stopped\n");
  }
}

int TSimServer::PollTimeoutMs(TClock::time_point now) const
{
  std::optional<TClock::time_point> next = NextTimer();
  if (!Queue.empty() && (!next || Queue.front().Due < *next)) next = Queue.front().Due;
  if (!next) return -1;
  if (*next <= now) return 0;
  // Round up, so that we never wake a moment too early and spin.
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
  return static_cast<int>(std::min<long long>(wait, 60'000));
}

void TSimServer::Serve()
{
  std::string unsent;  // reply bytes the master has not taken yet
  for (;;) {
    int timeout = -1;
    {
      std::lock_guard lock(Mutex);
      if (StopRequested) return;
      timeout = PollTimeoutMs(TClock::now());
    }
    pollfd fds[2] = {{StopFd, POLLIN, 0}, {Pty.MasterFd(), POLLIN, 0}};
    nfds_t count = 1;
    if (Pty.IsMasterOpen()) {
      if (!unsent.empty()) fds[1].events |= POLLOUT;
      count = 2;
    }
    if (::poll(fds, count, timeout) < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (fds[0].revents & POLLIN) {
      std::uint64_t value = 0;
      [[maybe_unused]] const ssize_t n = ::read(StopFd, &value, sizeof value);
    }
    if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) ReadMaster(unsent);
    FlushDue(unsent);
    WriteUnsent(unsent);
  }
}

void TSimServer::ReadMaster(std::string& unsent)
{
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(Pty.MasterFd(), buffer, sizeof buffer);
    if (n > 0) {
      std::vector<std::string> newCommands;
      std::optional<TPanelState> changedState;
      std::function<void(const std::string&)> commandHandler;
      std::function<void(const TPanelState&)> stateHandler;
      {
        std::lock_guard lock(Mutex);
        const size_t before = Panel.Commands.size();
        std::vector<TSimOutput> out;
        const auto now = TClock::now();
        Process(std::string_view(buffer, static_cast<size_t>(n)), now, out);
        ScheduleLocked(out, now);
        // Counted once the answers are queued, so a count never runs ahead of them.
        TakenBytes += static_cast<std::uint64_t>(n);
        if (CommandHandler) {
          newCommands.assign(Panel.Commands.begin() + static_cast<std::ptrdiff_t>(before), Panel.Commands.end());
          newCommands.insert(newCommands.end(), Announce.begin(), Announce.end());
          commandHandler = CommandHandler;
        }
        Announce.clear();
        if (Panel.StateChanged) {
          Panel.StateChanged = false;
          if (StateHandler) {
            changedState = Panel.State;
            stateHandler = StateHandler;
          }
        }
      }
      Changed.notify_all();
      for (const auto& command : newCommands) commandHandler(command);
      if (changedState) stateHandler(*changedState);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    // EIO or end of file: every slave descriptor is gone, which cannot happen while we hold ours;
    // treat it as a lost line rather than spin on it.
    DropLine(unsent);
    return;
  }
}

void TSimServer::FlushDue(std::string& unsent)
{
  bool drop = false;
  {
    std::lock_guard lock(Mutex);
    const auto now = TClock::now();
    if (const auto timer = NextTimer(); timer && *timer <= now) {
      std::vector<TSimOutput> out;
      OnTimer(now, out);
      ScheduleLocked(out, now);
    }
    while (!Queue.empty() && Queue.front().Due <= now) {
      TScheduled item = std::move(Queue.front());
      Queue.pop_front();
      unsent += item.Bytes;
      UnsentBytes = unsent.size();
      if (item.CloseLine) {
        drop = true;
        break;
      }
    }
  }
  if (drop) {
    WriteUnsent(unsent);
    DropLine(unsent);
  }
}

void TSimServer::WriteUnsent(std::string& unsent)
{
  if (!Pty.IsMasterOpen()) {
    unsent.clear();
    UnsentBytes = 0;
    return;
  }
  while (!unsent.empty()) {
    // Taken before the write: once written, the program may read the bytes
    // before this thread runs again.
    const auto sent = TClock::now();
    const ssize_t n = ::write(Pty.MasterFd(), unsent.data(), unsent.size());
    if (n > 0) {
      unsent.erase(0, static_cast<size_t>(n));
      // Given first: a byte is always counted as one or the other.
      GivenBytes += static_cast<std::uint64_t>(n);
      UnsentBytes = unsent.size();
      std::function<void(TClock::time_point)> handler;
      {
        std::lock_guard lock(Mutex);
        handler = SentHandler;
      }
      if (handler) handler(sent);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno != EAGAIN) {
      DropLine(unsent);
      return;
    } else {
      // The program has not read its input yet; poll tells us when there is room again.
      return;
    }
  }
}

void TSimServer::DropLine(std::string& unsent)
{
  unsent.clear();
  UnsentBytes = 0;
  Pty.CloseMaster();
  {
    std::lock_guard lock(Mutex);
    Queue.clear();
    LineOpen = false;
  }
  Changed.notify_all();
}

}  // namespace ostrel::sim
