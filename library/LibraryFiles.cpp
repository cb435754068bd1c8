#include "library/LibraryFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QSysInfo>
#include <limits>

#include "library/LibraryUse.h"
#include "persist/IniFile.h"
#include "persist/SettingsCodec.h"

namespace {

const QString kSite = QStringLiteral("Site");
// A file name holds at most 255 bytes; a file is written under its name
// and ".XXXXXX" first (QSaveFile), then renamed.
constexpr int kMostFileNameBytes = 255 - 7;
const QString kExtension = QStringLiteral(".ini");

QString Sanitized(const QString& name) {
  QString file;
  for (const QChar c : name) {
    const bool refused = c.category() == QChar::Other_Control || QStringView(u"/\\:*?\"<>|").contains(c);
    file += refused ? QChar(u'_') : c;
  }
  if (file.startsWith(u'.')) file.prepend(u'_');
  return file;
}

// The longest start of text that takes at most bytes of UTF-8, whole
// characters only.
QString Cut(const QString& text, qsizetype bytes) {
  qsizetype used = 0, end = 0;
  while (end < text.size()) {
    const bool pair = text[end].isHighSurrogate() && end + 1 < text.size() && text[end + 1].isLowSurrogate();
    const qsizetype length = pair ? 2 : 1;
    const qsizetype size = text.mid(end, length).toUtf8().size();
    if (used + size > bytes) break;
    used += size;
    end += length;
  }
  return text.left(end);
}

QString FileName(const QString& base, int copy) {
  const QString suffix = copy > 1 ? QStringLiteral(" (%1)").arg(copy) : QString();
  return Cut(base, kMostFileNameBytes - (suffix + kExtension).toUtf8().size()) + suffix + kExtension;
}

// A field as a value of one line, and back.
QString Escaped(const QString& text) {
  QString escaped = text;
  return escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'\r', QStringLiteral("\\r")).replace(u'\n', QStringLiteral("\\n"));
}

QString Unescaped(const QString& text) {
  QString plain;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] != u'\\' || i + 1 == text.size()) {
      plain += text[i];
      continue;
    }
    const QChar next = text[++i];
    if (next == u'n') plain += u'\n';
    else if (next == u'r') plain += u'\r';
    else if (next == u'\\') plain += u'\\';
    else plain += QStringLiteral("\\") + next;
  }
  return plain;
}

bool WriteFile(const QString& path, const QByteArray& text, QString* why) {
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly) && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) &&
      file.write(text) == text.size() && file.commit())
    return true;
  *why = file.errorString();
  return false;
}

// The site a file names, and whether it names one in a [Site] section.
TSite FileSite(const TIniFile& ini, const QFileInfo& info) {
  TSite site;
  site.Name = info.completeBaseName();
  if (!ini.SectionExists(kSite)) return site;
  const QString name = Unescaped(ini.ReadString(kSite, QStringLiteral("Name"), QString()));
  if (!name.isEmpty()) site.Name = name;
  site.Address = Unescaped(ini.ReadString(kSite, QStringLiteral("Address"), QString()));
  site.Notes = Unescaped(ini.ReadString(kSite, QStringLiteral("Notes"), QString()));
  site.DataNumber = Unescaped(ini.ReadString(kSite, QStringLiteral("Number"), QString()));
  site.Archived = ini.ReadBool(kSite, QStringLiteral("Archived"), false);
  return site;
}

}  // namespace

QStringList ExportFileNames(const QStringList& sites) {
  QStringList names(sites.size());
  QSet<QString> taken;  // in one letter case: some file systems ignore it
  auto give = [&](qsizetype i) {
    const QString base = Sanitized(sites[i]);
    for (int copy = 1;; ++copy) {
      const QString name = FileName(base, copy);
      if (taken.contains(name.toCaseFolded())) continue;
      taken.insert(name.toCaseFolded());
      names[i] = name;
      return;
    }
  };
  // Names that are their own file's first, so that they keep it plain.
  for (qsizetype i = 0; i < sites.size(); ++i)
    if (FileName(sites[i], 1) == sites[i] + kExtension && Sanitized(sites[i]) == sites[i]) give(i);
  for (qsizetype i = 0; i < sites.size(); ++i)
    if (names[i].isNull()) give(i);
  return names;
}

