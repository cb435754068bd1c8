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
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QSet>
#include <functional>

#include "library/Library.h"
#include "library/LibrarySql.h"
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

// Every trigger of the library dropped, as anyone holding the database's
// own password could.
void DropTriggers(QSqlDatabase db, TEngine engine) {
  QSqlQuery q(db);
  QStringList drops;
  if (engine == TEngine::SQLite) {
    ASSERT_TRUE(q.exec("SELECT name FROM sqlite_master WHERE type = 'trigger'"));
    while (q.next()) drops << "DROP TRIGGER " + q.value(0).toString();
  } else {
    ASSERT_TRUE(q.exec("SELECT tgname, tgrelid::regclass FROM pg_trigger WHERE NOT tgisinternal"));
    while (q.next()) drops << "DROP TRIGGER " + q.value(0).toString() + " ON " + q.value(1).toString();
  }
  ASSERT_FALSE(drops.isEmpty());
  for (const QString& drop : drops) ASSERT_TRUE(q.exec(drop)) << q.lastError().text().toStdString();
}

// The library as a program of schema version 2 left it: no chain, no
// triggers.
void MakeVersionTwo(QSqlDatabase db, TEngine engine) {
  DropTriggers(db, engine);
  QSqlQuery q(db);
  for (const char* statement : {"ALTER TABLE records DROP COLUMN hash", "ALTER TABLE records DROP COLUMN previous",
                                "UPDATE schema_version SET version = 2"})
    ASSERT_TRUE(q.exec(statement)) << statement << ": " << q.lastError().text().toStdString();
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
    MakeVersionTwo(library.Database(), GetParam());
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
    // A smaller limit gives the first ones of the same list.
    const std::vector<TSite> first = library.Search(QString::fromUtf8(c.Text), 50);
    ASSERT_EQ(first.size(), std::min<size_t>(c.Found, 50)) << c.Text;
    for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(first[i].Name, found[i].Name) << c.Text << ' ' << i;
  }

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

// The database itself keeps the history: records are neither changed nor
// deleted, sites not deleted, whoever asks. With its triggers dropped, a
// change is found by the check, named by site and record, whether the
// record's hash was left or made again to fit.
TEST_P(LibraryTest, HistoryCannotBeRewrittenUnseen) {
  TLibrary library;
  Open(library);
  for (const char* name : {"A", "B", "C", "D", "E"}) ASSERT_TRUE(library.AddSite(Site(name, "", "", "")));
  for (int n = 0; n < 3; ++n) {
    for (const char* name : {"A", "B", "C", "D"}) {
      TRecord r = MakeRecord(TRecordKind::Read, SettingsText(QString("+7916%1%2").arg(name).arg(n), "1"));
      ASSERT_TRUE(library.AddRecord(name, &r)) << library.Error().toStdString();
    }
  }
  QSqlQuery q(library.Database());
  QStringList refused{"UPDATE records SET outcome = 'refused' WHERE number = 2",
                      "UPDATE records SET outcome = outcome",
                      "DELETE FROM records WHERE number = 3",
                      "DELETE FROM sites WHERE name = 'E'"};
  if (GetParam() == TEngine::PostgreSQL) refused << "TRUNCATE records" << "TRUNCATE sites CASCADE";
  for (const QString& statement : refused) EXPECT_FALSE(q.exec(statement)) << statement.toStdString();
  ASSERT_TRUE(library.FindSite("E"));
  for (const char* name : {"A", "B", "C", "D"}) EXPECT_EQ(library.History(name).size(), 3u) << name;
  auto problems = library.Check();
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->isEmpty()) << problems->join("; ").toStdString();

  DropTriggers(library.Database(), GetParam());
  const QString of = " AND site_id = (SELECT id FROM sites WHERE name = '%1')";
  struct TTamper {
    const char* Site;
    const char* Sql;
    const char* Named;
  };
  const TTamper tampers[] = {
      {"A", "UPDATE records SET outcome = 'refused' WHERE number = 2", "site A: record 2 "},
      {"B", "DELETE FROM records WHERE number = 2", "site B: record 3 "},
      {"C", "UPDATE records SET at = '2020-01-01T00:00:00.000Z' WHERE number = 1", "site C: record 1 "},
  };
  for (const TTamper& t : tampers)
    ASSERT_TRUE(q.exec(QString(t.Sql) + of.arg(t.Site))) << t.Sql << ": " << q.lastError().text().toStdString();
  // D's record 2 changed and its hash made again as the program makes it:
  // record 3 no longer follows it.
  ASSERT_TRUE(q.exec(QString("UPDATE records SET settings = 'Phone1=+70000000000' WHERE number = 2") + of.arg("D")));
  ASSERT_TRUE(q.exec(QString("SELECT %1, previous FROM records WHERE number = 2").arg(LibrarySql::kChainColumns) +
                     of.arg("D")) &&
              q.next());
  QStringList content;
  for (int i = 0; i < 10; ++i) content << q.value(i).toString();
  const QString hash = LibrarySql::RecordHash(content, q.value(10).toString());
  q.finish();
  ASSERT_TRUE(q.exec(QString("UPDATE records SET hash = '%1' WHERE number = 2").arg(hash) + of.arg("D")));

  problems = library.Check();
  ASSERT_TRUE(problems);
  const QStringList named = problems->filter(QRegularExpression("^site "));
  EXPECT_EQ(named.size(), 4) << problems->join("; ").toStdString();
  for (const char* expected : {"site A: record 2 ", "site B: record 3 ", "site C: record 1 ", "site D: record 3 "})
    EXPECT_EQ(named.filter(QString(expected)).size(), 1) << expected << " in " << problems->join("; ").toStdString();
}

