#include "persist/SettingsCheck.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <algorithm>

#include "persist/IniFile.h"

namespace {

enum class TKind { Phone, Flag, Delay, Key, Threshold, Ring };

struct TRule {
  QString Section;
  QString Key;
  TKind Kind;
};

constexpr int kPhoneLength = 20;
constexpr int kKeyLength = 16;

QString Numbered(const char* name, int n) { return QLatin1String(name) + QString::number(n); }

// In the order a write sends them, which is also the order of a saved file.
std::vector<TRule> BuildRules() {
  std::vector<TRule> rules;
  for (int n = 1; n <= 12; ++n) rules.push_back({"Phones", Numbered("Phone", n), TKind::Phone});
  for (int n = 1; n <= 12; ++n) rules.push_back({"React", Numbered("React", n), TKind::Flag});
  for (int n = 5; n <= 12; ++n) rules.push_back({"Norm", Numbered("Norm", n), TKind::Flag});
  for (int n = 1; n <= 4; ++n) rules.push_back({"24Hours", Numbered("24-", n), TKind::Flag});
  rules.push_back({"Other", "FastGuard", TKind::Flag});
  rules.push_back({"Other", "TimeOut", TKind::Delay});
  rules.push_back({"Other", "WaitSend", TKind::Flag});
  rules.push_back({"Other", "TimeOut2", TKind::Delay});
  for (int i = 0; i < 10; ++i) rules.push_back({"Keys", Numbered("Key", i), TKind::Key});
  for (const char* slider : {"ts1", "ts2"})
    for (int k = 0; k < 5; ++k) rules.push_back({slider, Numbered("slider", k), TKind::Threshold});
  for (int m = 1; m <= 3; ++m) rules.push_back({"GSM", Numbered("MODE", m), TKind::Flag});
  rules.push_back({"GSM", "RING", TKind::Ring});
  return rules;
}

const std::vector<TRule>& Rules() {
  static const std::vector<TRule> rules = BuildRules();
  return rules;
}

bool IsThreshold(const TRule& rule) { return rule.Kind == TKind::Threshold; }

const TRule* FindRule(const QString& section, const QString& key) {
  for (const TRule& rule : Rules())
    if (SameIniName(rule.Section, section) && SameIniName(rule.Key, key)) return &rule;
  return nullptr;
}

QString RuleText(TKind kind) {
  switch (kind) {
    case TKind::Phone:
      return QStringLiteral("a phone number holds only digits and \"+\", at most 20 of them");
    case TKind::Flag:
      return QStringLiteral("a flag is 0 or 1");
    case TKind::Delay:
      return QStringLiteral("a delay is an integer from 0 to 255");
    case TKind::Key:
      return QStringLiteral("a key is 1 to 16 hexadecimal digits");
    case TKind::Threshold:
      return QStringLiteral("a threshold is an integer from 0 to 1023");
    case TKind::Ring:
      return QStringLiteral("the ring index is an integer from 0 to 5");
  }
  return QString();
}

bool IsDigit(QChar c) { return c >= u'0' && c <= u'9'; }

bool IsHexDigit(QChar c) { return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

// An integer in 0..max written as plain decimal digits.
bool InRange(const QString& value, int max) {
  if (value.isEmpty() || value.size() > 9) return false;
  for (const QChar c : value)
    if (!IsDigit(c)) return false;
  return value.toInt() <= max;
}

bool Follows(TKind kind, const QString& value) {
  switch (kind) {
    case TKind::Phone:
      return value.size() <= kPhoneLength &&
             std::all_of(value.begin(), value.end(), [](QChar c) { return IsDigit(c) || c == u'+'; });
    case TKind::Key:
      return !value.isEmpty() && value.size() <= kKeyLength && std::all_of(value.begin(), value.end(), IsHexDigit);
    case TKind::Flag:
      return value == u"0" || value == u"1";
    case TKind::Delay:
      return InRange(value, 255);
    case TKind::Threshold:
      return InRange(value, 1023);
    case TKind::Ring:
      return InRange(value, 5);
  }
  return false;
}

// The value as a line of text can show it: control characters escaped, long
// values cut.
QString Shown(const QString& value) {
  constexpr int kShown = 40;
  QString text;
  for (qsizetype i = 0; i < value.size() && i < kShown; ++i) {
    const char16_t c = value[i].unicode();
    if (c == u'\r') text += QStringLiteral("\\r");
    else if (c == u'\n') text += QStringLiteral("\\n");
    else if (c == u'\t') text += QStringLiteral("\\t");
    else if (c < 0x20 || c == 0x7F) text += QStringLiteral("\\x%1").arg(unsigned(c), 2, 16, QLatin1Char('0'));
    else text += value[i];
  }
  if (value.size() > kShown) text += QStringLiteral("... (%1 characters)").arg(value.size());
  return u'"' + text + u'"';
}

QString Why(TKind kind, const QString& value) {
  for (const QChar c : value) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) return Shown(value) + " holds a control character; " + RuleText(kind);
    if (c.unicode() > 0x7E) return Shown(value) + " holds a non-ASCII character; " + RuleText(kind);
  }
  return Shown(value) + ": " + RuleText(kind);
}

QString Where(const QString& section, const QString& key, int line) {
  return QStringLiteral("[%1] %2, line %3: ").arg(section, key).arg(line);
}

