#include "model/Fields.h"

#include <algorithm>

namespace {

std::string Numbered(const char* name, int n) { return name + std::to_string(n); }

const char* const kCommon = "TformCommon";
const char* const kKeys = "TformKeys";
const char* const kGsm = "TformGSM";
const char* const kAcp = "TformACP";

// The loop of a loop row 5..12.
int LoopOf(int entry) { return entry <= 8 ? entry - 4 : entry - 8; }

std::vector<TField> BuildFields() {
  std::vector<TField> f;
  for (int n = 1; n <= TSettings::kEntries; ++n)
    f.push_back({TGroup::Common, "Phones", Numbered("Phone", n), kCommon, Numbered("etPhone", n),
                 Numbered("Телефон ", n), TRule::Phone, n - 1});
  for (int n = 1; n <= TSettings::kEntries; ++n)
    f.push_back({TGroup::Common, "React", Numbered("React", n), kCommon, Numbered("cbReact", n),
                 Numbered("Реакция ", n), TRule::Flag, n - 1});
  for (int n = TSettings::kFirstLoopEntry; n <= TSettings::kEntries; ++n)
    f.push_back({TGroup::Common, "Norm", Numbered("Norm", n), kCommon, Numbered("rbNorm", n),
                 Numbered(n <= 8 ? "Замыкание, шлейф " : "Размыкание, шлейф ", LoopOf(n)), TRule::Flag, n - 1});
  for (int l = 1; l <= TSettings::kLoops; ++l)
    f.push_back({TGroup::Common, "24Hours", Numbered("24-", l), kCommon, Numbered("cb24", l),
                 Numbered("24 часа, шлейф ", l), TRule::Flag, l - 1});
  f.push_back({TGroup::Common, "Other", "FastGuard", kCommon, "cbFastGuard", "Быстрая постановка на охрану",
               TRule::Flag});
  f.push_back({TGroup::Common, "Other", "TimeOut", kCommon, "seTimeOut", "Задержка на вход", TRule::Delay});
  f.push_back({TGroup::Common, "Other", "WaitSend", kCommon, "cbWaitSend", "Ждать отправки сообщения",
               TRule::Flag});
  f.push_back({TGroup::Common, "Other", "TimeOut2", kCommon, "seTimeOut2", "Задержка на выход", TRule::Delay});
  for (int i = 0; i < TSettings::kKeys; ++i)
    f.push_back({TGroup::Keys, "Keys", Numbered("Key", i), kKeys, "TMLV", Numbered("Ключ ", i + 1), TRule::Key, i});
  for (int c = 0; c < TSettings::kChannels; ++c)
    for (int k = 0; k < TSettings::kThresholds; ++k)
      f.push_back({TGroup::Adc, c == 0 ? "ts1" : "ts2", Numbered("slider", k), kAcp, c == 0 ? "ts" : "ts2",
                   "Порог " + std::to_string(k + 1) + " канала " + std::to_string(c + 1), TRule::Threshold, k, c});
  const char* const modules[] = {"GSM модуль Siemens 35", "GSM модуль Siemens 45", "GSM модуль: модем"};
  for (int m = 0; m < 3; ++m)
    f.push_back({TGroup::Gsm, "GSM", Numbered("MODE", m + 1), kGsm, Numbered("rb", m + 1), modules[m],
                 TRule::ModuleFlag, m});
  f.push_back({TGroup::Gsm, "GSM", "RING", kGsm, "cbRing", "Длительность звонка", TRule::Ring});
  return f;
}

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return Fold(x) == Fold(y);
         });
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// An integer in 0..max written as plain decimal digits.
std::optional<int> InRange(std::string_view text, int max) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

const char* Bit(bool on) { return on ? "1" : "0"; }

}  // namespace

const std::vector<TField>& Fields() {
  static const std::vector<TField> fields = BuildFields();
  return fields;
}

const TField* FindField(std::string_view section, std::string_view key) {
  for (const TField& f : Fields())
    if (SameName(f.Section, section) && SameName(f.Key, key)) return &f;
  return nullptr;
}

bool IsPhoneText(std::string_view text) {
  return text.size() <= TSettings::kPhoneLength &&
         std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(c) || c == '+'; });
}

