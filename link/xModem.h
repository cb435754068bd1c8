// The link thread of one connection to the panel.
//
// TModem owns the serial port of its connection, runs the link loop that
// hands the current link mode to the device, carries the command exchange
// (send a command, collect the reply, retry, log the traffic) and, when given
// a phone number, brings up and hangs up a GSM modem data call.
//
// Threads: the GUI thread (or the command-line front end's main thread)
// creates, starts, sets the mode, terminates, waits for and destroys it. The
// link thread runs Execute and everything the device calls. It never touches
// a widget: every memo line and control change is posted to the output queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/Clock.h"
#include "link/device.h"
#include "output/OutArray.h"
#include "serial/XComDrv.h"

// How a request judges what one attempt has gathered so far: wait for more,
// take it, or give the attempt up (the reply is complete and cannot be
// trusted: a refusal, another command's answer, a value its field cannot
// hold). Why says what was wrong, for the memo.
struct TAttemptVerdict {
  enum TState { Waiting, Good, Bad } State = Waiting;
  std::string Why;
};
using TAttemptJudge = std::function<TAttemptVerdict(const std::string& reply)>;

// Why a modem call failed or went down: the stage (as the progress dialog
// showed it) and the modem's last words there ("" when it said nothing).
struct TCallFailure {
  std::string Stage;
  std::string Words;
  bool Empty() const { return Stage.empty(); }
};

class TModem {
 public:
  // The thread is created suspended: Start runs it. clock: nullptr for the
  // system's clock (tests pass a virtual one).
  TModem(const std::string& portName, const std::string& phone, TOutArray& queue, TDevice& device,
         bool waitForNetwork, TClock* clock = nullptr);
  // Requests termination and waits for the thread if it still runs, then
  // closes the port.
  ~TModem();
  TModem(const TModem&) = delete;
  TModem& operator=(const TModem&) = delete;

  // Owner's thread.
  void Start();
  // Waits for the thread's end. On the GUI thread it keeps serving the calls
  // other threads hand to it (TGuiSync) and nothing else.
  void WaitFor();
  bool Finished() const { return finished_.load(); }
  // Readable once the thread body has ended.
  int DoneFd() const { return doneFd_; }
  // Readable (an eventfd counter; read it to reset) whenever the link mode
  // goes back to 0 (the connection check or an operation has ended, its
  // output elements already queued) and when the thread body has ended.
  int StateFd() const { return stateFd_; }
  // How the link thread learns, at its end, whether the window shows the
  // connected state ("Отключиться" enabled): then it posts "Click" for that
  // item. Set before Start; called on the link thread, so it must be
  // thread-safe (an atomic flag read).
  void SetConnectedCheck(std::function<bool()> check) { connectedCheck_ = std::move(check); }

  // Any thread.
  void Terminate();
  bool IsTerminated() const { return terminated_.load(); }
  // The system's error number of the port failure that ended the link
  // (0: none known). Any thread.
  int LastSystemError() const { return lastSystemError_.load(); }
  // The line of the fault that ended the link by itself (the port failed,
  // the call went down), as logged; "" when it was stopped from outside or
  // still runs.
  std::string FaultLine() const;
  // Link thread: logs such a line (shown, dated), keeps the first, and asks
  // the thread to stop.
  void Fail(const std::string& line);
  // The last failure of the modem call (a failed pass, a refused dial, the
  // call going down); empty when none. Any thread.
  TCallFailure CallFailure() const;
  // A new operation (mode 3 to 7) ends the idle step's wait at once; mode 0
  // signals StateFd.
  void SetMode(uint8_t mode);
  uint8_t GetMode() const { return mode_.load(); }
  // Link thread: an operation (or the connection check) of mode `done` has
  // ended. The mode goes back to 0 only if it still is `done`: an operation
  // asked for meanwhile is kept. StateFd is signalled either way.
  void EndMode(uint8_t done);

