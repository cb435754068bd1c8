// The site library on both engines: SQLite in a temporary file and a scratch
// PostgreSQL 15 server started by the test fixture (scripts/pg_scratch.sh).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <thread>

#include "library/Library.h"
#include "library/RecordSpool.h"

namespace {

enum class TEngine { SQLite, PostgreSQL };

TSite Site(const QString& name, const QString& address, const QString& notes, const QString& dataNumber) {
  TSite site;
  site.Name = name;
  site.Address = address;
  site.Notes = notes;
  site.DataNumber = dataNumber;
  return site;
}

QString PgUrl() {
  QFile state(qEnvironmentVariable("OSTREL_TEST_PG_STATE"));
  if (!state.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(state.readLine()).trimmed();
}

QByteArray SettingsText(const QString& phone, const QString& key) {
  return QStringLiteral("[Connect]\r\nComPort=ttyUSB0\r\n[Phones]\r\nPhone1=%1\r\nPhone2=\r\n[Keys]\r\nKey0=%2\r\n"
                        "Key1=0000000000000000\r\n")
      .arg(phone, key)
      .toUtf8();
}

TRecord MakeRecord(TRecordKind kind, const QByteArray& settings) {
  TRecord r;
  r.Operator = "installer";
  r.Host = "laptop";
  r.Kind = kind;
  r.Outcome = "success";
  r.Firmware = "VER 05";
  r.Port = "ttyUSB0";
  r.Settings = settings;
  return r;
}

class LibraryTest : public testing::TestWithParam<TEngine> {
 protected:
  void SetUp() override {
    if (GetParam() == TEngine::SQLite) {
      ASSERT_TRUE(dir_.isValid());
      place_.File = dir_.filePath("library.sqlite");
      return;
    }
    const QString url = PgUrl();
    ASSERT_FALSE(url.isEmpty()) << "the scratch PostgreSQL server did not start (see scripts/pg_scratch.sh)";
    QString why;
    const auto place = ParseLibraryPlace(url, &why);
    ASSERT_TRUE(place) << why.toStdString();
    place_ = *place;
    // Every test starts from an empty database.
    TLibrary cleaner;
    ASSERT_TRUE(cleaner.Open(place_)) << cleaner.Error().toStdString();
    QSqlQuery q(cleaner.Database());
    ASSERT_TRUE(q.exec("DROP TABLE IF EXISTS site_grams, site_terms, records, sites, schema_version"));
  }

  void Open(TLibrary& library) { ASSERT_TRUE(library.Open(place_)) << library.Error().toStdString(); }

  QTemporaryDir dir_;
  TLibraryPlace place_;
};

TEST_P(LibraryTest, SitesAndTheirRecordsKeepEveryStep) {
  TLibrary library;
  Open(library);
  ASSERT_TRUE(library.AddSite(Site("Склад 1", "ул. Лесная, 5", "ворота", "+79160000001")));
  EXPECT_FALSE(library.AddSite(Site("Склад 1", "", "", "")));
  EXPECT_NE(library.Error().indexOf("exists already"), -1);
  for (const QString& bad : {QString(), QString("  "), QString(201, 'x'), QString("a\nb"), QString("a\tb")})
    EXPECT_FALSE(library.AddSite(Site(bad, "", "", ""))) << bad.size();

  const TRecordKind kinds[] = {TRecordKind::Read, TRecordKind::Backup, TRecordKind::Write, TRecordKind::Verify};
  for (int i = 0; i < 4; ++i) {
    TRecord r = MakeRecord(kinds[i], SettingsText(QString("+7916123450%1").arg(i), "0123456789ABCDEF"));
    if (i == 2) r.Outcome = "refused";
    ASSERT_TRUE(library.AddRecord("Склад 1", &r)) << library.Error().toStdString();
    EXPECT_EQ(r.Number, i + 1);
  }
  TRecord orphan = MakeRecord(TRecordKind::Read, SettingsText("1", "2"));
  EXPECT_FALSE(library.AddRecord("нет такого", &orphan));

  const std::vector<TRecord> history = library.History("Склад 1");
  ASSERT_EQ(history.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(history[i].Number, i + 1);
    EXPECT_EQ(history[i].Kind, kinds[i]);
    EXPECT_TRUE(history[i].Time.isValid());
  }
  EXPECT_EQ(history[2].Outcome, "refused");
  const auto second = library.Record("Склад 1", 2);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Settings, SettingsText("+79161234501", "0123456789ABCDEF"));
  EXPECT_FALSE(library.Record("Склад 1", 5));

  // Archived, never dropped: out of the search, its history whole.
  ASSERT_TRUE(library.ArchiveSite("Склад 1"));
  EXPECT_TRUE(library.Search("склад", 50).empty());
  EXPECT_EQ(library.Search("склад", 50, true).size(), 1u);
  EXPECT_EQ(library.History("Склад 1").size(), 4u);
  const auto problems = library.Check();
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->isEmpty()) << problems->join("; ").toStdString();
}

