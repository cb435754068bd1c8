// Text helpers of the panel protocol: keys in wire order, hexadecimal and
// decimal values, characters and tails of reply lines.
//
// Pure functions on values; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Converts a key between the page's order and the wire's: the text is padded
// with "0"s in front to 16 characters, cut to its first 16, and its eight
// character pairs are returned in reverse order. The characters themselves are
// neither checked nor changed, so the conversion is its own inverse.
std::string SwapKeyBytes(const std::string& text);

// The value of a text made only of hexadecimal digits (either case); nothing
// when the text is empty, holds any other character or exceeds the int range.
std::optional<int> ParseHex(std::string_view text);
// An ADC reading or threshold as the panel sends it: hexadecimal digits of a
// value on the scale 0 to 1023; nothing otherwise.
std::optional<int> ParseAdcValue(std::string_view text);
// The ring duration digit of a "+rh" reply ("1" to "6") as the item index of
// the ring list (0 to 5); nothing for any other character.
std::optional<int> RingIndex(char digit);
// The value of a decimal text with an optional leading "-"; nothing otherwise.
std::optional<int> ParseDecimal(std::string_view text);
// Upper-case hexadecimal digits of value, "0"s in front up to digits
// characters. A negative value counts as 0.
std::string ToHex(int value, int digits);

// The character at a 1-based position, '\0' beyond the end of the text.
char CharAt(std::string_view text, size_t position);
// The text from a 1-based position to its end, "" beyond the end.
std::string TextFrom(const std::string& text, size_t position);

// The memo line for a value that a reply should have carried but did not
// (empty) or that cannot be read as a number.
std::string BadValueLine(const std::string& command, const std::string& value);

// What the reply line of a request carries.
enum class TReplyForm {
  Confirm,  // a write: the echo of the command and "OK", no reply line
  Echoed,   // the reply line begins with the request text, the value follows it
  Whole,    // the whole reply line is the value (the ADC requests)
  Version   // the version request: the reply line holds "VER 05"
};
using TValueRule = bool (*)(std::string_view value);
struct TRequestRule {
  TReplyForm Form = TReplyForm::Confirm;
  TValueRule Valid = nullptr;  // for Echoed and Whole; nullptr takes any value
};

// Why the text that one attempt gathered is, or is not yet, the panel's
// answer to a request.
enum class TReplyFault {
  Good,
  Incomplete,  // no complete answer to this command yet: wait for more
  Refused,     // the panel answered "ERR" or "ERROR"
  WrongLine,   // the reply line answers another request
  BadValue     // the value is not one its field can hold
};
struct TReplyJudgement {
  TReplyFault Fault = TReplyFault::Incomplete;
  size_t AnswerAt = 0;  // where the echo of the command starts in the text
  std::string Value;    // the value, for Echoed, Whole and Version
};
// The answer begins with the echo of the command and its carriage return at
// the start of a line; whatever came before it (a late "OK" of the previous
// command, a line feed) is not part of it. Then, but for Confirm, the reply
// line and its carriage return, then "OK" (case of letters aside). A reply
// that reports the loss of the link is never complete: the wait ends on it.
TReplyJudgement JudgeAnswer(const std::string& command, const std::string& text, const TRequestRule& rule);
// The memo line for an answer that cannot be trusted.
std::string UntrustedReplyLine(const std::string& command, const TReplyJudgement& judgement);

// Values as the panel's fields hold them.
// A phone number: digits and "+" only, at most 20 (empty is an empty entry).
bool IsPhoneValue(std::string_view text);
// The flag field of an entry: three positions, each "0" or "1".
bool IsFlagsValue(std::string_view text);
// The delays record: two hexadecimal delays, then the fast arming and the
// wait-for-sending options, each "0" or "1".
bool IsDelaysValue(std::string_view text);
// The GSM module: its first character decides ("0", "1", anything else the
// modem); a reply without it carries no module.
bool IsModuleValue(std::string_view text);
// The ring duration: one digit 1 to 6.
bool IsRingValue(std::string_view text);
// An ADC reading or threshold: hexadecimal digits of 0 to 1023.
bool IsAdcValue(std::string_view text);
// A key in wire order: hexadecimal digits, at most 16.
bool IsKeyValue(std::string_view text);
