#include "persist/SettingsCodec.h"

#include <QFileInfo>
#include <QHash>
#include <QStringList>
#include <algorithm>

#include "persist/IniFile.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

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

QString Why(TRule rule, const QString& value) {
  for (const QChar c : value) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7F)
      return Shown(value) + " holds a control character; " + Q(RuleText(rule));
    if (c.unicode() > 0x7E) return Shown(value) + " holds a non-ASCII character; " + Q(RuleText(rule));
  }
  return Shown(value) + ": " + Q(RuleText(rule));
}

bool Sent(const TField& f, TGroups sent) { return sent.Has(f.Group); }

// The check of one file: the problems found, in file order.
class TCheck {
 public:
  TCheck(const TIniFile& ini, TGroups sent) : ini_(ini) {
    CheckValues(sent);
    CheckGroups();
  }

  bool Rejected(const QString& section, const QString& key) const {
    return std::any_of(problems_.begin(), problems_.end(), [&](const TSettingsProblem& p) {
      return SameIniName(p.Section, section) && SameIniName(p.Key, key);
    });
  }
  std::vector<TSettingsProblem> Problems() const { return problems_; }

  // The key is given as "1" and that value is taken.
  bool IsOne(const QString& section, const QString& key) const {
    return !Rejected(section, key) && ini_.ValueExists(section, key) && ini_.ReadString(section, key, {}) == u"1";
  }

 private:
  void Reject(const QString& section, const QString& key, int line, const QString& text) {
    if (Rejected(section, key)) return;
    std::vector<int> lines;
    for (const TIniFile::TKeyLine& k : ini_.KeyLines())
      if (SameIniName(k.Section, section) && SameIniName(k.Key, key)) lines.push_back(k.Line);
    problems_.push_back(
        {section, key, QStringLiteral("[%1] %2, line %3: ").arg(section, key).arg(line) + text, std::move(lines)});
  }

  int LineOf(const QString& section, const QString& key) const {
    for (const TIniFile::TKeyLine& k : ini_.KeyLines())
      if (SameIniName(k.Section, section) && SameIniName(k.Key, key)) return k.Line;
    return 0;
  }

  void CheckValues(TGroups sent) {
    // Names folded to one case: the reader matches them without regard to it.
    QHash<QString, int> firstLine;
    const std::vector<TIniFile::TKeyLine> lines = ini_.KeyLines();
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
      const TField* field = FindField(k.Section.toStdString(), k.Key.toStdString());
      if (!field || (field->Group == TGroup::Adc && !Sent(*field, sent))) continue;
      // Only ASCII can keep a rule; anything else is named as such.
      const bool ascii = std::all_of(k.Value.begin(), k.Value.end(), [](QChar c) { return c.unicode() < 0x80; });
      if (ascii && Follows(field->Rule, k.Value.toStdString())) continue;
      Reject(k.Section, k.Key, k.Line, Why(field->Rule, k.Value));
    }
  }

  void CheckGroups() {
    // Only values that passed their own rule are compared.
    for (int upper = 5; upper <= 8; ++upper) {
      const QString a = QStringLiteral("Norm%1").arg(upper);
      const QString b = QStringLiteral("Norm%1").arg(upper + 4);
      if (!IsOne("Norm", a) || !IsOne("Norm", b)) continue;
      const QString text = QStringLiteral("%1 and %2 are both 1; a loop has one normal state").arg(a, b);
      Reject("Norm", a, LineOf("Norm", a), text);
      Reject("Norm", b, LineOf("Norm", b), text);
    }
    // A later "1" would silently win over an earlier one, and none names no module.
    QStringList modes;
    int ones = 0;
    for (int m = 1; m <= 3; ++m) {
      const QString key = QStringLiteral("MODE%1").arg(m);
      if (Rejected("GSM", key) || !ini_.ValueExists("GSM", key)) continue;
      modes << key;
      if (IsOne("GSM", key)) ++ones;
    }
    if (ones == 1 || (ones == 0 && modes.size() < 3)) return;
    const QString text = QStringLiteral("exactly one of MODE1, MODE2, MODE3 must be 1 to name the GSM module");
    for (const QString& key : modes) Reject("GSM", key, LineOf("GSM", key), text);
  }

  const TIniFile& ini_;
  std::vector<TSettingsProblem> problems_;
};

