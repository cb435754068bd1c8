#include "persist/Snapshot.h"

#include <QFileInfo>
#include <QHash>

#include "persist/IniFile.h"

namespace {

enum class TForm { Text, Integer, Boolean, Key };

struct TKeyRange {
  const char* section;
  const char* prefix;  // the key, or its name before the number
  int first;           // the first number; -1 for a key without a number
  int last;
  TForm form;
  int def;             // default of an integer or Boolean key
};

// The settings file's sections of the pages, in its order.
constexpr TKeyRange kPageKeys[] = {
    {"Phones", "Phone", 1, 12, TForm::Text, 0},
    {"React", "React", 1, 12, TForm::Boolean, 0},
    {"Norm", "Norm", 5, 12, TForm::Boolean, 0},
    {"24Hours", "24-", 1, 4, TForm::Boolean, 0},
    {"Other", "FastGuard", -1, -1, TForm::Boolean, 0},
    {"Other", "TimeOut", -1, -1, TForm::Integer, 0},
    {"Other", "WaitSend", -1, -1, TForm::Boolean, 0},
    {"Other", "TimeOut2", -1, -1, TForm::Integer, 0},
    {"Keys", "Key", 0, 9, TForm::Key, 0},
    {"ts1", "slider", 0, 4, TForm::Integer, 0},
    {"ts2", "slider", 0, 4, TForm::Integer, 0},
    {"GSM", "MODE", 1, 3, TForm::Boolean, 0},
    {"GSM", "RING", -1, -1, TForm::Integer, -1},
};

const QString kEmptyKey = QStringLiteral("0000000000000000");
const QString kBlankKey = QStringLiteral("FFFFFFFFFFFFFFFF");

bool IsAdcSection(const char* section) { return qstrcmp(section, "ts1") == 0 || qstrcmp(section, "ts2") == 0; }

QString ReadValue(const TIniFile& ini, const QString& section, const QString& key, const TKeyRange& range) {
  switch (range.form) {
    case TForm::Text:
      return ini.ReadString(section, key, QString());
    case TForm::Integer:
      return QString::number(ini.ReadInteger(section, key, range.def));
    case TForm::Boolean:
      return ini.ReadBool(section, key, range.def != 0) ? QStringLiteral("1") : QStringLiteral("0");
    case TForm::Key: {
      const QString text = ini.ReadString(section, key, kEmptyKey);
      return text == kBlankKey ? kEmptyKey : text;
    }
  }
  return QString();
}

QString Key(const QString& section, const QString& key) { return section.toLower() + '\n' + key.toLower(); }

}  // namespace

TSnapshot TSnapshot::FromIni(const TIniFile& ini, bool adc) {
  TSnapshot snapshot;
  for (const TKeyRange& range : kPageKeys) {
    if (!adc && IsAdcSection(range.section)) continue;
    const QString section = QLatin1String(range.section);
    for (int n = range.first; n <= range.last; ++n) {
      const QString key = range.first < 0 ? QLatin1String(range.prefix) : range.prefix + QString::number(n);
      snapshot.settings_.append({section, key, ReadValue(ini, section, key, range)});
    }
  }
  return snapshot;
}

bool TSnapshot::FromFile(const QString& fileName, bool adc, TSnapshot* snapshot, QString* error) {
  TIniFile ini(fileName);
  if (!ini.Load()) {
    if (error) *error = QStringLiteral("Unable to read ") + fileName;
    return false;
  }
  *snapshot = FromIni(ini, adc);
  return true;
}

QString TSnapshot::Value(const QString& section, const QString& key) const {
  for (const TSetting& s : settings_)
    if (s.Section.compare(section, Qt::CaseInsensitive) == 0 && s.Key.compare(key, Qt::CaseInsensitive) == 0)
      return s.Value;
  return QString();
}

QList<TSettingDifference> TSnapshot::Differences(const TSnapshot& other) const {
  QHash<QString, QString> right;
  for (const TSetting& s : other.settings_) right.insert(Key(s.Section, s.Key), s.Value);
  QList<TSettingDifference> differences;
  for (const TSetting& s : settings_) {
    const QString value = right.take(Key(s.Section, s.Key));
    if (value != s.Value) differences.append({s.Section, s.Key, s.Value, value});
  }
  // What only the other side holds, in its order.
  for (const TSetting& s : other.settings_)
    if (right.contains(Key(s.Section, s.Key))) differences.append({s.Section, s.Key, QString(), s.Value});
  return differences;
}

QString DifferenceLine(const TSettingDifference& d, const QString& leftName, const QString& rightName) {
  return QStringLiteral("[%1] %2: %3 '%4' %5 '%6'").arg(d.Section, d.Key, leftName, d.Left, rightName, d.Right);
}
