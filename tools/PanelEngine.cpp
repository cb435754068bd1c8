#include "tools/PanelEngine.h"

#include <algorithm>
#include <cstdio>

namespace ostrel::sim {

namespace {

constexpr std::string_view kCr = "\r";
constexpr std::string_view kOk = "OK\r\n";
constexpr std::string_view kError = "ERROR\r\n";

struct TFaultName
{
  EFault Kind;
  const char* Name;
};

constexpr TFaultName kFaultNames[] = {
    {EFault::Silence, "silence"},     {EFault::NoOk, "no-ok"}, {EFault::Error, "error"},
    {EFault::LowerOk, "lower-ok"},    {EFault::NoCarrier, "no-carrier"},
    {EFault::Busy, "busy"},           {EFault::CloseLine, "close"},
    {EFault::Refuse, "refuse"},       {EFault::Reply, "reply"},
    {EFault::Keep, "keep"},
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "01".."12" -> 0..11, otherwise -1.
int EntryIndex(std::string_view digits)
{
  if (digits.size() != 2 || !IsDigit(digits[0]) || !IsDigit(digits[1])) return -1;
  const int n = (digits[0] - '0') * 10 + (digits[1] - '0');
  return n >= 1 && n <= kEntryCount ? n - 1 : -1;
}

// One digit "lo".."hi" -> its value, otherwise -1.
int SingleDigit(std::string_view text, int lo, int hi)
{
  if (text.size() != 1 || !IsDigit(text[0])) return -1;
  const int n = text[0] - '0';
  return n >= lo && n <= hi ? n : -1;
}

std::string Hex3(int value)
{
  char text[8];
  std::snprintf(text, sizeof text, "%03X", value & 0xFFF);
  return text;
}

int ParseHex3(std::string_view text)
{
  if (text.size() != 3 || !IsHexDigits(text)) return -1;
  int value = 0;
  for (const char c : text) {
    value = value * 16 + (IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return value <= kAdcMax ? value : -1;
}

int ParseHex2(std::string_view digits)
{
  int value = 0;
  for (const char c : digits) {
    const int lower = c | 0x20;
    if (!IsDigit(c) && (lower < 'a' || lower > 'f')) return -1;
    value = value * 16 + (IsDigit(c) ? c - '0' : lower - 'a' + 10);
  }
  return value;
}

// "\r", "\n", "\\" and "\xHH" in a reply=TEXT fault; nothing for a bad escape.
std::optional<std::string> Unescape(std::string_view text)
{
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i >= text.size()) return std::nullopt;
    switch (text[i]) {
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case '\\': out += '\\'; break;
      case 'x': {
        const int value = i + 2 < text.size() ? ParseHex2(text.substr(i + 1, 2)) : -1;
        if (value < 0) return std::nullopt;
        out += static_cast<char>(value);
        i += 2;
        break;
      }
      default: return std::nullopt;
    }
  }
  return out;
}

}  // namespace

std::optional<TFault> ParseFault(std::string_view text, std::string& error)
{
  const std::string usage = "bad fault \"" + std::string(text) + "\": expected PREFIX:KIND[:once][:skip=N]";
  // The prefix may itself hold ":" only in theory; panel commands never do, so options and the
  // kind are split off from the right.
  std::string_view rest = text;
  TFault fault;
  for (;;) {
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos) break;
    const std::string_view option = rest.substr(colon + 1);
    if (option == "once") {
      fault.Once = true;
    } else if (option.starts_with("skip=")) {
      const std::string_view digits = option.substr(5);
      if (digits.empty() || digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), IsDigit)) {
        error = usage;
        return std::nullopt;
      }
      fault.Skip = std::stoi(std::string(digits));
    } else {
      break;
    }
    rest = rest.substr(0, colon);
  }
  const auto colon = rest.find(':');
  if (colon == std::string_view::npos || colon == 0) {
    error = usage;
    return std::nullopt;
  }
  fault.Prefix = std::string(rest.substr(0, colon));
  const std::string_view kind = rest.substr(colon + 1);
  if (kind.starts_with("reply=")) {
    const std::optional<std::string> reply = Unescape(kind.substr(6));
    if (!reply) {
      error = "bad fault \"" + std::string(text) + "\": bad escape in the reply text";
      return std::nullopt;
    }
    fault.Kind = EFault::Reply;
    fault.Reply = *reply;
    return fault;
  }
  for (const auto& entry : kFaultNames) {
    if (kind == entry.Name) {
      fault.Kind = entry.Kind;
      return fault;
    }
  }
  error = "bad fault kind \"" + std::string(kind) +
          "\": expected silence, no-ok, error, lower-ok, no-carrier, busy, close, refuse or reply=TEXT";
  return std::nullopt;
}

