// The settings of one panel as a plain value: every setting a settings file
// holds, plus what a read brings that is not a setting (the firmware version,
// the ADC channels' readings). Values are canonical: a key is exactly 16
// upper-case hexadecimal digits, a threshold an exact integer 0..1023, the
// ring an item index 0..5, the module one of three.
//
// A value holds some groups of settings (TGroups): a read of one page holds
// that page's group, a file without [ts1] and [ts2] holds no thresholds.
// Two values are equal when they hold the same groups with the same settings.
//
// A plain value; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>

enum class TGroup : uint8_t { Common = 1, Keys = 2, Gsm = 4, Adc = 8 };

class TGroups {
 public:
  constexpr TGroups() = default;
  constexpr TGroups(TGroup g) : bits_(static_cast<uint8_t>(g)) {}
  static constexpr TGroups None() { return {}; }
  // Everything that Read all and Write all carry: common settings, keys, GSM.
  static constexpr TGroups All() { return TGroups(TGroup::Common) | TGroup::Keys | TGroup::Gsm; }
  static constexpr TGroups AllWithAdc() { return All() | TGroup::Adc; }

  constexpr bool Has(TGroup g) const { return (bits_ & static_cast<uint8_t>(g)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TGroups operator|(TGroups o) const { return FromBits(bits_ | o.bits_); }
  constexpr TGroups operator&(TGroups o) const { return FromBits(bits_ & o.bits_); }
  constexpr TGroups Without(TGroups o) const { return FromBits(bits_ & ~o.bits_); }
  constexpr TGroups& operator|=(TGroups o) { bits_ |= o.bits_; return *this; }
  constexpr bool operator==(const TGroups&) const = default;
  constexpr uint8_t Bits() const { return bits_; }

 private:
  static constexpr TGroups FromBits(unsigned bits) {
    TGroups g;
    g.bits_ = static_cast<uint8_t>(bits);
    return g;
  }
  uint8_t bits_ = 0;
};

constexpr TGroups operator|(TGroup a, TGroup b) { return TGroups(a) | TGroups(b); }

struct TSettings {
  static constexpr int kEntries = 12;     // 1..4 the events, 5..12 the loop rows
  static constexpr int kFirstLoopEntry = 5;
  static constexpr int kLoops = 4;
  static constexpr int kKeys = 10;
  static constexpr int kChannels = 2;
  static constexpr int kThresholds = 5;
  static constexpr int kMaxThreshold = 1023;
  static constexpr int kPhoneLength = 20;
  static constexpr int kKeyLength = 16;
  static inline const std::string EmptyKey = std::string(16, '0');
  static inline const std::string BlankKey = std::string(16, 'F');

  // The other row of the loop that entry 5..12 belongs to (N and N + 4).
  static constexpr int OtherRow(int entry) {
    return entry < kFirstLoopEntry + kLoops ? entry + kLoops : entry - kLoops;
  }

  // Which groups this value holds.
  TGroups Groups;

  // Common settings; index entry - 1.
  std::array<std::string, kEntries> Phone{};
  std::array<bool, kEntries> React{};
  // The normal state of a loop row: entries 5..12 (1..4 stay false); rows N
  // and N + 4 are one loop, and at most one of them is its normal state.
  std::array<bool, kEntries> Norm{};
  std::array<bool, kLoops> Hours24{};  // index loop - 1
  int TimeOut = 0;                     // entry delay 0..255
  int TimeOut2 = 0;                    // exit delay 0..255
  bool FastGuard = false;
  bool WaitSend = false;

  // Keys: row N of the keys page is panel key N - 1; "0000000000000000" is an
  // empty slot (a key of all ones is held as one too).
  std::array<std::string, kKeys> Key = MakeEmptyKeys();

  // GSM: 0 "Siemens 35", 1 "Siemens 45", 2 the modem; the ring duration's
  // item index 0..5 (the panel's digit 1..6).
  int Module = 0;
  int Ring = 0;

  // ADC: channel 0 and 1, thresholds by thumb index 0..4.
  std::array<std::array<int, kThresholds>, kChannels> Threshold{};

  // Read but not settings: not compared, not stored.
  std::string Version;
  std::array<int, kChannels> Reading{-1, -1};  // -1: not read

  bool operator==(const TSettings& other) const;

  static std::array<std::string, kKeys> MakeEmptyKeys() {
    std::array<std::string, kKeys> keys;
    keys.fill(EmptyKey);
    return keys;
  }
};

// The group's settings of from copied into to, and to then holds the group.
void CopyGroup(TSettings& to, const TSettings& from, TGroup group);
void CopyGroups(TSettings& to, const TSettings& from, TGroups groups);
