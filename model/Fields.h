// The one table of the settings' fields: for each setting its group, its
// section and key in a settings file, the page and control that show it, the
// name the window gives it, and its rule (the characters, length or range its
// value may have). The strict file check, the window's Load, the pages'
// validators, the device's judging of reply values and the comparison of two
// settings all go by this table.
//
// Values travel as text in their file form: a phone as typed, a flag "0" or
// "1", a number in decimal, a key as 16 upper-case hexadecimal digits.
//
// Pure functions and constant data; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/Settings.h"

enum class TRule {
  Phone,       // digits and "+", at most 20 (may be empty)
  Flag,        // "0" or "1"
  Delay,       // integer 0..255
  Key,         // 1 to 16 hexadecimal digits, either case
  Threshold,   // integer 0..1023
  ModuleFlag,  // "0" or "1"; exactly one of the three names the GSM module
  Ring         // integer 0..5, the item index of the ring list
};

struct TField {
  TGroup Group;
  std::string Section;  // in a settings file
  std::string Key;
  std::string Page;     // the page's class name
  std::string Control;  // the control's objectName on that page
  std::string Display;  // as the window names it
  TRule Rule;
  int Index = 0;        // entry - 1, loop - 1, key row - 1, module, thumb
  int Channel = 0;      // thresholds: channel 0 or 1
};

// Every field, in the order of a saved settings file.
const std::vector<TField>& Fields();
// The field of a file's section and key (ASCII letters in either case).
const TField* FindField(std::string_view section, std::string_view key);

// The value of a field in its file form.
std::string FieldText(const TSettings& settings, const TField& field);
// Sets a field from a text in its file form, canonicalised (a key padded with
// "0"s in front and in capitals); false, and nothing changed, when the text
// breaks the field's rule. A module flag "1" names its module; "0" names none.
bool SetFieldText(TSettings& settings, const TField& field, std::string_view text);

// Whether a text keeps a rule, and the rule in words.
bool Follows(TRule rule, std::string_view text);
std::string RuleText(TRule rule);

// A key of 1 to 16 hexadecimal digits, either case, as 16 capitals (all ones
// is the empty slot "0000000000000000"); nothing for any other text.
std::optional<std::string> CanonicalKey(std::string_view text);
// A phone as the panel holds it: digits and "+", at most 20.
bool IsPhoneText(std::string_view text);

// The canonical form of settings read from a panel, in place: a loop whose
// two rows both report the normal state keeps it on the lower row, as its
// radio buttons show it. The rest of a read is canonical by the model's
// nature: a loop has one 24-hour flag (either row's "1" sets it, both rows
// are written with it), the events keep only their reaction flag, a key is
// 16 capitals with all ones held as the empty slot.
void Canonicalise(TSettings& settings);

// The fields of the groups the settings hold whose values write's strict
// check refuses, in the order of the table: a value outside its rule, both
// rows of a loop as its normal state, a module that is none of the three.
// Everything a canonical read of a panel holds passes (thresholds in any
// order among them: the panel holds them so).
std::vector<const TField*> BrokenFields(const TSettings& settings);

// One field that two settings hold differently; a side that does not hold
// the field's group shows "".
struct TDifference {
  const TField* Field = nullptr;
  std::string Left;
  std::string Right;
  bool operator==(const TDifference&) const = default;
};
// In the order of the table, over the groups either side holds.
std::vector<TDifference> Differences(const TSettings& left, const TSettings& right);