bool ExportSites(TLibrary& library, const QString& dirName, TFilesDone* done, QString* why) {
  // A call that returns nothing failed when the library counted a failure.
  const int before = library.Failures();
  auto failed = [&] { return library.Failures() != before ? (*why = library.Error(), true) : false; };
  const std::vector<TSite> sites = library.Search(QString(), std::numeric_limits<int>::max(), true);
  if (sites.empty() && failed()) return false;
  QStringList names;
  for (const TSite& site : sites) names << site.Name;
  const QStringList files = ExportFileNames(names);
  const QDir dir(dirName);
  for (size_t i = 0; i < sites.size(); ++i) {
    const TSite& site = sites[i];
    const std::vector<TRecord> history = library.History(site.Name);
    if (history.empty() && failed()) return false;
    TIniFile ini{QString()};
    if (history.empty()) {
      ini.LoadText(QByteArray());
    } else {
      const auto record = library.Record(site.Name, history.back().Number);
      if (!record) return (*why = library.Error(), false);
      ini.LoadText(CanonicalRecordText(record->Settings));
    }
    ini.WriteString(kSite, QStringLiteral("Name"), Escaped(site.Name));
    ini.WriteString(kSite, QStringLiteral("Address"), Escaped(site.Address));
    ini.WriteString(kSite, QStringLiteral("Notes"), Escaped(site.Notes));
    ini.WriteString(kSite, QStringLiteral("Number"), Escaped(site.DataNumber));
    ini.WriteBool(kSite, QStringLiteral("Archived"), site.Archived);
    QString failure;
    if (WriteFile(dir.filePath(files[qsizetype(i)]), ini.Text(), &failure)) ++done->Files;
    else done->Refused << site.Name + QStringLiteral(": ") + dir.filePath(files[qsizetype(i)]) + QStringLiteral(": ") + failure;
  }
  return true;
}

bool ImportSites(TLibrary& library, const QString& dirName, TFilesDone* done, QString* why) {
  const QDir dir(dirName);
  for (const QFileInfo& info : dir.entryInfoList({QStringLiteral("*.ini")}, QDir::Files, QDir::Name)) {
    TIniFile ini(info.filePath());
    ini.Load();
    TSite site = FileSite(ini, info);
    // Only what write accepts: a record is a file write can send. The
    // thresholds count in a file that has them.
    const bool thresholds = ini.SectionExists(QStringLiteral("ts1")) || ini.SectionExists(QStringLiteral("ts2"));
    const bool siteAlone = ini.SectionExists(kSite) && RecordSettings(ini.Text()).Groups.Empty();
    TSettings settings;
    if (!siteAlone) {
      if (const auto refused = ReadSettingsForWrite(info.filePath(), thresholds ? TGroups::AllWithAdc() : TGroups::All(),
                                                    &settings)) {
        done->Refused << *refused;
        continue;
      }
    }
    const int before = library.Failures();
    const auto existing = library.FindSite(site.Name);
    if (!existing && library.Failures() != before) return (*why = library.Error(), false);
    const bool created = !existing;
    if (created) {
      const bool archived = site.Archived;
      site.Archived = false;
      if (!library.AddSite(site)) {
        done->Refused << info.fileName() + QStringLiteral(": ") + library.Error();
        continue;
      }
      site.Archived = archived;
    }
    if (siteAlone) {
      if (created) ++done->Sites;
      else ++done->Unchanged;
    } else {
      TRecord record;
      record.Settings = RecordSettingsText(settings, QString());
      // Importing a folder again adds only what changed.
      const std::vector<TRecord> history = library.History(site.Name);
      const auto latest = history.empty() ? std::nullopt : library.Record(site.Name, history.back().Number);
      if (latest && latest->Settings == record.Settings) {
        ++done->Unchanged;
        continue;
      }
      record.Operator = SystemUser();
      record.Host = QSysInfo::machineHostName();
      record.Kind = TRecordKind::Backup;
      record.Outcome = TRecordOutcome::Imported;
      record.Detail = info.fileName();
      if (!library.AddRecord(site.Name, &record)) return (*why = library.Error(), false);
      ++done->Files;
    }
    if (created && site.Archived && !library.ArchiveSite(site.Name)) return (*why = library.Error(), false);
  }
  return true;
}
