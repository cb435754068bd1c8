// Sites out to a folder of settings files and back, on both engines (the
// scratch PostgreSQL server as in tst_library).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QSet>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <map>

#include "library/Library.h"
#include "library/LibraryFiles.h"
#include "library/LibraryUse.h"
#include "persist/SettingsCodec.h"
#include "tests/common/SettingsText.h"

namespace {

enum class TEngine { SQLite, PostgreSQL };

QString PgUrl() {
  QFile state(qEnvironmentVariable("OSTREL_TEST_PG_STATE"));
  if (!state.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(state.readLine()).trimmed();
}

TRecord Record(const QByteArray& settings) {
  TRecord r;
  r.Operator = "installer";
  r.Kind = TRecordKind::Read;
  r.Outcome = TRecordOutcome::Success;
  r.Port = "/dev/ttyUSB0";
  r.Settings = settings;
  return r;
}

// What an export must carry over: each site's fields and latest settings.
struct TSiteState {
  TSite Site;
  std::optional<TSettings> Latest;
};

std::map<QString, TSiteState> State(TLibrary& library) {
  std::map<QString, TSiteState> state;
  for (const TSite& site : library.Search(QString(), 1000, true)) {
    TSiteState& s = state[site.Name];
    s.Site = site;
    const auto history = library.History(site.Name);
    if (!history.empty()) s.Latest = RecordSettings(library.Record(site.Name, history.back().Number)->Settings);
  }
  return state;
}

QStringList Files(const QString& dir) { return QDir(dir).entryList(QDir::Files, QDir::Name); }

class LibraryFilesTest : public testing::TestWithParam<TEngine> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    if (GetParam() == TEngine::SQLite) {
      place_.File = dir_.filePath("library.sqlite");
      return;
    }
    const QString url = PgUrl();
    if (url.isEmpty()) GTEST_SKIP() << "no scratch PostgreSQL server: is postgresql-15 installed? (scripts/pg_scratch.sh)";
    QString why;
    const auto place = ParseLibraryPlace(url, &why);
    ASSERT_TRUE(place) << why.toStdString();
    place_ = *place;
    Empty();
  }

  // The library gone: the next Open makes an empty one.
  void Empty() {
    if (GetParam() == TEngine::SQLite) {
      QFile::remove(place_.File);
      QFile::remove(place_.File + "-wal");
      QFile::remove(place_.File + "-shm");
      return;
    }
    TLibrary cleaner;
    ASSERT_TRUE(cleaner.Open(place_)) << cleaner.Error().toStdString();
    QSqlQuery q(cleaner.Database());
    ASSERT_TRUE(q.exec("DROP TABLE IF EXISTS site_grams, site_terms, records, sites, schema_version"));
  }

  void AddSite(TLibrary& library, const QString& name, const QString& notes = {}) {
    TSite site;
    site.Name = name;
    site.Address = "ул. Лесная, 1";
    site.Notes = notes;
    site.DataNumber = "+79161112233";
    ASSERT_TRUE(library.AddSite(site)) << library.Error().toStdString();
  }

  void Add(TLibrary& library, const QString& site, const QByteArray& settings) {
    TRecord r = Record(settings);
    ASSERT_TRUE(library.AddRecord(site, &r)) << library.Error().toStdString();
  }

  QTemporaryDir dir_;
  TLibraryPlace place_;
};

// Every site out and into an empty library: the same sites, fields and latest
// settings (thresholds with them), whatever the names did to the file names.
TEST_P(LibraryFilesTest, ExportThenImportGivesTheSameSitesBack) {
  const QString longName = QString(150, QChar(u'Ж'));
  const QString out = dir_.filePath("out");
  std::map<QString, TSiteState> before;
  {
    TLibrary library;
    ASSERT_TRUE(library.Open(place_)) << library.Error().toStdString();
    AddSite(library, "A/B", "код 1234\nвход со двора \\ калитка");
    Add(library, "A/B", KnownSettings());
    AddSite(library, "A_B");
    Add(library, "A_B", CompleteSettings());
    Add(library, "A_B", QByteArray(KnownSettings()).replace("slider4=900", "slider4=1000").replace("Phone2=", "Phone2=+79160001122"));
    AddSite(library, longName);
    Add(library, longName, KnownSettings());
    AddSite(library, "Старый склад");
    Add(library, "Старый склад", CompleteSettings());
    ASSERT_TRUE(library.ArchiveSite("Старый склад"));
    AddSite(library, "Пока без записей");
    before = State(library);
    ASSERT_EQ(before.size(), 5u);

    ASSERT_TRUE(QDir().mkpath(out));
    TFilesDone done;
    QString why;
    ASSERT_TRUE(ExportSites(library, out, &done, &why)) << why.toStdString();
    EXPECT_TRUE(done.Refused.isEmpty()) << done.Refused.join('\n').toStdString();
    EXPECT_EQ(done.Files, 5);
    // Again over the files of the first: each replaced.
    TFilesDone again;
    ASSERT_TRUE(ExportSites(library, out, &again, &why)) << why.toStdString();
    EXPECT_TRUE(again.Refused.isEmpty()) << again.Refused.join('\n').toStdString();
    EXPECT_EQ(again.Files, 5);
  }
  const QStringList files = Files(out);
  EXPECT_EQ(files.size(), 5) << files.join(", ").toStdString();
  EXPECT_TRUE(files.contains("A_B.ini") && files.contains("A_B (2).ini")) << files.join(", ").toStdString();
  for (const QString& file : files) EXPECT_LE(file.toUtf8().size(), 248) << file.toStdString();
  // A file of the export is one write takes as it stands.
  TSettings sent;
  EXPECT_EQ(ReadSettingsForWrite(QDir(out).filePath("A_B (2).ini"), TGroups::AllWithAdc(), &sent), std::nullopt);

  Empty();
  TLibrary library;
  ASSERT_TRUE(library.Open(place_)) << library.Error().toStdString();
  TFilesDone done;
  QString why;
  ASSERT_TRUE(ImportSites(library, out, &done, &why)) << why.toStdString();
  EXPECT_TRUE(done.Refused.isEmpty()) << done.Refused.join('\n').toStdString();
  EXPECT_EQ(done.Files, 4);
  EXPECT_EQ(done.Sites, 1);
  const auto after = State(library);
  ASSERT_EQ(after.size(), before.size());
  for (const auto& [name, was] : before) {
    SCOPED_TRACE(name.toStdString());
    ASSERT_TRUE(after.count(name));
    const TSiteState& now = after.at(name);
    EXPECT_EQ(now.Site.Address, was.Site.Address);
    EXPECT_EQ(now.Site.Notes, was.Site.Notes);
    EXPECT_EQ(now.Site.DataNumber, was.Site.DataNumber);
    EXPECT_EQ(now.Site.Archived, was.Site.Archived);
    ASSERT_EQ(now.Latest.has_value(), was.Latest.has_value());
    if (was.Latest) {
      EXPECT_TRUE(now.Latest->Groups.Has(TGroup::Adc));
      EXPECT_TRUE(*now.Latest == *was.Latest);
    }
  }
  // The same folder again adds nothing.
  TFilesDone again;
  ASSERT_TRUE(ImportSites(library, out, &again, &why)) << why.toStdString();
  EXPECT_EQ(again.Files, 0);
  EXPECT_EQ(again.Sites, 0);
  EXPECT_EQ(again.Unchanged, 5);
  const auto check = library.Check();
  ASSERT_TRUE(check);
  EXPECT_TRUE(check->isEmpty()) << check->join('\n').toStdString();
}