// A library of schema version 2 (records without a chain) gets its chains
// when it is opened: the very hashes the records had when recorded, in the
// one documented form on both engines; new records follow on.
TEST_P(LibraryTest, AVersionTwoLibraryIsChainedWhenOpened) {
  QHash<qint64, QPair<QString, QString>> before;  // id: previous, hash
  {
    TLibrary library;
    Open(library);
    for (const char* name : {"A", "B"}) ASSERT_TRUE(library.AddSite(Site(name, "", "", "")));
    for (int n = 0; n < 5; ++n) {
      TRecord r = MakeRecord(n == 0 ? TRecordKind::Write : TRecordKind::Read, "[Phones]\r\nPhone1=+79161234567\r\n");
      r.Time = QDateTime(QDate(2026, 12, 11), QTime(10, 55, 42, 123), Qt::UTC).addSecs(n);
      r.Operator = n == 0 ? QString("Анна") : QString("op %1").arg(n);
      ASSERT_TRUE(library.AddRecord(n % 2 ? "B" : "A", &r)) << library.Error().toStdString();
    }
    QSqlQuery q(library.Database());
    ASSERT_TRUE(q.exec("SELECT id, previous, hash FROM records ORDER BY id"));
    while (q.next()) before.insert(q.value(0).toLongLong(), {q.value(1).toString(), q.value(2).toString()});
    MakeVersionTwo(library.Database(), GetParam());
  }
  ASSERT_EQ(before.size(), 5);
  // Site 1's first record: SHA-256 of "ostrel-record 1\n1:1\n1:1\n24:2026-12-11T10:55:42.123Z\n8:Анна\n6:laptop\n"
  // "5:write\n7:success\n6:VER 05\n7:ttyUSB0\n31:[Phones]\r\nPhone1=+79161234567\r\n\n0:\n".
  const auto first = std::min_element(before.keyBegin(), before.keyEnd());
  EXPECT_EQ(before.value(*first).first, "");
  EXPECT_EQ(before.value(*first).second, "8470a47240c17dcd24e739cbc9ee7837e917f9dcf8361a6dae38379f45afe0d7");

  TLibrary library;
  Open(library);
  QSqlQuery q(library.Database());
  ASSERT_TRUE(q.exec("SELECT max(version) FROM schema_version") && q.next());
  EXPECT_EQ(q.value(0).toInt(), kLibrarySchemaVersion);
  ASSERT_TRUE(q.exec("SELECT id, previous, hash FROM records ORDER BY id"));
  int rows = 0;
  for (; q.next(); ++rows)
    EXPECT_EQ(before.value(q.value(0).toLongLong()), qMakePair(q.value(1).toString(), q.value(2).toString()))
        << q.value(0).toLongLong();
  EXPECT_EQ(rows, 5);
  auto problems = library.Check();
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->isEmpty()) << problems->join("; ").toStdString();
  EXPECT_FALSE(q.exec("UPDATE records SET outcome = 'refused'"));

  TRecord next = MakeRecord(TRecordKind::Verify, "[Phones]\r\nPhone1=\r\n");
  ASSERT_TRUE(library.AddRecord("A", &next));
  EXPECT_EQ(next.Number, 4);
  ASSERT_TRUE(q.exec("SELECT r.previous FROM records r JOIN sites s ON s.id = r.site_id WHERE s.name = 'A' AND r.number = 4") &&
              q.next());
  EXPECT_EQ(q.value(0).toString(), before.value(*std::max_element(before.keyBegin(), before.keyEnd())).second);
  problems = library.Check();
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->isEmpty()) << problems->join("; ").toStdString();
}

