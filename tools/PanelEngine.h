#pragma once
// The panel's protocol engine: bytes in, reply bytes out, no I/O of its own. The pty simulator and
// the modem simulator (for the panel behind a data call) both drive it. Not thread-safe: its owner
// serialises all calls.
//
// Framing. Bytes are collected up to a carriage return (13) to form a command; line feeds and null
// bytes are skipped, an empty line is ignored. Each command is answered in one write:
//   request:  <command> CR <reply line> CR "OK" CR LF      e.g. "+rt07\r+rt07123\rOK\r\n"
//   write:    <command> CR "OK" CR LF                      e.g. "+wg=1\r" "OK\r\n"
//   unknown or malformed: <command> CR "ERROR" CR LF
// so the reply line stands between the first and second carriage return and "OK" follows it.
// Reply lines: "+rtNN"/"+rqNN"/"+rkD"/"+rp"/"+rg"/"+rh" followed by the value; "+v" the version
// text alone; "+c=0"/"+c=1" and "+itCK" the value alone as three upper-case hex digits.

#include "tools/PanelState.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::sim {

enum class EFault
{
  Silence,    // no echo, no reply; the command is not carried out
  NoOk,       // echo and reply line, but no "OK"; the command is carried out
  Error,      // echo and "ERROR" in place of the reply; not carried out
  LowerOk,    // the normal reply with "ok" in small letters; carried out
  NoCarrier,  // "\r\nNO CARRIER\r\n" in place of echo and reply; not carried out
  Busy,       // "\r\nBUSY\r\n" in place of echo and reply; not carried out
  CloseLine,  // no reply; the line is dropped (the pty master is closed)
  Refuse,     // echo and "ERR" (the panel's own refusal); not carried out
  Reply,      // the fault's Reply text alone, as given; not carried out
  Keep,       // the normal reply with "OK", but the panel keeps its old state
};

struct TFault
{
  std::string Prefix;  // matches every command that starts with it, e.g. "+rt07" or "+wk"
  EFault Kind = EFault::Silence;
  bool Once = false;   // removed after its first use
  int Skip = 0;        // matching commands let through before it applies
  std::string Reply;   // what Reply sends

  bool operator==(const TFault&) const = default;
};

// Fault text "PREFIX:KIND[:once][:skip=N]", KIND one of silence, no-ok, error, lower-ok,
// no-carrier, busy, close, refuse, keep or reply=TEXT (TEXT sent as it is, with \r, \n, \\ and \xHH
// escapes and without ":"). skip=N lets the first N matching commands through.
// Examples: "+rt07:silence", "+rk4:no-ok:once", "+v:close:once:skip=1", "+rh:reply=+rh\r+rh9\rOK\r\n".
std::optional<TFault> ParseFault(std::string_view text, std::string& error);
const char* FaultName(EFault kind);

// Something the engine wants sent: bytes, optionally after a delay, or the line dropped.
struct TSimOutput
{
  std::string Bytes;
  int DelayMs = 0;
  bool CloseLine = false;
};

inline constexpr const char* kDefaultVersionText = "Ostrel GSM VER 05.01";

class TPanelEngine
{
public:
  // Feeds received bytes; every completed command appends its output.
  void Feed(std::string_view bytes, std::vector<TSimOutput>& out);
  // Forgets a half-received command (the modem escapes to command mode).
  void ResetInput() { Pending.clear(); }

  TPanelState State;
  std::string VersionText = kDefaultVersionText;
  std::vector<TFault> Faults;  // the first matching one applies
  int ReplyDelayMs = 0;
  std::vector<std::string> Commands;  // every command received, without its carriage return
  bool StateChanged = false;          // set by each write that changed the state; the owner clears it
  // Where a reading request ("+c=0", "+c=1") takes the channel's reading from, when set: a value
  // becomes the state's reading; none keeps the state's own.
  std::function<std::optional<int>(int channel)> ReadingSource;

private:
  static constexpr size_t kMaxCommand = 256;

  struct TResult
  {
    bool Valid = false;
    std::optional<std::string> Line;  // the reply line of a request
  };

  void HandleCommand(const std::string& command, std::vector<TSimOutput>& out);
  std::optional<TFault> TakeFault(const std::string& command);
  TResult Execute(const std::string& command);
  TResult ExecuteRead(std::string_view command);
  TResult ExecuteWrite(std::string_view command);
  TResult ExecuteAdc(std::string_view command);

  std::string Pending;
  bool Overflow = false;
};

}  // namespace ostrel::sim