const char* FaultName(EFault kind)
{
  for (const auto& entry : kFaultNames) {
    if (entry.Kind == kind) return entry.Name;
  }
  return "?";
}

void TPanelEngine::Feed(std::string_view bytes, std::vector<TSimOutput>& out)
{
  for (const char c : bytes) {
    if (c == '\r') {
      if (!Pending.empty() || Overflow) {
        // An over-long command is recorded cut short and refused.
        const std::string command = Pending;
        const bool overflow = Overflow;
        Pending.clear();
        Overflow = false;
        if (overflow) {
          Commands.push_back(command);
          out.push_back({command + std::string(kCr) + std::string(kError), ReplyDelayMs, false});
        } else {
          HandleCommand(command, out);
        }
      }
    } else if (c == '\n' || c == '\0') {
      continue;
    } else if (Pending.size() < kMaxCommand) {
      Pending += c;
    } else {
      Overflow = true;
    }
  }
}

void TPanelEngine::HandleCommand(const std::string& command, std::vector<TSimOutput>& out)
{
  Commands.push_back(command);
  const std::optional<TFault> taken = TakeFault(command);
  const std::optional<EFault> fault = taken ? std::optional<EFault>(taken->Kind) : std::nullopt;
  const std::string echo = command + std::string(kCr);

  if (fault) {
    switch (*fault) {
      case EFault::Refuse: out.push_back({echo + "ERR\r\n", ReplyDelayMs, false}); return;
      case EFault::Reply: out.push_back({taken->Reply, ReplyDelayMs, false}); return;
      case EFault::Silence: return;
      case EFault::Error: out.push_back({echo + std::string(kError), ReplyDelayMs, false}); return;
      case EFault::NoCarrier: out.push_back({"\r\nNO CARRIER\r\n", ReplyDelayMs, false}); return;
      case EFault::Busy: out.push_back({"\r\nBUSY\r\n", ReplyDelayMs, false}); return;
      case EFault::CloseLine: out.push_back({"", ReplyDelayMs, true}); return;
      case EFault::NoOk:
      case EFault::LowerOk:
      case EFault::Keep: break;  // answered as usual below
    }
  }

  // A panel that confirms a write it then forgets: the command is judged and
  // answered, but its effect on the state is undone.
  const TPanelState before = State;
  const bool changedBefore = StateChanged;
  const TResult result = Execute(command);
  if (fault == EFault::Keep) {
    State = before;
    StateChanged = changedBefore;
  }
  if (!result.Valid) {
    out.push_back({echo + std::string(kError), ReplyDelayMs, false});
    return;
  }
  std::string reply = echo;
  if (result.Line) reply += *result.Line + std::string(kCr);
  if (!fault || *fault == EFault::Keep) {
    reply += kOk;
  } else if (*fault == EFault::LowerOk) {
    reply += "ok\r\n";
  }
  out.push_back({reply, ReplyDelayMs, false});
}

std::optional<TFault> TPanelEngine::TakeFault(const std::string& command)
{
  for (auto it = Faults.begin(); it != Faults.end(); ++it) {
    if (command.compare(0, it->Prefix.size(), it->Prefix) != 0) continue;
    if (it->Skip > 0) {
      --it->Skip;
      return std::nullopt;
    }
    const TFault fault = *it;
    if (it->Once) Faults.erase(it);
    return fault;
  }
  return std::nullopt;
}