// This binary run again as a writer (see main below), with the library at
// place and the variables given.
void StartWriter(QProcess& writer, const QString& place, const QStringList& variables) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("OSTREL_TEST_WRITER", place);
  for (const QString& variable : variables) env.insert(variable.section('=', 0, 0), variable.section('=', 1));
  writer.setProcessEnvironment(env);
  writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  writer.start(QCoreApplication::applicationFilePath(), {});
}

// The place as a writer is given it: the file, or the URL.
QString PlaceText(const TLibraryPlace& place) {
  return place.Engine == TLibraryPlace::TEngine::SQLite ? place.File : place.Display();
}

// Two programs at once, each appending 200 records to one site and to a
// site of its own: every record is kept and numbered without a gap.
TEST_P(LibraryTest, TwoProgramsAtOnceKeepEveryRecord) {
  {
    TLibrary library;
    Open(library);
    for (const char* name : {"общий", "w0", "w1"}) ASSERT_TRUE(library.AddSite(Site(name, "", "", "")));
  }
  constexpr int kEach = 200;
  QProcess writers[2];
  for (int w = 0; w < 2; ++w)
    StartWriter(writers[w], PlaceText(place_), {QString("OSTREL_TEST_WRITES=%1").arg(kEach), QString("OSTREL_TEST_WRITER_NAME=w%1").arg(w)});
  for (QProcess& writer : writers) {
    ASSERT_TRUE(writer.waitForFinished(240000));
    EXPECT_EQ(writer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(writer.exitCode(), 0);
    EXPECT_EQ(writer.readAllStandardOutput().count('\n'), kEach);
  }
  TLibrary library;
  Open(library);
  const std::vector<TRecord> shared = library.History("общий", true);
  ASSERT_EQ(shared.size(), size_t(kEach));
  QSet<QByteArray> settings;
  for (int i = 0; i < kEach; ++i) {
    EXPECT_EQ(shared[i].Number, i + 1);
    settings.insert(shared[i].Settings);
  }
  // Each program's own half, each record once.
  EXPECT_EQ(settings.size(), kEach);
  for (int w = 0; w < 2; ++w)
    for (int i = 1; i < kEach; i += 2) EXPECT_TRUE(settings.contains(SettingsText(QString::number(w * 1000 + i), "0"))) << w << ' ' << i;
  EXPECT_EQ(library.History("w0").size() + library.History("w1").size(), size_t(kEach));
  // The check follows every site's chain of hashes: the two programs'
  // records of the shared site make one.
  const auto problems = library.Check();
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->isEmpty()) << problems->join("; ").toStdString();
}

