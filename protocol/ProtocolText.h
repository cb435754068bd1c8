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

// Why a reply to a settings request cannot be trusted; Good when it can.
enum class TReplyFault {
  Good,
  NoOk,      // "OK" never came back (case of letters aside)
  Refused,   // the panel answered "ERR" or "ERROR"
  LinkLost,  // "NO CARRIER", "DISCONNECT" or "BUSY": the call is gone
  WrongEcho  // the reply does not begin with the command that was sent
};
// Judges a reply as the exchanges take it: it must hold "OK", neither a
// refusal nor a loss of the link, and begin with the echo of the command (a
// line feed left over from the previous answer aside) followed by a carriage
// return.
TReplyFault JudgeReply(const std::string& command, const std::string& reply);
// The memo line for a reply that was answered but cannot be trusted.
std::string UntrustedReplyLine(const std::string& command, TReplyFault fault);

// Values as the panel's fields hold them.
// A phone number: digits and "+" only (empty is an empty entry).
bool IsPhoneValue(std::string_view text);
// A key in wire order: hexadecimal digits, at most 16.
bool IsKeyValue(std::string_view text);
