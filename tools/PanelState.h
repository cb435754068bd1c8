#pragma once
// The simulated panel's settings and their state file.
//
// State file: UTF-8 text, one "key=value" per line, split at the first "=". Blank lines and lines
// starting with "#" are skipped; a key may appear once; keys left out keep their defaults.
//   phone1 .. phone12           printable ASCII text, may be empty
//   flags1 .. flags12           three printable ASCII characters ("1" on, anything else off)
//   entry_delay, exit_delay     decimal 0..255
//   fast_arming, wait_send      0 or 1
//   key0 .. key9                16 hexadecimal digits, in the order the panel sends them
//   gsm_module                  0, 1 or 2
//   ring                        1..6
//   adc0_reading, adc1_reading  decimal 0..1023
//   adc0_threshold0 .. adc0_threshold4, adc1_threshold0 .. adc1_threshold4   decimal 0..1023
// Anything else (unknown key, bad value, missing "=", repeated key) fails the whole load.

#include <array>
#include <string>
#include <string_view>

namespace ostrel::sim {

inline constexpr int kEntryCount = 12;
inline constexpr int kKeyCount = 10;
inline constexpr int kAdcChannels = 2;
inline constexpr int kAdcThresholds = 5;
inline constexpr int kAdcMax = 1023;

struct TAdcChannel
{
  int Reading = 0x1FF;
  std::array<int, kAdcThresholds> Thresholds{100, 300, 500, 700, 900};

  bool operator==(const TAdcChannel&) const = default;
};

struct TPanelState
{
  std::array<std::string, kEntryCount> Phones{};  // entry N at index N - 1
  std::array<std::string, kEntryCount> Flags{"000", "000", "000", "000", "000", "000",
                                             "000", "000", "000", "000", "000", "000"};
  int EntryDelay = 0;  // 0..255
  int ExitDelay = 0;   // 0..255
  bool FastArming = false;
  bool WaitSend = false;
  // Keys as they travel on the wire (byte pairs in the panel's order), 16 hex digits each.
  std::array<std::string, kKeyCount> Keys{
      "0000000000000000", "0000000000000000", "0000000000000000", "0000000000000000",
      "0000000000000000", "0000000000000000", "0000000000000000", "0000000000000000",
      "0000000000000000", "0000000000000000"};
  int GsmModule = 0;  // 0 "Siemens 35", 1 "Siemens 45", 2 modem
  int Ring = 1;       // 1..6
  std::array<TAdcChannel, kAdcChannels> Adc{};

  // The six-character delays record as the panel reports it, e.g. "1E0A10".
  std::string DelaysRecord() const;
  // Parses a delays record (four hex digits, then "0"/"1" twice); false leaves the state as it was.
  bool SetDelaysRecord(std::string_view record);

  bool operator==(const TPanelState&) const = default;
};

// Value checks shared by the wire commands and the state file.
bool IsPrintableAscii(std::string_view text);
bool IsHexDigits(std::string_view text);
bool IsValidKey(std::string_view text);    // 16 hex digits
bool IsValidFlags(std::string_view text);  // three printable characters

// Writes the state atomically (temporary file, then rename). Never throws.
bool SavePanelState(const TPanelState& state, const std::string& path, std::string& error);
// Reads a state file into `state`; on failure `state` is untouched and `error` says why
// (with the line number). Never throws.
bool LoadPanelState(const std::string& path, TPanelState& state, std::string& error);

}  // namespace ostrel::sim