// The library goes away in the middle of a program's run of operations
// (the PostgreSQL server stopped, the SQLite file's folder gone) and comes
// back: the operations meanwhile wait in the spool and are stored in order
// once it is back, each once, numbered without a gap.
TEST_P(LibraryTest, TheLibraryGoneMidRunLosesNoRecord) {
  TLibraryPlace place = place_;
  QString pgState;
  auto scratch = [&](const char* action) {
    return QProcess::execute("/bin/bash", {OSTREL_PG_SCRATCH, action, pgState}) == 0;
  };
  if (GetParam() == TEngine::SQLite) {
    ASSERT_TRUE(QDir(dir_.path()).mkpath("lib"));
    place.File = dir_.filePath("lib/library.sqlite");
  } else {
    // A server of this test's own: the shared one serves other tests.
    pgState = dir_.filePath("pg.state");
    ASSERT_TRUE(scratch("start"));
    QFile state(pgState);
    ASSERT_TRUE(state.open(QIODevice::ReadOnly));
    QString why;
    const auto own = ParseLibraryPlace(QString::fromUtf8(state.readLine()).trimmed(), &why);
    ASSERT_TRUE(own) << why.toStdString();
    place = *own;
  }
  struct TStopServer {
    std::function<void()> Stop;
    ~TStopServer() { Stop(); }
  } stopServer{[&] { if (!pgState.isEmpty()) scratch("stop"); }};
  auto away = [&](bool gone) {
    if (GetParam() == TEngine::SQLite)
      return gone ? QDir(dir_.path()).rename("lib", "lib-away") : QDir(dir_.path()).rename("lib-away", "lib");
    return scratch(gone ? "pause" : "resume");
  };

  const QString spoolDir = dir_.filePath("spool");
  QProcess writer;
  StartWriter(writer, PlaceText(place), {"OSTREL_TEST_SPOOL=" + spoolDir});
  ASSERT_TRUE(writer.waitForStarted());
  int written = 0;
  QByteArray said;
  // One operation per line given; the writer answers "stored" or "spooled".
  auto operate = [&](int count) {
    for (int i = 0; i < count; ++i) {
      writer.write("\n");
      ++written;
      while (said.count('\n') < written && writer.waitForReadyRead(60000)) said += writer.readAllStandardOutput();
    }
    return said.count('\n') == written;
  };
  ASSERT_TRUE(operate(20));
  // Going away while operations go on.
  QProcess going;
  if (GetParam() == TEngine::PostgreSQL) {
    going.start("/bin/bash", {OSTREL_PG_SCRATCH, "pause", pgState});
    ASSERT_TRUE(going.waitForStarted());
    while (!going.waitForFinished(1)) ASSERT_TRUE(operate(1));
    ASSERT_EQ(going.exitCode(), 0);
  } else {
    ASSERT_TRUE(away(true));
  }
  ASSERT_TRUE(operate(15));
  ASSERT_TRUE(away(false));
  ASSERT_TRUE(operate(15));
  writer.closeWriteChannel();
  ASSERT_TRUE(writer.waitForFinished(60000));
  const QList<QByteArray> answers = said.trimmed().split('\n');
  ASSERT_EQ(answers.size(), written);
  EXPECT_EQ(answers.front(), "stored");
  EXPECT_EQ(answers[written - 16], "spooled");  // the last while away
  EXPECT_EQ(answers.back(), "stored");         // and the next stored them too
  EXPECT_EQ(TRecordSpool(spoolDir).Count(), 0);

  TLibrary library;
  ASSERT_TRUE(library.Open(place)) << library.Error().toStdString();
  const std::vector<TRecord> history = library.History("склад", true);
  ASSERT_EQ(history.size(), size_t(written));
  for (int i = 0; i < written; ++i) {
    EXPECT_EQ(history[i].Number, i + 1);
    EXPECT_EQ(history[i].Settings, SettingsText(QString::number(i), "1")) << i;
  }
  const auto problems = library.Check();
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->isEmpty()) << problems->join("; ").toStdString();
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
  QProcess writer;
  StartWriter(writer, PlaceText(place_), {});
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

// The writers of the tests above, with the library at OSTREL_TEST_WRITER:
//  - with OSTREL_TEST_SPOOL=DIR, for each line read on standard input one
//    operation recorded as the command line records it (RecordOperation),
//    answering "stored" or "spooled";
//  - with OSTREL_TEST_WRITES=N, N records alternately to the site named by
//    OSTREL_TEST_WRITER_NAME and to "общий";
//  - else records to "цех" until killed.
// One line on standard output per record.
int RunWriter(const QString& text) {
  QString why;
  const auto place = ParseLibraryPlace(text, &why);
  if (!place) return 1;
  if (qEnvironmentVariableIsSet("OSTREL_TEST_SPOOL")) {
    const QString spool = qEnvironmentVariable("OSTREL_TEST_SPOOL");
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly)) return 1;
    for (int n = 0; !in.readLine().isEmpty(); ++n) {
      const QString warning =
          RecordOperation(*place, spool, "склад", MakeRecord(TRecordKind::Write, SettingsText(QString::number(n), "1")));
      std::printf("%s\n", warning.isEmpty() ? "stored" : "spooled");
      std::fflush(stdout);
    }
    return 0;
  }
  TLibrary library;
  if (!library.Open(*place)) return 1;
  const int writes = qEnvironmentVariableIntValue("OSTREL_TEST_WRITES");
  const QString own = qEnvironmentVariable("OSTREL_TEST_WRITER_NAME");
  const int w = own.mid(1).toInt();
  for (int n = 1; writes == 0 || n <= writes; ++n) {
    TRecord r = writes == 0 ? MakeRecord(TRecordKind::Read, SettingsText(QString::number(n), QString(16, 'A')))
                            : MakeRecord(TRecordKind::Read, SettingsText(QString::number(w * 1000 + n - 1), "0"));
    const QString site = writes == 0 ? QString("цех") : (n - 1) % 2 ? QString("общий") : own;
    if (!library.AddRecord(site, &r)) {
      std::fprintf(stderr, "%s\n", qPrintable(library.Error()));
      return 1;
    }
    std::printf("%d\n", r.Number);
    std::fflush(stdout);
  }
  return 0;
}

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (qEnvironmentVariableIsSet("OSTREL_TEST_WRITER")) return RunWriter(qEnvironmentVariable("OSTREL_TEST_WRITER"));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
