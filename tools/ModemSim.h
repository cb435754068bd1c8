#pragma once
// A simulated GSM modem on a pseudo-terminal, with the simulated panel behind its data call.
//
// Command mode. Bytes are collected up to a carriage return; the command starts at the first "AT"
// of the line (anything before it is dropped, as modems do), a line without "AT" is recorded and
// ignored. Replies, each sent in one write ("echo" is the received line and its CR; ATE0 turns
// the echo off, ATE1 back on):
//   ATZ, AT, AT+CBST=7,0,1, ATH and other set-up commands  echo "\r\nOK\r\n" | echo "\r\nERROR\r\n"
//                                 | nothing, as SetOutcome says (default OK; unknown AT commands ERROR)
//   AT+CREG?   echo "\r\n" <registration text> "\r\n\r\nOK\r\n"   (default "+CREG: 0,1")
//   AT+CPIN?   echo "\r\n+CPIN: READY\r\n\r\nOK\r\n"
//   ATD<number> the dial result alone, with no echo and no line end ("CONNECT 9600", "NO CARIER",
//               "BUSY", or nothing), after the dial delay: the program takes the dial reply only
//               when the whole text received equals one of those words. A result starting with
//               "CONNECT" brings the call up and switches to data mode.
//   ATO        back to data mode: echo "\r\nCONNECT 9600\r\n" when a call is up, else "\r\nNO CARRIER\r\n"
//   +++        (no CR needed) "\r\nOK\r\n"
// "+CPIN: READY" (bare, no line end) is also offered unasked, as SetCpin says: a pty cannot show
// the program raising RTS, so by default it is repeated every second until the first command,
// but only while the program has read the previous one.
//
// Data mode. Bytes go to the panel engine (same framing and faults as TPanelSim). "+++" at the
// start of a line escapes back to command mode with "\r\nOK\r\n"; the call stays up until ATH.

#include "tools/SimServer.h"

#include <map>

namespace ostrel::sim {

enum class EModemOutcome
{
  Ok,
  Error,
  Silence,
};

enum class ECpin
{
  Never,    // only when asked with AT+CPIN?
  OnStart,  // once, the given time after Start()
  Repeat,   // every given period until the first command line, while the program reads them
};

class TModemSim final : public TSimServer
{
public:
  TModemSim();  // opens the pty (throws std::system_error); Start() begins serving
  ~TModemSim() override { Stop(); }

  // Reply to a set-up command, matched on the whole command ignoring case ("ATZ", "AT+CBST=7,0,1",
  // "AT", "ATH", "AT+CREG?", ...).
  void SetOutcome(const std::string& command, EModemOutcome outcome);
  void SetCregReply(const std::string& text);
  // The dial result; empty for no answer at all.
  void SetDialReply(const std::string& text);
  void SetDialDelay(int ms);
  void SetCpin(ECpin mode, int ms);

  bool IsCallUp() const;
  bool IsDataMode() const;
  // The far end hangs up: "\r\nNO CARRIER\r\n" and back to command mode.
  void DropCall();

  // Every line the modem received in command mode (without its CR), and "+++" for each escape.
  // The panel's commands during the call are in Commands().
  std::vector<std::string> ModemCommands() const;
  void ClearModemCommands();
  bool WaitForModemCommands(size_t n, int timeoutMs) const;

protected:
  void Process(std::string_view bytes, TClock::time_point now, std::vector<TSimOutput>& out) override;
  std::optional<TClock::time_point> NextTimer() const override;
  void OnTimer(TClock::time_point now, std::vector<TSimOutput>& out) override;
  void OnStart(TClock::time_point now) override;

private:
  void CommandByte(char c, std::vector<TSimOutput>& out);
  void DataByte(char c, std::vector<TSimOutput>& out);
  void HandleLine(const std::string& line, std::vector<TSimOutput>& out);
  void Escape(std::vector<TSimOutput>& out);
  void Record(const std::string& line);
  EModemOutcome OutcomeOf(const std::string& upperCommand, EModemOutcome fallback) const;

  // All guarded by Mutex.
  std::map<std::string, EModemOutcome> Outcomes;
  std::string CregReply = "+CREG: 0,1";
  std::string DialReply = "CONNECT 9600";
  int DialDelayMs = 0;
  ECpin Cpin = ECpin::Repeat;
  int CpinMs = 1000;
  std::optional<TClock::time_point> CpinDue;
  bool Echo = true;
  bool CallUp = false;
  bool DataMode = false;
  std::string Line;      // command mode: the line so far
  std::string DataLine;  // data mode: the start of the current line, to spot "+++"
  std::vector<std::string> Lines;
};

}  // namespace ostrel::sim