TEST_P(LibraryTest, SearchFindsTheLatestPhoneNumbersAndKeys) {
  TLibrary library;
  Open(library);
  ASSERT_TRUE(library.AddSite(Site("Дача", "", "", "")));
  ASSERT_TRUE(library.AddSite(Site("Гараж", "Садовая 1", "", "")));
  TRecord first = MakeRecord(TRecordKind::Read, SettingsText("+79031112233", "00000000DEADBEEF"));
  ASSERT_TRUE(library.AddRecord("Дача", &first));
  ASSERT_EQ(library.Search("1112233", 50).size(), 1u);
  EXPECT_EQ(library.Search("deadbeef", 50).front().Name, "Дача");
  EXPECT_EQ(library.Search("садовая", 50).front().Name, "Гараж");
  // A wildcard in the text is a plain character.
  EXPECT_TRUE(library.Search("%", 50).empty());
  TRecord second = MakeRecord(TRecordKind::Write, SettingsText("+79034445566", "00000000CAFEBABE"));
  ASSERT_TRUE(library.AddRecord("Дача", &second));
  EXPECT_TRUE(library.Search("1112233", 50).empty());
  EXPECT_EQ(library.Search("4445566", 50).size(), 1u);
  EXPECT_EQ(library.Search("", 1).size(), 1u);
}

TEST_P(LibraryTest, HostileNamesAndNotesAreStoredAndFound) {
  TLibrary library;
  Open(library);
  const QString rtl = QString::fromUtf8("\u202Eמשרד\u200F 'quoted' \"twice\"; DROP TABLE sites; --");
  const QString longNotes = QString(10000, QChar(0x0436)) + "конец";
  const QString names[] = {rtl, "O'Brien \\ 100% _x_", QString(200, QChar(0x05D0))};
  for (const QString& name : names)
    ASSERT_TRUE(library.AddSite(Site(name, name, longNotes, ""))) << library.Error().toStdString();
  for (const QString& name : names) {
    const auto site = library.FindSite(name);
    ASSERT_TRUE(site);
    EXPECT_EQ(site->Name, name);
    EXPECT_EQ(site->Notes, longNotes);
    const std::vector<TSite> found = library.Search(name.mid(1, 12), 50);
    ASSERT_EQ(found.size(), 1u) << name.toStdString();
    EXPECT_EQ(found.front().Name, name);
  }
  EXPECT_EQ(library.Search("конец", 50).size(), 3u);
  EXPECT_EQ(library.Search("100%", 50).size(), 1u);
}

TEST_P(LibraryTest, ANewerSchemaOpensReadOnly) {
  {
    TLibrary library;
    Open(library);
    ASSERT_TRUE(library.AddSite(Site("Офис", "", "", "")));
    TRecord r = MakeRecord(TRecordKind::Read, SettingsText("1", "2"));
    ASSERT_TRUE(library.AddRecord("Офис", &r));
    QSqlQuery q(library.Database());
    ASSERT_TRUE(q.exec("UPDATE schema_version SET version = 99"));
  }
  TLibrary library;
  Open(library);
  EXPECT_TRUE(library.ReadOnly());
  EXPECT_NE(library.Error().indexOf("newer program"), -1) << library.Error().toStdString();
  EXPECT_EQ(library.History("Офис").size(), 1u);
  TRecord r = MakeRecord(TRecordKind::Write, SettingsText("1", "2"));
  EXPECT_FALSE(library.AddRecord("Офис", &r));
  EXPECT_FALSE(library.AddSite(Site("Новый", "", "", "")));
}

