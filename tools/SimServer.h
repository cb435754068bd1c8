#pragma once
// The serving side shared by the panel and modem simulators: a pty, a thread that waits with poll()
// on the pty master and a stop eventfd, the panel's protocol engine and the record of commands.
//
// Threads: the public methods may be called from any thread; the serving thread is the only one
// that touches the pty master after Start(). Everything shared is guarded by Mutex. Handlers run
// on the serving thread, outside the lock.

#include "tools/AdcScript.h"
#include "tools/PanelEngine.h"
#include "tools/Pty.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::sim {

class TSimServer
{
public:
  using TClock = std::chrono::steady_clock;

  virtual ~TSimServer();
  TSimServer(const TSimServer&) = delete;
  TSimServer& operator=(const TSimServer&) = delete;

  const std::string& SlavePath() const { return Pty.SlavePath(); }
  bool MakeLink(const std::string& linkPath, std::string& error);

  // Start the serving thread; Stop wakes it and joins it (idempotent, also done by the destructor).
  void Start();
  void Stop();

  // The panel's settings.
  TPanelState State() const;
  void SetState(const TPanelState& state);
  void SetVersionText(const std::string& text);
  void AddFault(const TFault& fault);
  void ClearFaults();
  std::vector<TFault> Faults() const;
  void SetReplyDelay(int ms);
  // The channels' readings follow the script from the first reading request on.
  void SetAdcScript(const TAdcScript& script);

  // Called on the serving thread after each panel write, with the state after it.
  void SetStateChangedHandler(std::function<void(const TPanelState&)> handler);
  // Called on the serving thread for each command the panel received.
  void SetCommandHandler(std::function<void(const std::string&)> handler);
  // Called on the serving thread right after bytes went onto the line, with the time they went:
  // taken just before the write, so never after the program has read them (benchmarks time the
  // program from one answer to another with it).
  void SetSentHandler(std::function<void(TClock::time_point)> handler);

  // Every command the panel received, without its carriage return, oldest first.
  std::vector<std::string> Commands() const;
  void ClearCommands();
  // Waits until the record holds at least n commands; false on time-out.
  bool WaitForCommands(size_t n, int timeoutMs) const;

  // How far the line has got, for a test's virtual clock: bytes taken in
  // from the program (each one answered by then), bytes written to it, and
  // whether any output is still queued or unwritten.
  std::uint64_t BytesTaken() const { return TakenBytes.load(); }
  std::uint64_t BytesGiven() const { return GivenBytes.load(); }
  bool OutputQueued() const;

  // Sends text as it is, after any reply still due.
  void SendUnasked(const std::string& text);
  // Drops the line (closes the pty master), after any reply still due.
  void CloseLine();
  bool IsLineOpen() const { return LineOpen.load(); }
  // Waits until the line has been dropped; false on time-out.
  bool WaitForLineClosed(int timeoutMs) const;

protected:
  TSimServer();  // opens the pty; throws std::system_error

  // Derived classes: handle received bytes / timers; both run on the serving thread with Mutex held.
  virtual void Process(std::string_view bytes, TClock::time_point now, std::vector<TSimOutput>& out) = 0;
  virtual std::optional<TClock::time_point> NextTimer() const { return std::nullopt; }
  virtual void OnTimer(TClock::time_point /*now*/, std::vector<TSimOutput>& /*out*/) {}
  // Called (Mutex held) from Start, before the thread runs.
  virtual void OnStart(TClock::time_point /*now*/) {}
  // Queues outputs to go out in order (Mutex held).
  void ScheduleLocked(std::vector<TSimOutput>& outputs, TClock::time_point now);
  // Wakes the serving thread (after something was queued or changed).
  void Wake();
  // Bytes sent that the program has not read yet (serving thread only).
  size_t UnreadByProgram() const { return Pty.SlaveInputPending(); }

  mutable std::mutex Mutex;
  mutable std::condition_variable Changed;  // record grew or line dropped
  TPanelEngine Panel;
  // Further lines for the command handler (the modem's own commands); the serving thread hands
  // them on and clears the list after each Process.
  std::vector<std::string> Announce;

private:
  struct TScheduled
  {
    TClock::time_point Due;
    std::string Bytes;
    bool CloseLine = false;
  };

  void Run() noexcept;
  void Serve();
  int PollTimeoutMs(TClock::time_point now) const;
  void ReadMaster(std::string& unsent);
  void FlushDue(std::string& unsent);
  void WriteUnsent(std::string& unsent);
  void DropLine(std::string& unsent);
  void RunHandlers(size_t firstNewCommand);

  TPty Pty;
  int StopFd = -1;
  std::thread Thread;
  bool StopRequested = false;  // guarded by Mutex
  std::deque<TScheduled> Queue;  // guarded by Mutex
  std::atomic<bool> LineOpen{true};
  std::atomic<std::uint64_t> TakenBytes{0};
  std::atomic<std::uint64_t> GivenBytes{0};
  std::atomic<std::size_t> UnsentBytes{0};  // taken from Queue, not yet written
  std::function<void(const TPanelState&)> StateHandler;  // guarded by Mutex
  std::function<void(const std::string&)> CommandHandler;  // guarded by Mutex
  std::function<void(TClock::time_point)> SentHandler;  // guarded by Mutex
};

}  // namespace ostrel::sim
