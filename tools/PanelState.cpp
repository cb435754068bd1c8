#include "tools/PanelState.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

namespace ostrel::sim {

namespace {

bool IsHex(char c)
{
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int HexValue(char c)
{
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return c - 'a' + 10;
}

bool ParseDecimal(std::string_view text, int minValue, int maxValue, int& value)
{
  if (text.empty()) return false;
  int parsed = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (parsed < minValue || parsed > maxValue) return false;
  value = parsed;
  return true;
}

bool ParseBool(std::string_view text, bool& value)
{
  if (text == "0" || text == "1") {
    value = text == "1";
    return true;
  }
  return false;
}

// One setter per file key: each checks its value and stores it, or returns false.
using TSetter = std::function<bool(TPanelState&, std::string_view)>;

std::map<std::string, TSetter> MakeSetters()
{
  std::map<std::string, TSetter> setters;
  for (int i = 0; i < kEntryCount; ++i) {
    setters["phone" + std::to_string(i + 1)] = [i](TPanelState& s, std::string_view v) {
      if (!IsPrintableAscii(v)) return false;
      s.Phones[i] = std::string(v);
      return true;
    };
    setters["flags" + std::to_string(i + 1)] = [i](TPanelState& s, std::string_view v) {
      if (!IsValidFlags(v)) return false;
      s.Flags[i] = std::string(v);
      return true;
    };
  }
  setters["entry_delay"] = [](TPanelState& s, std::string_view v) { return ParseDecimal(v, 0, 255, s.EntryDelay); };
  setters["exit_delay"] = [](TPanelState& s, std::string_view v) { return ParseDecimal(v, 0, 255, s.ExitDelay); };
  setters["fast_arming"] = [](TPanelState& s, std::string_view v) { return ParseBool(v, s.FastArming); };
  setters["wait_send"] = [](TPanelState& s, std::string_view v) { return ParseBool(v, s.WaitSend); };
  for (int i = 0; i < kKeyCount; ++i) {
    setters["key" + std::to_string(i)] = [i](TPanelState& s, std::string_view v) {
      if (!IsValidKey(v)) return false;
      s.Keys[i] = std::string(v);
      return true;
    };
  }
  setters["gsm_module"] = [](TPanelState& s, std::string_view v) { return ParseDecimal(v, 0, 2, s.GsmModule); };
  setters["ring"] = [](TPanelState& s, std::string_view v) { return ParseDecimal(v, 1, 6, s.Ring); };
  for (int c = 0; c < kAdcChannels; ++c) {
    const std::string prefix = "adc" + std::to_string(c) + "_";
    setters[prefix + "reading"] = [c](TPanelState& s, std::string_view v) {
      return ParseDecimal(v, 0, kAdcMax, s.Adc[c].Reading);
    };
    for (int k = 0; k < kAdcThresholds; ++k) {
      setters[prefix + "threshold" + std::to_string(k)] = [c, k](TPanelState& s, std::string_view v) {
        return ParseDecimal(v, 0, kAdcMax, s.Adc[c].Thresholds[k]);
      };
    }
  }
  return setters;
}

std::string ToText(const TPanelState& state)
{
  std::ostringstream out;
  out << "# Ostrel GSM panel simulator state\n";
  for (int i = 0; i < kEntryCount; ++i) out << "phone" << i + 1 << '=' << state.Phones[i] << '\n';
  for (int i = 0; i < kEntryCount; ++i) out << "flags" << i + 1 << '=' << state.Flags[i] << '\n';
  out << "entry_delay=" << state.EntryDelay << '\n'
      << "exit_delay=" << state.ExitDelay << '\n'
      << "fast_arming=" << (state.FastArming ? 1 : 0) << '\n'
      << "wait_send=" << (state.WaitSend ? 1 : 0) << '\n';
  for (int i = 0; i < kKeyCount; ++i) out << "key" << i << '=' << state.Keys[i] << '\n';
  out << "gsm_module=" << state.GsmModule << '\n' << "ring=" << state.Ring << '\n';
  for (int c = 0; c < kAdcChannels; ++c) {
    out << "adc" << c << "_reading=" << state.Adc[c].Reading << '\n';
    for (int k = 0; k < kAdcThresholds; ++k)
      out << "adc" << c << "_threshold" << k << '=' << state.Adc[c].Thresholds[k] << '\n';
  }
  return out.str();
}

}  // namespace

std::string TPanelState::DelaysRecord() const
{
  char record[8];
  std::snprintf(record, sizeof record, "%02X%02X%c%c", EntryDelay & 0xFF, ExitDelay & 0xFF,
                FastArming ? '1' : '0', WaitSend ? '1' : '0');
  return record;
}

bool TPanelState::SetDelaysRecord(std::string_view record)
{
  if (record.size() != 6 || !IsHexDigits(record.substr(0, 4))) return false;
  bool fast = false;
  bool wait = false;
  if (!ParseBool(record.substr(4, 1), fast) || !ParseBool(record.substr(5, 1), wait)) return false;
  EntryDelay = HexValue(record[0]) * 16 + HexValue(record[1]);
  ExitDelay = HexValue(record[2]) * 16 + HexValue(record[3]);
  FastArming = fast;
  WaitSend = wait;
  return true;
}

bool IsPrintableAscii(std::string_view text)
{
  for (const char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

bool IsHexDigits(std::string_view text)
{
  if (text.empty()) return false;
  for (const char c : text) {
    if (!IsHex(c)) return false;
  }
  return true;
}

bool IsValidKey(std::string_view text) { return text.size() == 16 && IsHexDigits(text); }

bool IsValidFlags(std::string_view text) { return text.size() == 3 && IsPrintableAscii(text); }

bool SavePanelState(const TPanelState& state, const std::string& path, std::string& error)
{
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = "Cannot write " + temp + ": " + std::strerror(errno);
      return false;
    }
    out << ToText(state);
    out.flush();
    if (!out) {
      error = "Cannot write " + temp;
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    error = "Cannot replace " + path + ": " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool LoadPanelState(const std::string& path, TPanelState& state, std::string& error)
{
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "Cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  static const std::map<std::string, TSetter> setters = MakeSetters();
  TPanelState loaded = state;
  std::set<std::string> seen;
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();  // tolerate CR LF files
    if (line.empty() || line.front() == '#') continue;
    const auto where = path + ":" + std::to_string(lineNo) + ": ";
    const auto eq = line.find('=');
    if (eq == std::string::npos) {
      error = where + "expected key=value";
      return false;
    }
    const std::string key = line.substr(0, eq);
    const std::string_view value = std::string_view(line).substr(eq + 1);
    const auto setter = setters.find(key);
    if (setter == setters.end()) {
      error = where + "unknown key \"" + key + "\"";
      return false;
    }
    if (!seen.insert(key).second) {
      error = where + "repeated key \"" + key + "\"";
      return false;
    }
    if (!setter->second(loaded, value)) {
      error = where + "bad value for \"" + key + "\"";
      return false;
    }
  }
  if (in.bad()) {
    error = "Cannot read " + path;
    return false;
  }
  state = loaded;
  return true;
}

}  // namespace ostrel::sim