// A file that cannot be written is named with why; the others are written.
// A file made by hand names its site by its file name, thresholds kept.
TEST_P(LibraryFilesTest, AFileThatCannotBeWrittenIsNamedAndTheRestWritten) {
  const QString out = dir_.filePath("out");
  ASSERT_TRUE(QDir().mkpath(out + "/B.ini"));  // a folder where B's file goes
  TLibrary library;
  ASSERT_TRUE(library.Open(place_)) << library.Error().toStdString();
  for (const char* name : {"A", "B", "C"}) {
    AddSite(library, name);
    Add(library, name, CompleteSettings());
  }
  TFilesDone done;
  QString why;
  ASSERT_TRUE(ExportSites(library, out, &done, &why)) << why.toStdString();
  EXPECT_EQ(done.Files, 2);
  ASSERT_EQ(done.Refused.size(), 1);
  EXPECT_TRUE(done.Refused[0].startsWith("B: ")) << done.Refused[0].toStdString();
  EXPECT_TRUE(QFile::exists(out + "/A.ini") && QFile::exists(out + "/C.ini"));

  const QString in = dir_.filePath("in");
  ASSERT_TRUE(QDir().mkpath(in));
  QFile file(in + "/Дом 2.ini");
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(KnownSettings());
  file.close();
  TFilesDone imported;
  ASSERT_TRUE(ImportSites(library, in, &imported, &why)) << why.toStdString();
  EXPECT_EQ(imported.Files, 1);
  const auto history = library.History("Дом 2");
  ASSERT_EQ(history.size(), 1u);
  const TSettings stored = RecordSettings(library.Record("Дом 2", 1)->Settings);
  EXPECT_EQ(stored.Threshold[1][0], 50);
}

INSTANTIATE_TEST_SUITE_P(Engines, LibraryFilesTest, testing::Values(TEngine::SQLite, TEngine::PostgreSQL),
                         [](const testing::TestParamInfo<TEngine>& info) {
                           return info.param == TEngine::SQLite ? "SQLite" : "PostgreSQL";
                         });

// The names of an export's files: one file a site, within 255 bytes while
// written under a temporary name, the
// characters file systems refuse replaced.
TEST(ExportFileNames, OneFileASiteWithinTheFileSystemsLimit) {
  const QString cyrillic = QString(150, QChar(u'Ж'));
  const QStringList sites{"A/B", "A_B", "a_b", ".hidden", "Склад: ворота*", cyrillic, cyrillic + "Я", "C\\D"};
  const QStringList names = ExportFileNames(sites);
  ASSERT_EQ(names.size(), sites.size());
  EXPECT_EQ(names[1], "A_B.ini");  // its own name kept plain
  EXPECT_EQ(names[2], "a_b (2).ini");  // one file with A_B where letter case is ignored
  EXPECT_EQ(names[0], "A_B (3).ini");
  EXPECT_EQ(names[3], "_.hidden.ini");
  EXPECT_EQ(names[4], "Склад_ ворота_.ini");
  EXPECT_EQ(names[7], "C_D.ini");
  QSet<QString> seen;
  for (const QString& name : names) {
    EXPECT_LE(name.toUtf8().size(), 248) << name.toStdString();
    EXPECT_EQ(QString::fromUtf8(name.toUtf8()), name);  // whole characters
    EXPECT_FALSE(seen.contains(name.toCaseFolded())) << name.toStdString();
    seen.insert(name.toCaseFolded());
  }
  // Cut at the same place, the two long names still differ by a suffix.
  EXPECT_TRUE(names[5].startsWith(QString(120, QChar(u'Ж'))));
  EXPECT_TRUE(names[6].endsWith(" (2).ini")) << names[6].toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
