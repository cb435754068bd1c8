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

TReplyFault JudgeReply(const std::string& command, const std::string& reply) {
  auto contains = [&](const char* word) { return reply.find(word) != std::string::npos; };
  if (contains("NO CARRIER") || contains("DISCONNECT") || contains("BUSY")) return TReplyFault::LinkLost;
  if (contains("ERR")) return TReplyFault::Refused;
  std::string upper = reply;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (upper.find("OK") == std::string::npos) return TReplyFault::NoOk;
  const size_t start = reply.find_first_not_of('\n');
  if (start == std::string::npos || reply.compare(start, command.size(), command) != 0 ||
      CharAt(reply, start + command.size() + 1) != '\r')
    return TReplyFault::WrongEcho;
  return TReplyFault::Good;
}

std::string UntrustedReplyLine(const std::string& command, TReplyFault fault) {
  switch (fault) {
    case TReplyFault::NoOk:
      return " # !!! Нет подтверждения OK на " + command;
    case TReplyFault::Refused:
      return " # !!! Панель отказала в команде " + command;
    case TReplyFault::LinkLost:
      return " # !!! Связь потеряна во время команды " + command;
    case TReplyFault::WrongEcho:
      return " # !!! Ответ не на команду " + command;
    case TReplyFault::Good:
      break;
  }
  return {};
}

bool IsPhoneValue(std::string_view text) {
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
