// One connection to a panel driven without a window: the link thread, the
// device and the output queue on a Qt Core event loop. Each step waits for
// the result that ends its operation; the traffic is handed to a watcher.
//
// Threads: everything here runs on the thread that owns the event loop (the
// command line's main thread); the link thread posts to the queue, which is
// drained here.
#pragma once

#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/Clock.h"
#include "model/Operation.h"
#include "output/OutArray.h"
#include "protocol/DevOstrel.h"

class QSocketNotifier;
class TModem;

class TPanelSession {
 public:
  // clock: nullptr for the system's clock.
  explicit TPanelSession(TClock* clock = nullptr);
  // Ends the link (the port is closed and its lock released).
  ~TPanelSession();
  TPanelSession(const TPanelSession&) = delete;
  TPanelSession& operator=(const TPanelSession&) = delete;

  // Sees every output element as it is drained (the traffic is in the memo
  // elements).
  std::function<void(const TOutElement&)> Watch;

  // Opens the port (a phone number makes it a modem data call) and runs the
  // connection check; its result.
  TOperationResult Connect(const std::string& port, const std::string& phone);
  // One operation of the device on the page (a link mode 3 to 6); a write
  // sends settings. Its result; a link that ends without one gives LinkLost
  // with the link's own line, or Interrupted.
  TOperationResult Run(uint8_t mode, const std::string& page, const TSettings& settings = TSettings());
  // The ADC monitor (link mode 7) on the channels (bit 0 channel 1, bit 1
  // channel 2) until durationMs has passed (never with a negative one), the
  // link ends or Interrupt; each reading is handed to onReading as it is
  // drained, and none is kept here, so a run of any length holds no more
  // than the queue. Its result: Success when the time was up.
  TOperationResult Monitor(uint8_t channels, int64_t durationMs, std::function<void(const TReadingOut&)> onReading);
  // Milliseconds of the link's clock, the time line of the readings.
  uint32_t ClockMs() const { return (clock_ ? *clock_ : TClock::Real()).NowMs(); }
  // Ends the monitor (or any operation's wait) early, as the time being up
  // does: between two requests, with Success.
  void StopMonitor();
  // Ends the link; the port is closed on return.
  void Disconnect();
  bool Connected() const;

  // Any time (a signal's handler on this thread): the wait in progress ends
  // and the link is asked to stop.
  void Interrupt();
  bool Interrupted() const { return interrupted_; }

 private:
  void Drain();
  TOperationResult Wait(uint8_t mode);
  TOperationResult Ended(uint8_t mode) const;

  TClock* clock_;
  TOutArray queue_;
  TDevOstrel device_{queue_};
  std::unique_ptr<TModem> link_;
  QSocketNotifier* notifier_ = nullptr;
  QTimer drainTimer_;
  QEventLoop loop_;
  std::optional<TOperationResult> result_;
  std::function<void(const TReadingOut&)> onReading_;
  bool interrupted_ = false;
};