// A library of schema version 1 (no search index) with more sites than the
// index counts for one text: opened, it is migrated to the current version,
// and every way of searching finds what a plain scan would.
TEST_P(LibraryTest, AVersionOneLibraryIsMigratedAndSearched) {
  constexpr int kMany = 2100;
  {
    TLibrary library;
    Open(library);
    ASSERT_TRUE(library.AddSite(Site("Дача", "Садовая 1", "", "")));
    ASSERT_TRUE(library.AddSite(Site("Гараж", "", "", "")));
    TRecord r = MakeRecord(TRecordKind::Read, SettingsText("+79031112233", "00000000DEADBEEF"));
    ASSERT_TRUE(library.AddRecord("Дача", &r));
    QSqlQuery q(library.Database());
    ASSERT_TRUE(q.exec("DROP TABLE site_grams"));
    ASSERT_TRUE(q.exec("UPDATE schema_version SET version = 1"));
    for (int first = 0; first < kMany; first += 300) {
      QStringList rows;
      for (int i = first; i < std::min(first + 300, kMany); ++i) {
        const QString name = QString("Объект %1").arg(i, 4, 10, QChar('0'));
        const QString address = QString("ул. Лесная, %1").arg(i);
        rows << QString("('%1', '%2', '', '', 0, 'x', 'x', '%3')")
                    .arg(name, address, (name + "\n" + address + "\n\n").toLower());
      }
      ASSERT_TRUE(q.exec("INSERT INTO sites (name, address, notes, data_number, archived, created, changed, search) "
                         "VALUES " + rows.join(", ")))
          << q.lastError().text().toStdString();
    }
  }
  TLibrary library;
  Open(library);
  EXPECT_FALSE(library.ReadOnly());
  {
    QSqlQuery q(library.Database());
    ASSERT_TRUE(q.exec("SELECT max(version) FROM schema_version") && q.next());
    EXPECT_EQ(q.value(0).toInt(), kLibrarySchemaVersion);
  }
  auto check = [&] {
    const auto problems = library.Check();
    ASSERT_TRUE(problems);
    EXPECT_TRUE(problems->isEmpty()) << problems->join("; ").toStdString();
  };
  check();
  struct TCase {
    const char* Text;
    size_t Found;
    const char* First;
  };
  const TCase cases[] = {
      {"объект", 1000, "Объект 0000"},   // every site of many: in order of name
      {"ОБЪЕКТ 2099", 1, "Объект 2099"},
      {"лесная, 20", 111, "Объект 0020"},  // 20, 200-209, 2000-2099
      {"7", 562, "Дача"},                 // a short text many sites hold (and a phone number)
      {"ж", 1, "Гараж"},                  // and one few hold
      {"жз", 0, ""},
      {"1112233", 1, "Дача"},             // the latest record's phone number
      {"DeadBeef", 1, "Дача"},            // and key
      {"нигде", 0, ""},
      {"%", 0, ""},
      {"дача\nсад", 1, "Дача"},            // across the fields, as a plain scan finds it
  };
  for (const TCase& c : cases) {
    const std::vector<TSite> found = library.Search(QString::fromUtf8(c.Text), 1000);
    EXPECT_EQ(found.size(), c.Found) << c.Text;
    if (!found.empty()) EXPECT_EQ(found.front().Name, QString::fromUtf8(c.First)) << c.Text;
  }
  EXPECT_EQ(library.Search("объект", 50).size(), 50u);

  // A renamed site and a new record are found by what they hold now.
  ASSERT_TRUE(library.UpdateSite("Гараж", Site("Бокс 7", "", "ворота", "")));
  EXPECT_TRUE(library.Search("ж", 50).empty());
  EXPECT_EQ(library.Search("ворота", 50).size(), 1u);
  TRecord r = MakeRecord(TRecordKind::Write, SettingsText("+79034445566", "00000000CAFEBABE"));
  ASSERT_TRUE(library.AddRecord("Дача", &r));
  EXPECT_TRUE(library.Search("deadbeef", 50).empty());
  EXPECT_EQ(library.Search("cafebabe", 50).size(), 1u);
  ASSERT_TRUE(library.ArchiveSite("Бокс 7"));
  EXPECT_TRUE(library.Search("ворота", 50).empty());
  EXPECT_EQ(library.Search("ворота", 50, true).size(), 1u);
  check();
}

// Two writers at once, each with its own connection, append to one site and
// to a site of their own: every record is kept and numbered without a gap.
TEST_P(LibraryTest, TwoWritersAtOnceKeepEveryRecord) {
  {
    TLibrary library;
    Open(library);
    for (const char* name : {"общий", "w0", "w1"}) ASSERT_TRUE(library.AddSite(Site(name, "", "", "")));
  }
  constexpr int kEach = 200;
  int failures[2] = {0, 0};
  auto writer = [&](int w) {
    TLibrary library;
    if (!library.Open(place_)) {
      failures[w] = kEach;
      return;
    }
    for (int i = 0; i < kEach; ++i) {
      TRecord r = MakeRecord(TRecordKind::Read, SettingsText(QString::number(w * 1000 + i), "0"));
      if (!library.AddRecord(i % 2 ? QString("общий") : QString("w%1").arg(w), &r)) ++failures[w];
    }
  };
  std::thread a(writer, 0), b(writer, 1);
  a.join();
  b.join();
  EXPECT_EQ(failures[0] + failures[1], 0);
  TLibrary library;
  Open(library);
  const std::vector<TRecord> shared = library.History("общий");
  ASSERT_EQ(shared.size(), size_t(kEach));
  for (int i = 0; i < kEach; ++i) EXPECT_EQ(shared[i].Number, i + 1);
  EXPECT_EQ(library.History("w0").size() + library.History("w1").size(), size_t(kEach));
  const auto problems = library.Check();
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->isEmpty());
}