  // Link thread (device, exchanges).
  // Whether SendCommand's traffic lines ("-> ", " <<- ", " <- ", "good=")
  // are shown in the memo; off, they reach only the debug log ("good=" not
  // at all). The ADC monitor turns it off while it polls: dozens of
  // requests a second would bury the memo.
  void SetTrafficInMemo(bool shown) { trafficInMemo_ = shown; }
  void Log(const std::string& text, bool showInMemo, bool withDateTime);
  // A line of the traffic itself (a command, a reply, an attempt): the
  // window shows it only on request, the debug log always.
  void Traffic(const std::string& text, bool withDateTime = false);
  // A failure line: prefix, the exception's message, suffix (shown, dated).
  // A serial port error is marked with its code, so that the window can say
  // it in its own words. FailOn also does what Fail does.
  void LogFault(const std::string& prefix, const std::exception& e, const std::string& suffix = std::string());
  void FailOn(const std::string& prefix, const std::exception& e, const std::string& suffix = std::string());
  // With a judge, an attempt succeeds only when the judge takes its reply;
  // one it does not take is retried like an unanswered one, and the result
  // is 0 only after an attempt the judge took.
  uint8_t SendCommand(const std::string& command, std::string& reply, int32_t attempts, int32_t timeoutMs,
                      const std::string& expected, bool failOnMismatch, bool raw = false,
                      const TAttemptJudge& judge = {});
  bool CheckReply(bool noAnswer, const std::string& reply, uint8_t checkType, int32_t& code);
  // With a judge, the judge's verdict takes the place of the expected text:
  // Good matches, Bad ends the wait at once without a match (*why says why).
  bool ReadUntil(std::string& reply, int32_t timeoutMs, const std::string& expected,
                 const TAttemptJudge& judge = {}, std::string* why = nullptr);
  bool ReadUntilAny(std::string& reply, std::initializer_list<const char*> texts, int32_t timeoutMs);
  void DrainInput();
  void SendText(const std::string& text);
  void SetRTS();
  void ClearRTS();
  bool EstablishLink();
  void HangUp();
  // Waits ms; a termination request ends the wait early.
  void Sleep(uint32_t ms);
  // The idle step's wait: ends early on a termination request or when a new
  // link mode is set, and also when the panel sends something unasked or the
  // line goes away; while the port can tell that, the wait lasts up to
  // kIdlePortWaitMs instead of ms.
  void IdleWait(uint32_t ms);
  static constexpr uint32_t kIdlePortWaitMs = 1000;
  // The pause of a repeated request: waits until deadline on the link's
  // clock; a termination request or a new link mode (0 included) ends it
  // early.
  void PaceWait(TDeadline deadline);

  // What one attempt keeps of a reply; the rest is dropped (and logged).
  static constexpr size_t kMaxReply = 64 * 1024;

  TOutArray& Queue() { return queue_; }
  TXComm& Port() { return *port_; }
  TClock& Clock() { return clock_; }
  const std::string& Phone() const { return phone_; }
  const std::string& PortName() const { return portName_; }
  bool DataCallUp() const { return dataCallUp_; }

 private:
  void Run();
  void Execute();
  void OpenPort();
  void ClosePort();
  bool StopRequested() const { return terminated_.load() && !hangingUp_.load(); }
  // The stop signal for a wait, or none while hanging up (the hang-up
  // dialogue runs although the thread is terminating).
  int StopFdForWait() const { return hangingUp_.load() ? -1 : stopFd_; }
  void Collect(uint32_t ms);
  // A reply being collected: what is kept, and how many bytes were dropped
  // beyond kMaxReply.
  struct TReplyBuffer {
    TReplyBuffer(std::string& text, bool keepNulls) : Text(text), KeepNulls(keepNulls) {}
    std::string& Text;
    bool KeepNulls;
    size_t Dropped = 0;
  };
  bool Expired(uint32_t start, int32_t timeoutMs);
  // Reads what the input queue holds into buffer until it is empty or stop().
  void TakeWaiting(TReplyBuffer& buffer, const std::function<bool()>& stop);
  void LogDropped(const TReplyBuffer& buffer);
  bool InitModem(const std::string& command);
  void PollRegistration();
  // Link thread: keeps the stage and the modem's words of a call failure.
  void NoteCallFailure(const std::string& stage, const std::string& reply);

  std::atomic<uint8_t> mode_{0};
  std::atomic<bool> hangingUp_{false};
  // Cleared when the port woke an idle wait with nothing to read: it keeps
  // reporting, so the idle step waits ms again.
  bool idleWatchesPort_ = true;
  bool trafficInMemo_ = true;  // link thread only
  TOutArray& queue_;
  std::unique_ptr<TXComm> port_;
  TDevice& device_;
  bool waitForNetwork_;
  std::string phone_;
  std::string portName_;
  bool dataCallUp_ = false;

  TClock& clock_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::atomic<int> lastSystemError_{0};
  // Keeps the system's error number of a port failure (link thread).
  void NoteFailure(const std::exception& e);
  int stopFd_ = -1;
  int doneFd_ = -1;
  int stateFd_ = -1;
  int modeFd_ = -1;
  std::function<bool()> connectedCheck_;
  mutable std::mutex faultMutex_;
  std::string faultLine_;  // guarded by faultMutex_
  TCallFailure callFailure_;  // guarded by faultMutex_
  std::thread thread_;
};

// Keeps the characters of a phone number that a modem dials: digits, "W" in
// either case, "+", "," and ";". A number of blanks alone gives "".
std::string FilterPhone(const std::string& phone);
// Whether a number leaves anything to dial: a digit after filtering.
bool HasDigitsToDial(const std::string& phone);
// The modem's words in a reply: its last non-empty line, printable ASCII
// only (anything else shown as "?"), at most 80 characters.
std::string ModemWords(const std::string& reply);
// Upper case of the letters a to z only.
std::string AsciiUpper(std::string text);