// A loop's normal state is held by its two rows' keys, the GSM module by the
// three MODE keys: a "1" taken for one of them says the key f is "0".
bool GivenByPartner(const TCheck& check, const TField& f) {
  if (f.Section == "Norm") {
    return check.IsOne("Norm", QStringLiteral("Norm%1").arg(TSettings::OtherRow(f.Index + 1)));
  }
  if (f.Rule == TRule::ModuleFlag) {
    for (int m = 1; m <= 3; ++m)
      if (check.IsOne("GSM", QStringLiteral("MODE%1").arg(m))) return true;
  }
  return false;
}

// The groups whose sections the text holds.
TGroups GroupsIn(const TIniFile& ini) {
  TGroups present;
  for (const TField& f : Fields())
    if (ini.SectionExists(Q(f.Section))) present |= f.Group;
  return present;
}

}  // namespace

TDecodedSettings DecodeSettings(const TIniFile& ini, const TSettings& base, TGroups sent, TAbsentKeys absent) {
  TDecodedSettings d;
  d.Settings = base;
  d.Header.Port = ini.ReadString("Connect", "ComPort", QString());
  d.Header.Log = ini.ReadBool("Debug", "Log", false);
  for (const TField& f : Fields()) {
    const QString section = Q(f.Section);
    const QString key = Q(f.Key);
    if (ini.SectionExists(section)) d.HasSettings = true;
    if (ini.ValueExists(section, key)) d.HasValues = true;
    if (!d.Missing && Sent(f, sent) && !ini.ValueExists(section, key))
      d.Missing = QStringLiteral("[%1] %2").arg(section, key);
  }
  const TCheck check(ini, sent);
  d.Problems = check.Problems();

  // The thresholds are taken only from a file that has them.
  TGroups taken = sent.Without(TGroup::Adc);
  if (sent.Has(TGroup::Adc) && (ini.SectionExists("ts1") || ini.SectionExists("ts2"))) taken |= TGroup::Adc;
  const TSettings defaults;
  for (const TField& f : Fields()) {
    if (!taken.Has(f.Group)) continue;
    const QString section = Q(f.Section);
    const QString key = Q(f.Key);
    if (check.Rejected(section, key)) {
      // The other row's "1" still says this row is not the normal state.
      if (f.Section == "Norm" && GivenByPartner(check, f)) SetFieldText(d.Settings, f, "0");
      continue;
    }
    if (ini.ValueExists(section, key)) {
      SetFieldText(d.Settings, f, ini.ReadString(section, key, QString()).toStdString());
    } else if (GivenByPartner(check, f)) {
      // The other row of the loop is its normal state; the module is named.
      SetFieldText(d.Settings, f, "0");
    } else {
      d.Absent.push_back(&f);
      // A missing key gives its default; the GSM page keeps its state.
      if (absent == TAbsentKeys::Defaults && f.Group != TGroup::Gsm) SetFieldText(d.Settings, f, FieldText(defaults, f));
    }
  }
  d.Settings.Groups = base.Groups | taken;
  return d;
}

void EncodeSettings(const TSettings& settings, const TFileHeader& header, TIniFile& ini) {
  ini.WriteString("Connect", "ComPort", header.Port);
  ini.WriteBool("Debug", "Log", header.Log);
  for (const TField& f : Fields())
    if (settings.Groups.Has(f.Group)) ini.WriteString(Q(f.Section), Q(f.Key), Q(FieldText(settings, f)));
}