// The library away (no server on the socket, no directory for the file):
// the records wait in the spool and are stored, once each, when it is back,
// also after a crash between storing a record and removing its file.
TEST_P(LibraryTest, RecordsWaitInTheSpoolWhileTheLibraryIsAway) {
  TLibraryPlace away = place_;
  if (GetParam() == TEngine::SQLite) away.File = dir_.filePath("no such dir/library.sqlite");
  else away.Host = dir_.filePath("no server here");
  const QString spoolDir = dir_.filePath("spool");
  for (int i = 0; i < 3; ++i) {
    const QString warning =
        RecordOperation(away, spoolDir, "Склад", MakeRecord(TRecordKind::Write, SettingsText(QString::number(i), "1")));
    EXPECT_NE(warning.indexOf("library sync"), -1) << warning.toStdString();
    EXPECT_EQ(warning.indexOf('\n'), -1);
  }
  TRecordSpool spool(spoolDir);
  ASSERT_EQ(spool.Count(), 3);
  struct stat st {};
  ASSERT_EQ(stat(QFile::encodeName(spoolDir).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A copy of a spooled file stands for one stored and not yet removed.
  const QString first = spoolDir + '/' + QDir(spoolDir).entryList(QDir::Files, QDir::Name).front();
  ASSERT_TRUE(QFile::copy(first, first + ".keep"));

  // Back: the next operation stores the waiting ones first, then its own.
  const QString back = RecordOperation(place_, spoolDir, "Склад", MakeRecord(TRecordKind::Verify, SettingsText("3", "1")));
  EXPECT_TRUE(back.isEmpty()) << back.toStdString();
  EXPECT_EQ(spool.Count(), 0);
  ASSERT_TRUE(QFile::rename(first + ".keep", first));
  TLibrary library;
  Open(library);
  QString error;
  // Taken as stored and removed, kept once.
  EXPECT_EQ(spool.Sync(library, &error), 1) << error.toStdString();
  EXPECT_EQ(spool.Count(), 0);
  const std::vector<TRecord> history = library.History("Склад", true);
  ASSERT_EQ(history.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(history[i].Settings, SettingsText(QString::number(i), "1"));
  EXPECT_EQ(history[3].Kind, TRecordKind::Verify);
}

// A writer killed with SIGKILL while recording: every record is whole or
// absent, and the check finds nothing. The writer is this binary run again
// (OSTREL_TEST_WRITER=place), appending until it is killed.
TEST_P(LibraryTest, AWriterKilledMidRecordLeavesNoHalfRecord) {
  {
    TLibrary library;
    Open(library);
    ASSERT_TRUE(library.AddSite(Site("цех", "", "", "")));
  }
  const QString place = GetParam() == TEngine::SQLite ? place_.File : PgUrl();
  QProcess writer;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("OSTREL_TEST_WRITER", place);
  writer.setProcessEnvironment(env);
  writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  writer.start(QCoreApplication::applicationFilePath(), {});
  ASSERT_TRUE(writer.waitForStarted());
  // Killed after its 30th record is stored, in the middle of later ones.
  QByteArray out;
  while (out.count('\n') < 30 && writer.waitForReadyRead(30000)) out += writer.readAllStandardOutput();
  ASSERT_GE(out.count('\n'), 30) << "the writer stopped early";
  kill(pid_t(writer.processId()), SIGKILL);
  writer.waitForFinished();

  TLibrary library;
  Open(library);
  const auto problems = library.Check();
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->isEmpty()) << problems->join("; ").toStdString();
  const std::vector<TRecord> history = library.History("цех", true);
  ASSERT_GE(history.size(), 30u);
  for (const TRecord& r : history) {
    EXPECT_EQ(r.Settings, SettingsText(QString::number(r.Number), QString(16, 'A'))) << r.Number;
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, LibraryTest, testing::Values(TEngine::SQLite, TEngine::PostgreSQL),
                         [](const testing::TestParamInfo<TEngine>& info) {
                           return info.param == TEngine::SQLite ? "SQLite" : "PostgreSQL";
                         });

TEST(LibraryPlace, UrlsAndFiles) {
  QString why;
  const auto pg = ParseLibraryPlace("postgresql://anna@db.example:5433/sites", &why);
  ASSERT_TRUE(pg);
  EXPECT_EQ(pg->Engine, TLibraryPlace::TEngine::PostgreSQL);
  EXPECT_EQ(pg->User, "anna");
  EXPECT_EQ(pg->Host, "db.example");
  EXPECT_EQ(pg->Port, 5433);
  EXPECT_EQ(pg->Database, "sites");
  const auto socket = ParseLibraryPlace("postgresql://anna@/sites?host=/run/postgresql", &why);
  ASSERT_TRUE(socket);
  EXPECT_EQ(socket->Host, "/run/postgresql");
  EXPECT_FALSE(ParseLibraryPlace("postgresql://anna:secret@db/sites", &why));
  EXPECT_NE(why.indexOf("password"), -1);
  EXPECT_EQ(why.indexOf("secret"), -1);
  EXPECT_FALSE(ParseLibraryPlace("postgresql://db.example/", &why));
  const auto file = ParseLibraryPlace("/home/anna/library.sqlite", &why);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Engine, TLibraryPlace::TEngine::SQLite);
}

// Files that are not a library, and a server that is not there: a clear
// message, nothing changed.
TEST(LibraryOpen, ForeignCorruptAndUnreachable) {
  QTemporaryDir dir;
  const QString garbage = dir.filePath("garbage.sqlite");
  {
    QFile f(garbage);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
  }
  TLibrary library;
  TLibraryPlace place;
  place.File = garbage;
  EXPECT_FALSE(library.Open(place));
  EXPECT_NE(library.Error().indexOf("not a site library"), -1) << library.Error().toStdString();
  QFile f(garbage);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray(4096, 'x'));

  // Another program's SQLite database.
  place.File = dir.filePath("foreign.sqlite");
  {
    TLibrary other;
    TLibraryPlace blank;
    blank.File = dir.filePath("blank.sqlite");
    ASSERT_TRUE(other.Open(blank));
    QSqlQuery q(other.Database());
    ASSERT_TRUE(q.exec("ATTACH DATABASE '" + place.File + "' AS f"));
    ASSERT_TRUE(q.exec("CREATE TABLE f.invoices (id INTEGER)"));
  }
  TLibrary foreign;
  EXPECT_FALSE(foreign.Open(place));
  EXPECT_NE(foreign.Error().indexOf("not a site library"), -1) << foreign.Error().toStdString();

  QString why;
  const auto away = ParseLibraryPlace("postgresql://nobody@/none?host=" + dir.filePath("nosocket"), &why);
  ASSERT_TRUE(away);
  TLibrary unreachable;
  EXPECT_FALSE(unreachable.Open(*away));
  EXPECT_NE(unreachable.Error().indexOf("cannot open the library"), -1) << unreachable.Error().toStdString();
}

TEST(LibraryOpen, ANewSQLiteFileIsPrivateWithWalAndForeignKeys) {
  QTemporaryDir dir;
  TLibraryPlace place;
  place.File = dir.filePath("library.sqlite");
  TLibrary library;
  ASSERT_TRUE(library.Open(place));
  struct stat st {};
  ASSERT_EQ(stat(place.File.toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  QSqlQuery q(library.Database());
  ASSERT_TRUE(q.exec("PRAGMA journal_mode") && q.next());
  EXPECT_EQ(q.value(0).toString(), "wal");
  ASSERT_TRUE(q.exec("PRAGMA foreign_keys") && q.next());
  EXPECT_EQ(q.value(0).toInt(), 1);
}

}  // namespace

// The writer of AWriterKilledMidRecordLeavesNoHalfRecord: appends until
// killed, one line on standard output per record stored.
int RunWriter(const QString& text) {
  QString why;
  const auto place = ParseLibraryPlace(text, &why);
  TLibrary library;
  if (!place || !library.Open(*place)) return 1;
  for (int n = 1;; ++n) {
    TRecord r = MakeRecord(TRecordKind::Read, SettingsText(QString::number(n), QString(16, 'A')));
    if (!library.AddRecord("цех", &r)) return 1;
    std::printf("%d\n", r.Number);
    std::fflush(stdout);
  }
}

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (qEnvironmentVariableIsSet("OSTREL_TEST_WRITER")) return RunWriter(qEnvironmentVariable("OSTREL_TEST_WRITER"));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