std::optional<std::string> CanonicalKey(std::string_view text) {
  if (text.empty() || text.size() > TSettings::kKeyLength || !std::all_of(text.begin(), text.end(), IsHexDigit))
    return std::nullopt;
  std::string key(TSettings::kKeyLength - text.size(), '0');
  for (const char c : text) key += (c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c;
  if (key == TSettings::BlankKey) key = TSettings::EmptyKey;
  return key;
}

bool Follows(TRule rule, std::string_view text) {
  switch (rule) {
    case TRule::Phone:
      return IsPhoneText(text);
    case TRule::Key:
      return CanonicalKey(text).has_value();
    case TRule::Flag:
    case TRule::ModuleFlag:
      return text == "0" || text == "1";
    case TRule::Delay:
      return InRange(text, 255).has_value();
    case TRule::Threshold:
      return InRange(text, TSettings::kMaxThreshold).has_value();
    case TRule::Ring:
      return InRange(text, 5).has_value();
  }
  return false;
}

std::string RuleText(TRule rule) {
  switch (rule) {
    case TRule::Phone:
      return "a phone number holds only digits and \"+\", at most 20 of them";
    case TRule::Flag:
    case TRule::ModuleFlag:
      return "a flag is 0 or 1";
    case TRule::Delay:
      return "a delay is an integer from 0 to 255";
    case TRule::Key:
      return "a key is 1 to 16 hexadecimal digits";
    case TRule::Threshold:
      return "a threshold is an integer from 0 to 1023";
    case TRule::Ring:
      return "the ring index is an integer from 0 to 5";
  }
  return {};
}

std::string FieldText(const TSettings& s, const TField& f) {
  switch (f.Rule) {
    case TRule::Phone:
      return s.Phone[f.Index];
    case TRule::Flag:
      if (f.Section == "React") return Bit(s.React[f.Index]);
      if (f.Section == "Norm") return Bit(s.Norm[f.Index]);
      if (f.Section == "24Hours") return Bit(s.Hours24[f.Index]);
      return Bit(f.Key == "FastGuard" ? s.FastGuard : s.WaitSend);
    case TRule::Delay:
      return std::to_string(f.Key == "TimeOut" ? s.TimeOut : s.TimeOut2);
    case TRule::Key:
      return s.Key[f.Index];
    case TRule::Threshold:
      return std::to_string(s.Threshold[f.Channel][f.Index]);
    case TRule::ModuleFlag:
      return Bit(s.Module == f.Index);
    case TRule::Ring:
      return std::to_string(s.Ring);
  }
  return {};
}

bool SetFieldText(TSettings& s, const TField& f, std::string_view text) {
  if (!Follows(f.Rule, text)) return false;
  const bool on = text == "1";
  switch (f.Rule) {
    case TRule::Phone:
      s.Phone[f.Index] = std::string(text);
      break;
    case TRule::Flag:
      if (f.Section == "React") s.React[f.Index] = on;
      else if (f.Section == "Norm") s.Norm[f.Index] = on;
      else if (f.Section == "24Hours") s.Hours24[f.Index] = on;
      else if (f.Key == "FastGuard") s.FastGuard = on;
      else s.WaitSend = on;
      break;
    case TRule::Delay:
      (f.Key == "TimeOut" ? s.TimeOut : s.TimeOut2) = *InRange(text, 255);
      break;
    case TRule::Key:
      s.Key[f.Index] = *CanonicalKey(text);
      break;
    case TRule::Threshold:
      s.Threshold[f.Channel][f.Index] = *InRange(text, TSettings::kMaxThreshold);
      break;
    case TRule::ModuleFlag:
      if (on) s.Module = f.Index;
      break;
    case TRule::Ring:
      s.Ring = *InRange(text, 5);
      break;
  }
  return true;
}

std::vector<TDifference> Differences(const TSettings& left, const TSettings& right) {
  std::vector<TDifference> differences;
  for (const TField& f : Fields()) {
    const bool l = left.Groups.Has(f.Group);
    const bool r = right.Groups.Has(f.Group);
    if (!l && !r) continue;
    std::string a = l ? FieldText(left, f) : std::string();
    std::string b = r ? FieldText(right, f) : std::string();
    if (a != b || l != r) differences.push_back({&f, std::move(a), std::move(b)});
  }
  return differences;
}

void Canonicalise(TSettings& s) {
  for (int upper = TSettings::kFirstLoopEntry; upper < TSettings::kFirstLoopEntry + TSettings::kLoops; ++upper) {
    bool& upperRow = s.Norm[upper - 1];
    if (upperRow && s.Norm[upper - 1 + TSettings::kLoops]) upperRow = false;
  }
}

std::vector<const TField*> BrokenFields(const TSettings& s) {
  std::vector<const TField*> broken;
  for (const TField& f : Fields()) {
    if (!s.Groups.Has(f.Group)) continue;
    bool good = Follows(f.Rule, FieldText(s, f));
    if (f.Section == "Norm") {
      good = good && !(s.Norm[f.Index] && s.Norm[TSettings::OtherRow(f.Index + 1) - 1]);
    } else if (f.Rule == TRule::ModuleFlag) {
      good = good && s.Module >= 0 && s.Module <= 2;
    }
    if (!good) broken.push_back(&f);
  }
  return broken;
}
