#include "protocol/ProtocolText.h"

#include <charconv>
#include <climits>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string SwapKeyBytes(const std::string& text) {
  constexpr size_t Length = 16;
  std::string key = text;
  if (key.size() < Length) key.insert(0, Length - key.size(), '0');
  key.resize(Length);
  std::string swapped;
  swapped.reserve(Length);
  for (size_t pair = Length / 2; pair-- > 0;) swapped.append(key, pair * 2, 2);
  return swapped;
}

std::optional<int> ParseHex(std::string_view text) {
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + digit;
    if (value > INT_MAX) return std::nullopt;
  }
  return static_cast<int>(value);
}

std::optional<int> ParseAdcValue(std::string_view text) {
  constexpr int kAdcMax = 1023;
  const std::optional<int> value = ParseHex(text);
  if (!value || *value > kAdcMax) return std::nullopt;
  return value;
}

std::optional<int> RingIndex(char digit) {
  if (digit < '1' || digit > '6') return std::nullopt;
  return digit - '1';
}

std::optional<int> ParseDecimal(std::string_view text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [last, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || last != end) return std::nullopt;
  return value;
}

std::string ToHex(int value, int digits) {
  static const char Digits[] = "0123456789ABCDEF";
  unsigned rest = value < 0 ? 0u : static_cast<unsigned>(value);
  std::string text;
  do {
    text.insert(text.begin(), Digits[rest % 16]);
    rest /= 16;
  } while (rest != 0);
  if (static_cast<int>(text.size()) < digits) text.insert(0, digits - text.size(), '0');
  return text;
}

char CharAt(std::string_view text, size_t position) {
  return position >= 1 && position <= text.size() ? text[position - 1] : '\0';
}

std::string TextFrom(const std::string& text, size_t position) {
  return position >= 1 && position <= text.size() ? text.substr(position - 1) : std::string();
}

std::string BadValueLine(const std::string& command, const std::string& value) {
  if (value.empty()) return " # !!! Нет значения в ответе на " + command;
  return " # !!! Неверное значение в ответе на " + command + ": " + value;
}

namespace {

bool Contains(std::string_view text, std::string_view word) { return text.find(word) != std::string_view::npos; }

bool ContainsOk(std::string_view text) {
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if ((text[i] == 'O' || text[i] == 'o') && (text[i + 1] == 'K' || text[i + 1] == 'k')) return true;
  return false;
}

// Where the echo of the command, with its carriage return, starts a line.
size_t FindEcho(const std::string& text, const std::string& command) {
  const std::string echo = command + '\r';
  for (size_t at = text.find(echo); at != std::string::npos; at = text.find(echo, at + 1))
    if (at == 0 || text[at - 1] == '\r' || text[at - 1] == '\n') return at;
  return std::string::npos;
}

bool IsBit(char c) { return c == '0' || c == '1'; }

}  // namespace

TReplyJudgement JudgeAnswer(const std::string& command, const std::string& text, const TRequestRule& rule) {
  TReplyJudgement judgement;
  if (Contains(text, "NO CARRIER") || Contains(text, "DISCONNECT") || Contains(text, "BUSY")) return judgement;
  const size_t at = FindEcho(text, command);
  if (at == std::string::npos) return judgement;
  judgement.AnswerAt = at;
  const std::string_view rest = std::string_view(text).substr(at + command.size() + 1);
  if (rule.Form == TReplyForm::Confirm) {
    if (Contains(rest, "ERR"))
      judgement.Fault = TReplyFault::Refused;
    else if (ContainsOk(rest))
      judgement.Fault = TReplyFault::Good;
    return judgement;
  }
  const size_t lineEnd = rest.find('\r');
  if (lineEnd == std::string_view::npos) return judgement;
  const std::string_view line = rest.substr(0, lineEnd);
  const bool version = rule.Form == TReplyForm::Version;
  // The version text may itself hold such a word ("VER 05.10 ERROR").
  if (Contains(line, "ERR") && !(version && Contains(line, "VER 05"))) {
    judgement.Fault = TReplyFault::Refused;
    return judgement;
  }
  if (!ContainsOk(rest.substr(lineEnd + 1))) return judgement;
  if (rule.Form == TReplyForm::Echoed) {
    if (line.substr(0, command.size()) != command) {
      judgement.Fault = TReplyFault::WrongLine;
      return judgement;
    }
    judgement.Value = std::string(line.substr(command.size()));
  } else {
    judgement.Value = std::string(line);
  }
  if (version)
    judgement.Fault = Contains(line, "VER 05") ? TReplyFault::Good : TReplyFault::WrongLine;
  else
    judgement.Fault = !rule.Valid || rule.Valid(judgement.Value) ? TReplyFault::Good : TReplyFault::BadValue;
  return judgement;
}

std::string UntrustedReplyLine(const std::string& command, const TReplyJudgement& judgement) {
  switch (judgement.Fault) {
    case TReplyFault::Refused:
      return " # !!! Панель отказала в команде " + command;
    case TReplyFault::WrongLine:
      return " # !!! Ответ не на команду " + command;
    case TReplyFault::BadValue:
      return BadValueLine(command, judgement.Value);
    case TReplyFault::Good:
    case TReplyFault::Incomplete:
      break;
  }
  return {};
}

bool IsPhoneValue(std::string_view text) {
  constexpr size_t kPhoneLength = 20;
  if (text.size() > kPhoneLength) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || c == '+')) return false;
  return true;
}

bool IsKeyValue(std::string_view text) {
  if (text.size() > 16) return false;
  for (char c : text)
    if (HexDigit(c) < 0) return false;
  return true;
}

bool IsFlagsValue(std::string_view text) {
  return text.size() == 3 && IsBit(text[0]) && IsBit(text[1]) && IsBit(text[2]);
}

bool IsDelaysValue(std::string_view text) {
  return text.size() == 6 && ParseHex(text.substr(0, 4)).has_value() && IsBit(text[4]) && IsBit(text[5]);
}

bool IsModuleValue(std::string_view text) { return !text.empty(); }

bool IsRingValue(std::string_view text) { return text.size() == 1 && RingIndex(text[0]).has_value(); }

bool IsAdcValue(std::string_view text) { return ParseAdcValue(text).has_value(); }
