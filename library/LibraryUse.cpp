#include "library/LibraryUse.h"

#include <pwd.h>
#include <unistd.h>

#include "model/Fields.h"
#include "persist/IniFile.h"
#include "persist/ProgramDir.h"
#include "persist/SettingsCodec.h"

std::optional<TLibraryPlace> FindLibraryPlace(const QString& option, QString* why) {
  QString text = option;
  if (text.isEmpty()) text = qEnvironmentVariable("OSTREL_LIBRARY");
  if (text.isEmpty()) {
    TIniFile ini(ProgramDir() + QStringLiteral("current.ini"));
    if (ini.Load()) text = ini.ReadString(QStringLiteral("Library"), QStringLiteral("Url"), QString()).trimmed();
  }
  if (text.isEmpty()) {
    MakePrivateDir(DataDir());
    text = DataDir() + QStringLiteral("library.sqlite");
  }
  return ParseLibraryPlace(text, why);
}

QString LibrarySpoolDir() { return UserDataDir() + QStringLiteral("library-spool"); }

TRecordSpool LibrarySpool() {
  QString why;
  const auto legacy = ParseLibraryPlace(UserDataDir() + QStringLiteral("library.sqlite"), &why);
  return TRecordSpool(LibrarySpoolDir(), legacy ? legacy->Identity() : QString());
}

QString SystemUser() {
  if (const passwd* pw = getpwuid(geteuid())) return QString::fromLocal8Bit(pw->pw_name);
  return qEnvironmentVariable("USER");
}

namespace {

// Reads recorded before reads were canonical may hold both rows of a loop as
// its normal state: the lower row holds it, as in every read since.
bool CanonicalRecord(TIniFile& ini) {
  bool changed = false;
  for (int upper = TSettings::kFirstLoopEntry; upper < TSettings::kFirstLoopEntry + TSettings::kLoops; ++upper) {
    const QString upperKey = QStringLiteral("Norm%1").arg(upper);
    const QString lowerKey = QStringLiteral("Norm%1").arg(upper + TSettings::kLoops);
    if (ini.ReadString(QStringLiteral("Norm"), upperKey, {}) == u"1" &&
        ini.ReadString(QStringLiteral("Norm"), lowerKey, {}) == u"1") {
      ini.WriteString(QStringLiteral("Norm"), upperKey, QStringLiteral("0"));
      changed = true;
    }
  }
  return changed;
}

}  // namespace

QByteArray RecordSettingsText(const TSettings& settings, const QString& port) {
  TIniFile ini{QString()};
  ini.LoadText(QByteArray());
  EncodeSettings(settings, {port, false}, ini);
  return ini.Text();
}

TSettings RecordSettings(const QByteArray& text) {
  TSettings none;
  none.Groups = TGroups::None();
  // No record of ours comes near a settings file's size limit.
  if (text.size() > TIniFile::kMaxFileSize) return none;
  TIniFile ini{QString()};
  ini.LoadText(text);
  // A record of one page's read holds that page's group only.
  TGroups present;
  for (const TField& f : Fields())
    if (ini.SectionExists(QString::fromStdString(f.Section))) present |= f.Group;
  CanonicalRecord(ini);
  TDecodedSettings decoded = DecodeSettings(ini, none, present);
  decoded.Settings.Groups = present;
  return decoded.Settings;
}

QByteArray CanonicalRecordText(const QByteArray& text) {
  if (text.size() > TIniFile::kMaxFileSize) return text;
  TIniFile ini{QString()};
  ini.LoadText(text);
  return CanonicalRecord(ini) ? ini.Text() : text;
}

TRecordOutcome RecordOutcomeOf(TOutcome outcome) {
  switch (outcome) {
    case TOutcome::Success:
      return TRecordOutcome::Success;
    case TOutcome::FailedRequest:
      return TRecordOutcome::FailedRequest;
    case TOutcome::Refused:
      return TRecordOutcome::Refused;
    case TOutcome::LinkLost:
      return TRecordOutcome::LinkLost;
    case TOutcome::Interrupted:
      return TRecordOutcome::Interrupted;
  }
  return TRecordOutcome::Unknown;
}
