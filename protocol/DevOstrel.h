// The panel's device: the dispatch of link modes, the connection check, the
// operations on the current page and on all pages, and the exchanges of each
// group of settings.
//
// The device reads into a settings value of its own and writes from a copy
// of the settings handed over before the operation starts; each operation
// (the connection check included) ends with one result element, queued
// after everything else it posted and before the link mode goes back to 0.
//
// Threads: the main window (or the command line) creates it and sets the
// link, the settings to write and the current page on its own thread; Step
// and everything it calls run on the link thread. Every change of the user
// interface is an output element.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "link/device.h"
#include "model/Operation.h"
#include "model/Settings.h"
#include "output/OutArray.h"
#include "protocol/ProtocolText.h"

class TModem;

// Class names of the pages; the device's current page is one of them.
namespace Pages {
inline const std::string Common = "TformCommon";
inline const std::string Keys = "TformKeys";
inline const std::string ACP = "TformACP";
inline const std::string GSM = "TformGSM";
}  // namespace Pages

class TDevOstrel : public TDevice {
 public:
  explicit TDevOstrel(TOutArray& queue);

  // GUI thread, before the link thread starts.
  void SetLink(TModem* link) { link_ = link; }
  // Any thread, before the link mode of a write is set: what the write sends.
  // The operation takes its own copy when it starts, so a later change does
  // not mix into it.
  void SetSettings(const TSettings& settings);

  // The ADC monitor (link mode 7, Modes::Monitor). How a front end uses it:
  //   1. SetMonitorChannels (which channels; both unless told), then
  //      link->SetMode(Modes::Monitor) while no other operation runs.
  //   2. The link thread polls "+c=0" and/or "+c=1" in turn, each one
  //      request with the rules of a read (one attempt of 4500 ms, "OK" and a
  //      reply line of three hexadecimal digits required), a round of the
  //      chosen channels every kMonitorRoundMs of the link clock (13.3
  //      readings a second per channel, whether one or both are polled; the
  //      exchange alone would allow some 30), resting between rounds on the
  //      clock until the round is due, a stop or a new mode. A round that
  //      ran late is followed at once. Every request posts a TReadingOut (okReading): the link
  //      clock's time, the channel, the value or none for a failed request.
  //      Its traffic goes to the debug log only; the memo gets one summary
  //      line a minute (readings, failures, each channel's range and rate)
  //      and one when the monitor ends, so a front end adds none of its own.
  //   3. It ends between two requests, never inside one (a command always
  //      goes out whole and its answer is awaited): when another mode is set
  //      (an operation: it runs next; 0: back to idle), or the link is
  //      stopped or lost. Then it posts a TResultOut of mode 7 (Success when
  //      another mode ended it, Interrupted on a stop, LinkLost with the
  //      link's own line) and, if the mode is still 7, sets it back to 0.
  // The window applies okReading to its plot; ResultMessage gives no message
  // box for mode 7. Any thread, before the mode is set; bit 0 channel 1, bit 1
  // channel 2.
  void SetMonitorChannels(uint8_t channels) { monitorChannels_.store(channels); }
  static constexpr uint8_t kBothChannels = 3;
  // The monitor's pace: one round of requests starts this often.
  static constexpr uint32_t kMonitorRoundMs = 75;
  // The monitor's summary period in the memo (link clock).
  static constexpr uint32_t kMonitorSummaryMs = 60'000;

  // Link thread.
  void ReadPage() override;
  void WritePage() override;
  void ReadAll() override;
  void WriteAll() override;
  void Step(uint8_t mode) override;
  // One request with visual feedback on the label that names the value: the
  // reply line comes back in reply and true; "" and false (and red on the
  // label) when the request was not good. On a terminated link nothing is
  // sent and reply is left as it was.
  bool QueryValue(const std::string& command, const TTarget& label, std::string& reply, const TRequestRule& rule);
  bool Failed() const { return failed_; }
  // Link thread: what the running (or last) operation has read.
  const TSettings& ReadSettings() const { return read_; }

  // The characters strictly between the first carriage return of the text and
  // the next one; "" when there are fewer than two.
  static std::string ReplyLine(const std::string& text);
  // The number's decimal digits, with "0"s in front up to width characters.
  static std::string ZeroPad(int number, int width);

 protected:
  void IdleStep();
  void CheckConnection();
  struct TAllTexts {
    const char* start;  // the log's opening and closing lines
    const char* end;
  };
  void RunAll(void (TDevOstrel::*pageOperation)(), const TAllTexts& texts);
  void RunPage(bool write);
  // A settings operation (modes 3 to 6): its start and its result.
  void BeginOperation(uint8_t mode);
  void EndOperation();
  // Brings what a read made of the replies into its canonical form.
  void FinishRead();
  // The first failure of an operation decides its outcome.
  void Fail(TOutcome outcome, const std::string& command);

  // The exchanges of each group of settings.
  virtual void ReadCommon();
  virtual void WriteCommon();
  virtual void ReadKeys();
  virtual void WriteKeys();
  virtual void ReadGsm();
  virtual void WriteGsm();
  virtual void ReadAdc();
  virtual void WriteAdc();
  // Link mode 7 (AdcExchange.cpp).
  void Monitor();

  TModem& Link() { return *link_; }
  // A settings request with the expected text "OK" and 4500 ms an attempt.
  // Each attempt is judged as its reply comes in (JudgeAnswer): good only
  // when the panel confirmed this very command without a refusal and, for a
  // request, with a reply line that answers it and a value its field can
  // hold; an attempt that is not good is retried like an unanswered one. On
  // success reply starts at the echo of the command. A reply that reports the
  // loss of the link ends the link thread.
  bool Request(const std::string& command, std::string& reply, int32_t attempts, const TRequestRule& rule = {});

  // Steps of the exchanges; those returning bool return the step's failure.
  // Every command of the common settings: three attempts.
  bool Send(const std::string& command, std::string& reply, const TRequestRule& rule = {});  // CommonExchange.cpp
  bool ReadEventEntry(int entry);
  // Requests the phone of an entry and posts it when good; false otherwise.
  bool ReadPhone(int entry, std::string& reply);
  bool ReadLoopEntry(int entry);
  bool ReadDelays();
  bool WriteEntry(int entry);
  bool WriteDelays();
  // Ends a common settings or keys operation: a failed one logs errorLine
  // and sets Failed.
  void EndExchange(bool failed, const std::string& errorLine);
  // One GSM request: three attempts, judged as every settings request.
  bool GsmRequest(const std::string& command, std::string& reply,
                  const TRequestRule& rule = {});  // GsmExchange.cpp

  TOutArray& queue_;
  bool failed_ = false;
  TModem* link_ = nullptr;

  std::mutex settingsMutex_;
  TSettings handed_;          // guarded by settingsMutex_
  // Link thread: the operation's copy to write, what it read, its result.
  TSettings writing_;
  TSettings read_;
  TOperationResult result_;
  bool faultSeen_ = false;
  std::atomic<uint8_t> monitorChannels_{kBothChannels};
};
