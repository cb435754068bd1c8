// A snapshot of the settings that the pages hold: every section and key that
// a settings file writes for the pages (not "Connect" nor "Debug"), with the
// value as the settings file writes it: texts unchanged, Booleans "1"/"0",
// integers in decimal, a key "FFFFFFFFFFFFFFFF" as "0000000000000000".
// Snapshots from a settings file, from the pages (TSettingsFile::Snapshot)
// and from a panel read into pages compare equal when the settings agree.
//
// The ADC thresholds ("ts1", "ts2") take part only when asked for: Read all
// and Write all leave them alone.
//
// A plain value; any thread.
#pragma once

#include <QList>
#include <QString>

class TIniFile;

// One setting that two snapshots hold differently.
struct TSettingDifference {
  QString Section;
  QString Key;
  QString Left;
  QString Right;

  bool operator==(const TSettingDifference&) const = default;
};

class TSnapshot {
 public:
  struct TSetting {
    QString Section;
    QString Key;
    QString Value;

    bool operator==(const TSetting&) const = default;
  };

  TSnapshot() = default;

  // The values of an INI file in memory; a missing key or a value that is not
  // of its form gives the default that loading the pages would give.
  static TSnapshot FromIni(const TIniFile& ini, bool adc);
  // The same from a settings file on disk. A file that exists but cannot be
  // read gives false and *error says why.
  static bool FromFile(const QString& fileName, bool adc, TSnapshot* snapshot, QString* error = nullptr);

  // Every setting, in the order of the settings file's sections.
  const QList<TSetting>& Settings() const { return settings_; }
  // The value of a setting; a null string when the snapshot has none.
  QString Value(const QString& section, const QString& key) const;

  bool operator==(const TSnapshot& other) const { return settings_ == other.settings_; }
  // The settings whose values differ, this snapshot's value on the left, in
  // this snapshot's order; a setting only one side holds shows an empty text
  // on the other side.
  QList<TSettingDifference> Differences(const TSnapshot& other) const;

 private:
  QList<TSetting> settings_;
};

// "[Phones] Phone3: panel '+79161234567' file '+79031234567'", with the two
// sides named by leftName and rightName.
QString DifferenceLine(const TSettingDifference& d, const QString& leftName, const QString& rightName);