int LineOf(const TIniFile& ini, const QString& section, const QString& key) {
  for (const TIniFile::TKeyLine& k : ini.KeyLines())
    if (SameIniName(k.Section, section) && SameIniName(k.Key, key)) return k.Line;
  return 0;
}

}  // namespace

TSettingsCheck::TSettingsCheck(const TIniFile& ini, bool adc, bool forWrite) {
  for (const TRule& rule : Rules()) {
    if (ini.SectionExists(rule.Section)) hasSettings_ = true;
    if (!missing_ && (adc || !IsThreshold(rule)) && !ini.ValueExists(rule.Section, rule.Key))
      missing_ = QStringLiteral("[%1] %2").arg(rule.Section, rule.Key);
  }
  CheckValues(ini, adc);
  CheckGroups(ini);
  if (adc && forWrite) CheckThresholdOrder(ini);
}

void TSettingsCheck::Reject(const QString& section, const QString& key, int line, const QString& text) {
  if (Rejected(section, key)) return;
  problems_.push_back({section, key, Where(section, key, line) + text});
}

bool TSettingsCheck::Rejected(const QString& section, const QString& key) const {
  return std::any_of(problems_.begin(), problems_.end(), [&](const TProblem& p) {
    return SameIniName(p.Section, section) && SameIniName(p.Key, key);
  });
}

void TSettingsCheck::CheckValues(const TIniFile& ini, bool adc) {
  // Names folded to one case: the reader matches them without regard to it.
  QHash<QString, int> firstLine;
  const std::vector<TIniFile::TKeyLine> lines = ini.KeyLines();
  for (const TIniFile::TKeyLine& k : lines) {
    const QString name = k.Section.toLower() + u'\n' + k.Key.toLower();
    if (const auto seen = firstLine.constFind(name); seen != firstLine.constEnd()) {
      Reject(k.Section, k.Key, k.Line,
             QStringLiteral("given twice, at lines %1 and %2; only one value can be meant").arg(*seen).arg(k.Line));
      continue;
    }
    firstLine.insert(name, k.Line);
  }
  for (const TIniFile::TKeyLine& k : lines) {
    const TRule* rule = FindRule(k.Section, k.Key);
    if (!rule || (!adc && IsThreshold(*rule)) || Follows(rule->Kind, k.Value)) continue;
    Reject(k.Section, k.Key, k.Line, Why(rule->Kind, k.Value));
  }
}

void TSettingsCheck::CheckGroups(const TIniFile& ini) {
  // Only values that passed their own rule are compared.
  const auto one = [&](const QString& section, const QString& key) {
    return !Rejected(section, key) && ini.ValueExists(section, key) && ini.ReadString(section, key, {}) == u"1";
  };
  for (int upper = 5; upper <= 8; ++upper) {
    const QString a = Numbered("Norm", upper);
    const QString b = Numbered("Norm", upper + 4);
    if (!one("Norm", a) || !one("Norm", b)) continue;
    const QString text = QStringLiteral("%1 and %2 are both 1; a loop has one normal state").arg(a, b);
    Reject("Norm", a, LineOf(ini, "Norm", a), text);
    Reject("Norm", b, LineOf(ini, "Norm", b), text);
  }

  // A later "1" would silently win over an earlier one, and none names no module.
  QStringList modes;
  int ones = 0;
  for (int m = 1; m <= 3; ++m) {
    const QString key = Numbered("MODE", m);
    if (Rejected("GSM", key) || !ini.ValueExists("GSM", key)) continue;
    modes << key;
    if (one("GSM", key)) ++ones;
  }
  if (ones == 1 || (ones == 0 && modes.size() < 3)) return;
  const QString text = QStringLiteral("exactly one of MODE1, MODE2, MODE3 must be 1 to name the GSM module");
  for (const QString& key : modes) Reject("GSM", key, LineOf(ini, "GSM", key), text);
}

void TSettingsCheck::CheckThresholdOrder(const TIniFile& ini) {
  for (const char* channel : {"ts1", "ts2"}) {
    int previous = -1;
    bool rising = true;
    for (int k = 0; k < 5; ++k) {
      const QString key = Numbered("slider", k);
      if (Rejected(channel, key) || !ini.ValueExists(channel, key)) return;
      const int value = ini.ReadInteger(channel, key, 0);
      rising = rising && value > previous;
      previous = value;
    }
    if (rising) continue;
    const QString text = QStringLiteral("the thresholds of a channel must rise from slider0 to slider4");
    for (int k = 0; k < 5; ++k) Reject(channel, Numbered("slider", k), LineOf(ini, channel, Numbered("slider", k)), text);
  }
}

std::optional<QString> CheckSettingsForWrite(const QString& fileName, bool adc) {
  const QString prefix = fileName + QStringLiteral(": ");
  TIniFile ini(fileName);
  if (!ini.Load())
    return prefix + QStringLiteral("cannot read the settings file (it must be a readable regular file of at most 1 MiB)");
  if (!QFileInfo(fileName).isFile()) return prefix + QStringLiteral("no such settings file");
  const TSettingsCheck check(ini, adc, true);
  if (!check.HasSettings())
    return prefix + QStringLiteral("none of the settings sections (Phones, React, Norm, 24Hours, Other, Keys, "
                                   "ts1, ts2, GSM); nothing to write");
  if (!check.Problems().empty()) return prefix + check.Problems().front().Text;
  if (const auto missing = check.FirstMissing())
    return prefix + *missing + QStringLiteral(": missing; a write sends every setting");
  return std::nullopt;
}
