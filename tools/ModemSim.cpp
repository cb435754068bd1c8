#include "tools/ModemSim.h"

#include <algorithm>
#include <cctype>

namespace ostrel::sim {

namespace {

constexpr size_t kMaxLine = 256;
constexpr const char* kCpinReady = "+CPIN: READY";

std::string Upper(std::string text)
{
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string Result(const std::string& echo, EModemOutcome outcome, const std::string& body = "")
{
  switch (outcome) {
    case EModemOutcome::Ok: return echo + body + "\r\nOK\r\n";
    case EModemOutcome::Error: return echo + "\r\nERROR\r\n";
    case EModemOutcome::Silence: break;
  }
  return {};
}

}  // namespace

TModemSim::TModemSim()
{
  for (const char* command : {"ATZ", "AT", "AT+CBST=7,0,1", "ATH", "ATH0", "ATE0", "ATE1",
                              "AT+CREG?", "AT+CPIN?", "ATO"}) {
    Outcomes[command] = EModemOutcome::Ok;
  }
}

void TModemSim::SetOutcome(const std::string& command, EModemOutcome outcome)
{
  std::lock_guard lock(Mutex);
  Outcomes[Upper(command)] = outcome;
}

void TModemSim::SetCregReply(const std::string& text)
{
  std::lock_guard lock(Mutex);
  CregReply = text;
}

void TModemSim::SetDialReply(const std::string& text)
{
  std::lock_guard lock(Mutex);
  DialReply = text;
}

void TModemSim::SetDialDelay(int ms)
{
  std::lock_guard lock(Mutex);
  DialDelayMs = std::max(0, ms);
}

void TModemSim::SetCpin(ECpin mode, int ms)
{
  {
    std::lock_guard lock(Mutex);
    Cpin = mode;
    CpinMs = std::max(1, ms);
    CpinDue.reset();
    if (mode != ECpin::Never) CpinDue = TClock::now() + std::chrono::milliseconds(CpinMs);
  }
  Wake();
}

bool TModemSim::IsCallUp() const
{
  std::lock_guard lock(Mutex);
  return CallUp;
}

bool TModemSim::IsDataMode() const
{
  std::lock_guard lock(Mutex);
  return DataMode;
}

void TModemSim::DropCall()
{
  {
    std::lock_guard lock(Mutex);
    if (!CallUp) return;
    CallUp = false;
    DataMode = false;
    Panel.ResetInput();
    std::vector<TSimOutput> out{{"\r\nNO CARRIER\r\n", 0, false}};
    ScheduleLocked(out, TClock::now());
  }
  Wake();
}

std::vector<std::string> TModemSim::ModemCommands() const
{
  std::lock_guard lock(Mutex);
  return Lines;
}

void TModemSim::ClearModemCommands()
{
  std::lock_guard lock(Mutex);
  Lines.clear();
}

bool TModemSim::WaitForModemCommands(size_t n, int timeoutMs) const
{
  std::unique_lock lock(Mutex);
  return Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return Lines.size() >= n; });
}

void TModemSim::OnStart(TClock::time_point now)
{
  CpinDue.reset();
  if (Cpin != ECpin::Never) CpinDue = now + std::chrono::milliseconds(CpinMs);
}

std::optional<TSimServer::TClock::time_point> TModemSim::NextTimer() const { return CpinDue; }

void TModemSim::OnTimer(TClock::time_point now, std::vector<TSimOutput>& out)
{
  // Offer the card status only while the program keeps reading: a program that is not attached
  // would otherwise find a pile of them (and the master stalls after some 20 KiB unread).
  if (UnreadByProgram() == 0) out.push_back({kCpinReady, 0, false});
  if (Cpin == ECpin::Repeat) {
    CpinDue = now + std::chrono::milliseconds(CpinMs);
  } else {
    CpinDue.reset();
  }
}

void TModemSim::Process(std::string_view bytes, TClock::time_point /*now*/, std::vector<TSimOutput>& out)
{
  for (const char c : bytes) {
    if (DataMode) {
      DataByte(c, out);
    } else {
      CommandByte(c, out);
    }
  }
}

void TModemSim::DataByte(char c, std::vector<TSimOutput>& out)
{
  if (c == '\r') {
    DataLine.clear();
  } else if (DataLine.size() < 4) {
    DataLine += c;
  }
  if (DataLine == "+++") {
    // The pluses before this one already went to the panel; it forgets them.
    Panel.ResetInput();
    DataMode = false;
    DataLine.clear();
    Line.clear();
    Escape(out);
    return;
  }
  Panel.Feed(std::string_view(&c, 1), out);
}

void TModemSim::CommandByte(char c, std::vector<TSimOutput>& out)
{
  if (c == '\r') {
    const std::string line = Line;
    Line.clear();
    if (!line.empty()) HandleLine(line, out);
    return;
  }
  if (c == '\n' || c == '\0') return;
  if (Line.size() < kMaxLine) Line += c;
  if (Line == "+++") {
    Line.clear();
    Escape(out);
  }
}

void TModemSim::Escape(std::vector<TSimOutput>& out)
{
  Record("+++");
  out.push_back({"\r\nOK\r\n", 0, false});
}

void TModemSim::Record(const std::string& line)
{
  Lines.push_back(line);
  Announce.push_back(line);
  // The program is talking to us: the card status has been offered long enough.
  CpinDue.reset();
}

EModemOutcome TModemSim::OutcomeOf(const std::string& upperCommand, EModemOutcome fallback) const
{
  const auto it = Outcomes.find(upperCommand);
  return it == Outcomes.end() ? fallback : it->second;
}

void TModemSim::HandleLine(const std::string& line, std::vector<TSimOutput>& out)
{
  Record(line);
  const std::string upperLine = Upper(line);
  const auto at = upperLine.find("AT");
  if (at == std::string::npos) return;
  const std::string command = upperLine.substr(at);
  const std::string echo = Echo ? line + "\r" : "";

  if (command.starts_with("ATD")) {
    if (DialReply.empty()) return;
    if (DialReply.starts_with("CONNECT")) {
      CallUp = true;
      DataMode = true;
      DataLine.clear();
      Panel.ResetInput();
    }
    out.push_back({DialReply, DialDelayMs, false});
    return;
  }

  const EModemOutcome outcome = OutcomeOf(command, EModemOutcome::Error);
  if (outcome != EModemOutcome::Ok) {
    out.push_back({Result(echo, outcome), 0, false});
    return;
  }
  if (command == "AT+CREG?") {
    out.push_back({Result(echo, outcome, "\r\n" + CregReply + "\r\n"), 0, false});
  } else if (command == "AT+CPIN?") {
    out.push_back({Result(echo, outcome, std::string("\r\n") + kCpinReady + "\r\n"), 0, false});
  } else if (command == "ATO") {
    if (CallUp) {
      DataMode = true;
      DataLine.clear();
      out.push_back({echo + "\r\nCONNECT 9600\r\n", 0, false});
    } else {
      out.push_back({echo + "\r\nNO CARRIER\r\n", 0, false});
    }
  } else {
    if (command == "ATH" || command == "ATH0") {
      CallUp = false;
      DataMode = false;
    } else if (command == "ATE0" || command == "ATE1") {
      Echo = command == "ATE1";
    }
    out.push_back({Result(echo, outcome), 0, false});
  }
}

}  // namespace ostrel::sim
