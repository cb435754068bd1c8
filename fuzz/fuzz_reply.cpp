// The device's reply parsing: the first input byte picks a request kind, the
// rest is the text the panel sent. Each kind takes its value from the reply
// line as its exchange does, and what comes out must be a value the page can
// hold or nothing at all.
#include <string>

#include "fuzz/FuzzSupport.h"
#include "protocol/DevOstrel.h"
#include "protocol/ProtocolText.h"

namespace {

bool IsHex(const std::string& text) {
  return text.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
}

void Phone(const std::string& reply) {
  // "+rtNN" and the phone, cut to the edit's length.
  const std::string phone = TextFrom(TDevOstrel::ReplyLine(reply), 6).substr(0, 20);
  fuzz::Require(phone.size() <= 20, "a phone fits its edit");
}

void Flags(const std::string& reply) {
  const std::string flags = TextFrom(TDevOstrel::ReplyLine(reply), 6);
  for (size_t i = 1; i <= 3; ++i) {
    const char c = CharAt(flags, i);
    fuzz::Require(i <= flags.size() ? c == flags[i - 1] : c == '\0', "CharAt gives the character or nothing");
  }
}

void Delays(const std::string& reply) {
  const std::string record = TextFrom(TDevOstrel::ReplyLine(reply), 4).substr(0, 6);
  for (size_t position : {1u, 3u}) {
    if (record.size() < position + 1) continue;
    const std::optional<int> delay = ParseHex(std::string_view(record).substr(position - 1, 2));
    if (delay) fuzz::Require(*delay >= 0 && *delay <= 255, "a delay of two hexadecimal digits is 0..255");
  }
}

void Key(const std::string& reply) {
  const std::string wire = TextFrom(TDevOstrel::ReplyLine(reply), 5);
  const std::string key = SwapKeyBytes(wire);
  fuzz::Require(key.size() == 16, "a key is 16 characters");
  // The conversion is its own inverse on what it produced.
  fuzz::Require(SwapKeyBytes(SwapKeyBytes(key)) == key, "swapping twice gives the key back");
}

void GsmDigit(const std::string& reply) {
  const char c = CharAt(TDevOstrel::ReplyLine(reply), 4);
  if (c >= '0' && c <= '9') fuzz::Require(c - '0' - 1 >= -1 && c - '0' - 1 <= 8, "a ring digit gives an index");
}

void AdcValue(const std::string& reply) {
  const std::string line = TDevOstrel::ReplyLine(reply);
  const std::optional<int> value = ParseHex(line);
  if (!value) {
    fuzz::Require(!BadValueLine("+c=0", line).empty(), "a bad value is logged");
    return;
  }
  fuzz::Require(*value >= 0 && IsHex(line), "a hexadecimal value is non-negative");
  // Written back with at least as many digits, it reads the same.
  fuzz::Require(ParseHex(ToHex(*value, 3)) == value, "ToHex and ParseHex agree");
}

void Decimal(const std::string& reply) {
  const std::string line = TDevOstrel::ReplyLine(reply);
  if (const std::optional<int> value = ParseDecimal(line))
    fuzz::Require(std::to_string(*value) == line || line.front() == '0' || line.rfind("-0", 0) == 0,
                  "a decimal reads as written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string reply(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string line = TDevOstrel::ReplyLine(reply);
  fuzz::Require(line.find('\r') == std::string::npos, "the reply line holds no carriage return");
  switch (data[0] % 7) {
    case 0: Phone(reply); break;
    case 1: Flags(reply); break;
    case 2: Delays(reply); break;
    case 3: Key(reply); break;
    case 4: GsmDigit(reply); break;
    case 5: AdcValue(reply); break;
    default: Decimal(reply); break;
  }
  return 0;
}