std::optional<QString> ReadSettingsForWrite(const QString& fileName, TGroups groups, TSettings* settings) {
  const QString prefix = fileName + QStringLiteral(": ");
  TIniFile ini(fileName);
  if (!ini.Load())
    return prefix + QStringLiteral("cannot read the settings file (it must be a readable regular file of at most 1 MiB)");
  if (!QFileInfo(fileName).isFile()) return prefix + QStringLiteral("no such settings file");
  TSettings none;
  none.Groups = TGroups::None();
  const TDecodedSettings d = DecodeSettings(ini, none, groups);
  if (!d.HasSettings)
    return prefix + QStringLiteral("none of the settings sections (Phones, React, Norm, 24Hours, Other, Keys, "
                                   "ts1, ts2, GSM); nothing to write");
  if (!d.Problems.empty()) return prefix + d.Problems.front().Text;
  if (d.Missing) return prefix + *d.Missing + QStringLiteral(": missing; a write sends every setting");
  if (settings) *settings = d.Settings;
  return std::nullopt;
}

bool LoadSettingsFile(const QString& fileName, const TSettings& base, TDecodedSettings* decoded, QString* error,
                      TAbsentKeys absent) {
  const bool keep = absent == TAbsentKeys::Kept;
  QByteArray data;
  const TFileRead read = ReadSmallFile(fileName, TIniFile::kMaxFileSize, &data);
  TIniFile ini(fileName);
  ini.LoadText(data);
  // A missing file loads every default at start; the user's Load refuses it.
  TDecodedSettings d;
  if (read != TFileRead::Refused) d = DecodeSettings(ini, base, TGroups::AllWithAdc(), absent);
  d.Read = read;
  QString failure;
  if (read == TFileRead::Refused)
    failure = QStringLiteral("Unable to read ") + fileName;
  else if (keep && read == TFileRead::Missing)
    failure = fileName + QStringLiteral(": no such file; nothing was loaded");
  else if (keep && !d.HasValues)
    failure = fileName + QStringLiteral(": none of the settings; nothing was loaded");
  else if (read == TFileRead::Ok && !d.HasSettings)
    failure = fileName + QStringLiteral(": none of the settings sections; nothing was loaded");
  if (!failure.isEmpty()) {
    if (error) *error = failure;
    d.Taken = false;
    d.Settings = base;
    *decoded = std::move(d);
    return false;
  }
  d.Taken = true;
  QStringList said;
  if (!d.Problems.empty()) {
    QStringList skipped;
    for (const TSettingsProblem& p : d.Problems) skipped << p.Text;
    said << fileName + QStringLiteral(": these values were not loaded:\n") + skipped.join(u'\n');
  }
  if (keep && !d.Absent.empty()) {
    QStringList lacked;
    for (const TField* f : d.Absent) lacked << FieldName(*f);
    said << fileName + QStringLiteral(": these settings are not in the file and were kept: ") + lacked.join(", ");
  }
  if (!said.isEmpty() && error) *error = said.join(u'\n');
  *decoded = std::move(d);
  return said.isEmpty();
}

TDecodedSettings LoadSettingsText(const QByteArray& text, const TSettings& base) {
  TIniFile ini{QString()};
  if (text.size() <= TIniFile::kMaxFileSize) ini.LoadText(text);
  TDecodedSettings d = DecodeSettings(ini, base, GroupsIn(ini), TAbsentKeys::Kept);
  d.Taken = d.HasValues;
  if (!d.Taken) d.Settings = base;
  return d;
}

bool SaveSettingsFile(const QString& fileName, const TSettings& settings, const TFileHeader& header, bool fresh,
                      QString* error) {
  TIniFile ini(fileName);
  // An unreadable file is not replaced: Save reports it below.
  if (fresh ? ini.LoadEmpty() : ini.Load()) EncodeSettings(settings, header, ini);
  return ini.Save(error);
}

QString FieldName(const TField& field) { return QStringLiteral("[%1] %2").arg(Q(field.Section), Q(field.Key)); }

QString DifferenceLine(const TDifference& d, const QString& leftName, const QString& rightName) {
  return QStringLiteral("%1: %2 '%3' %4 '%5'").arg(FieldName(*d.Field), leftName, Q(d.Left), rightName, Q(d.Right));
}