TPanelEngine::TResult TPanelEngine::Execute(const std::string& command)
{
  const std::string_view cmd = command;
  if (cmd == "+v") return {true, VersionText};
  if (cmd.starts_with("+r")) return ExecuteRead(cmd);
  if (cmd.starts_with("+w")) return ExecuteWrite(cmd);
  if (cmd.starts_with("+c=") || cmd.starts_with("+it")) return ExecuteAdc(cmd);
  return {};
}

TPanelEngine::TResult TPanelEngine::ExecuteRead(std::string_view cmd)
{
  const std::string line(cmd);
  const std::string_view head = cmd.substr(0, 3);
  const std::string_view arg = cmd.substr(3);
  if (head == "+rt" || head == "+rq") {
    const int entry = EntryIndex(arg);
    if (entry < 0) return {};
    return {true, line + (head == "+rt" ? State.Phones[entry] : State.Flags[entry])};
  }
  if (head == "+rk") {
    const int key = SingleDigit(arg, 0, kKeyCount - 1);
    if (key < 0) return {};
    return {true, line + State.Keys[key]};
  }
  if (!arg.empty()) return {};
  if (head == "+rp") return {true, line + State.DelaysRecord()};
  if (head == "+rg") return {true, line + std::to_string(State.GsmModule)};
  if (head == "+rh") return {true, line + std::to_string(State.Ring)};
  return {};
}

TPanelEngine::TResult TPanelEngine::ExecuteWrite(std::string_view cmd)
{
  const std::string_view head = cmd.substr(0, 3);
  const auto eq = cmd.find('=');
  if (eq == std::string_view::npos) return {};
  const std::string_view arg = cmd.substr(3, eq - 3);
  const std::string_view value = cmd.substr(eq + 1);

  if (head == "+wt" || head == "+wq") {
    const int entry = EntryIndex(arg);
    if (entry < 0) return {};
    if (head == "+wt") {
      if (!IsPrintableAscii(value)) return {};
      State.Phones[entry] = std::string(value);
    } else {
      if (!IsValidFlags(value)) return {};
      State.Flags[entry] = std::string(value);
    }
  } else if (head == "+wk") {
    const int key = SingleDigit(arg, 0, kKeyCount - 1);
    if (key < 0 || !IsValidKey(value)) return {};
    State.Keys[key] = std::string(value);
  } else if (!arg.empty()) {
    return {};
  } else if (head == "+wp") {
    if (!State.SetDelaysRecord(value)) return {};
  } else if (head == "+wg") {
    const int module = SingleDigit(value, 0, 2);
    if (module < 0) return {};
    State.GsmModule = module;
  } else if (head == "+wh") {
    const int ring = SingleDigit(value, 1, 6);
    if (ring < 0) return {};
    State.Ring = ring;
  } else {
    return {};
  }
  StateChanged = true;
  return {true, std::nullopt};
}

TPanelEngine::TResult TPanelEngine::ExecuteAdc(std::string_view cmd)
{
  if (cmd.starts_with("+c=")) {
    const int channel = SingleDigit(cmd.substr(3), 0, kAdcChannels - 1);
    if (channel < 0) return {};
    if (ReadingSource)
      if (const std::optional<int> reading = ReadingSource(channel)) State.Adc[channel].Reading = *reading;
    return {true, Hex3(State.Adc[channel].Reading)};
  }
  // "+itCK" reads threshold K of channel C, "+itCK=HHH" writes it.
  if (cmd.size() < 5) return {};
  const int channel = SingleDigit(cmd.substr(3, 1), 0, kAdcChannels - 1);
  const int index = SingleDigit(cmd.substr(4, 1), 0, kAdcThresholds - 1);
  if (channel < 0 || index < 0) return {};
  const std::string_view rest = cmd.substr(5);
  if (rest.empty()) return {true, Hex3(State.Adc[channel].Thresholds[index])};
  if (rest[0] != '=') return {};
  const int value = ParseHex3(rest.substr(1));
  if (value < 0) return {};
  State.Adc[channel].Thresholds[index] = value;
  StateChanged = true;
  return {true, std::nullopt};
}

}  // namespace ostrel::sim
