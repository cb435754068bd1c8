// The panel's device: the dispatch of link modes, the connection check, the
// operations on the current page and on all pages, and the exchanges of each
// group of settings.
//
// Threads: the main window creates it and sets the link, the reader and the
// current page on the GUI thread; Step and everything it calls run on the
// link thread. Every change of the user interface is an output element.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/device.h"
#include "output/OutArray.h"
#include "protocol/ControlReader.h"
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
  void SetReader(TControlReader* reader) { reader_ = reader; }

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

  // The characters strictly between the first carriage return of the text and
  // the next one; "" when there are fewer than two.
  static std::string ReplyLine(const std::string& text);
  // The number's decimal digits, with "0"s in front up to width characters.
  static std::string ZeroPad(int number, int width);

 protected:
  void IdleStep();
  void CheckConnection();
  struct TAllTexts {
    const char* start;
    const char* end;
    const char* done;
    const char* commonFailed;
    const char* keysFailed;
    const char* gsmFailed;
  };
  void RunAll(void (TDevOstrel::*pageOperation)(), const TAllTexts& texts);
  void RunPage(bool write);

  // The exchanges of each group of settings.
  virtual void ReadCommon();
  virtual void WriteCommon();
  virtual void ReadKeys();
  virtual void WriteKeys();
  virtual void ReadGsm();
  virtual void WriteGsm();
  virtual void ReadAdc();
  virtual void WriteAdc();

  TModem& Link() { return *link_; }
  // A settings request with the expected text "OK" and 4500 ms an attempt.
  // Each attempt is judged as its reply comes in (JudgeAnswer): good only
  // when the panel confirmed this very command without a refusal and, for a
  // request, with a reply line that answers it and a value its field can
  // hold; an attempt that is not good is retried like an unanswered one. On
  // success reply starts at the echo of the command. A reply that reports the
  // loss of the link ends the link thread.
  bool Request(const std::string& command, std::string& reply, int32_t attempts, const TRequestRule& rule = {});
  std::string ReadControl(const std::string& page, const std::string& name);

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
  // A check box or radio button of a page is on.
  bool IsOn(const std::string& page, const std::string& name);
  // One GSM request: three attempts, judged as every settings request.
  bool GsmRequest(const std::string& command, std::string& reply,
                  const TRequestRule& rule = {});  // GsmExchange.cpp

  TOutArray& queue_;
  bool failed_ = false;
  TModem* link_ = nullptr;
  TControlReader* reader_ = nullptr;
};
