// The site library on both engines: SQLite in a temporary file and a scratch
// PostgreSQL 15 server started by the test fixture (scripts/pg_scratch.sh).
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <sys/stat.h>

#include <cstdio>
#include <iterator>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QSet>
#include <functional>
#include <tuple>

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
  r.Outcome = TRecordOutcome::Success;
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
                                "ALTER TABLE records DROP COLUMN code", "ALTER TABLE records DROP COLUMN detail",
                                "UPDATE records SET outcome = 'success'", "UPDATE schema_version SET version = 2"})
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
    // ctest's fixture starts the server, and skips when PostgreSQL is not installed.
    if (url.isEmpty()) GTEST_SKIP() << "no scratch PostgreSQL server: is postgresql-15 installed? (scripts/pg_scratch.sh)";
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
    if (i == 2) r.Outcome = TRecordOutcome::Refused;
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
  EXPECT_EQ(history[2].Outcome, TRecordOutcome::Refused);
  const auto second = library.Record("Склад 1", 2);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Settings, SettingsText("+79161234501", "0123456789ABCDEF"));
  EXPECT_FALSE(library.Record("Склад 1", 5));

  // Archived, never dropped: out of the search, its history whole.
  ASSERT_TRUE(library.ArchiveSite("Склад 1"));
  EXPECT_TRUE(library.Search("склад", 50).empty());
  EXPECT_EQ(library.Search("склад", 50, true).size(), 1u);
  EXPECT_EQ(library.History("Склад 1").size(), 4u);
  // Restored: back in the search, its history and chain as they were.
  ASSERT_TRUE(library.RestoreSite("Склад 1")) << library.Error().toStdString();
  EXPECT_EQ(library.Search("склад", 50).size(), 1u);
  EXPECT_FALSE(library.FindSite("Склад 1")->Archived);
  EXPECT_EQ(library.History("Склад 1").size(), 4u);
  EXPECT_FALSE(library.RestoreSite("Склад 9"));
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

// Phone numbers as installers type them: by their digits, 8 and +7 alike,
// a part of them; keys in any case; other texts as typed.
TEST_P(LibraryTest, SearchFindsPhoneNumbersAsInstallersTypeThem) {
  TLibrary library;
  Open(library);
  ASSERT_TRUE(library.AddSite(Site("Дача", "", "", "")));
  ASSERT_TRUE(library.AddSite(Site("Гараж", "", "", "")));
  ASSERT_TRUE(library.AddSite(Site("Офис", "ул. Лесная 12-14", "обслужено 12.05.2026", "")));
  TRecord dacha = MakeRecord(TRecordKind::Read, SettingsText("+79161999999", "00000000DeadBeef"));
  ASSERT_TRUE(library.AddRecord("Дача", &dacha));
  TRecord garage = MakeRecord(TRecordKind::Read, SettingsText("89035550011", "0123456789ABCDEF"));
  ASSERT_TRUE(library.AddRecord("Гараж", &garage));
  struct TCase {
    const char* Text;
    const char* Found;  // names in order, joined by ","
  };
  const TCase cases[] = {
      {"+7 916 199-99-99", "Дача"},
      {"8 916 199 99 99", "Дача"},
      {"+7 (916) 199-99-99", "Дача"},
      {"8(916)199.99.99", "Дача"},
      {"79161999999", "Дача"},
      {"89161999999", "Дача"},
      {"+79161999999", "Дача"},
      {"916 199", "Дача"},
      {"199-99-99", "Дача"},
      {"+7 903 555-00-11", "Гараж"},  // kept as 8...
      {"8 903 555", "Гараж"},
      {"+7 9", "Гараж,Дача"},
      {"916 199 99 98", ""},
      {"deadbeef", "Дача"},
      {"DEADBEEF", "Дача"},
      {"abcdef", "Гараж"},
      {"12.05", "Офис"},  // not a phone number: as typed, and by its digits
      {"12-14", "Офис"},
  };
  for (const TCase& c : cases) {
    QStringList names;
    for (const TSite& site : library.Search(QString::fromUtf8(c.Text), 50)) names << site.Name;
    EXPECT_EQ(names.join(",").toStdString(), c.Found) << c.Text;
  }
  EXPECT_EQ(library.Search("+7 9", 1).size(), 1u);
  const auto problems = library.Check();
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->isEmpty()) << problems->join("; ").toStdString();
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
    // The terms as version 1 kept them: without the numbers' digits.
    ASSERT_TRUE(q.exec("DELETE FROM site_terms WHERE term IN ('79031112233', '89031112233')"));
    ASSERT_EQ(q.numRowsAffected(), 2);
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
      {"8 903 111-22-33", 1, "Дача"},     // by its digits
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

// Commands that only read open the library without making it: a missing
// file stays missing, an empty database gets no tables; once made, it opens.
TEST_P(LibraryTest, OpeningToReadMakesNoLibrary) {
  auto tables = [&] {
    if (GetParam() == TEngine::SQLite) return QFileInfo::exists(place_.File) ? QString("a file") : QString();
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "probe");
    db.setDatabaseName(place_.Database);
    db.setUserName(place_.User);
    db.setHostName(place_.Host);
    if (place_.Port > 0) db.setPort(place_.Port);
    const QString list = db.open() ? db.tables().join(",") : "cannot open: " + db.lastError().text();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("probe");
    return list;
  };
  {
    TLibrary reader;
    EXPECT_FALSE(reader.Open(place_, TLibraryCreate::Never));
    EXPECT_TRUE(reader.Missing());
    EXPECT_NE(reader.Error().indexOf("there is no library at"), -1) << reader.Error().toStdString();
    EXPECT_EQ(reader.Error().indexOf('\n'), -1);
  }
  EXPECT_EQ(tables(), "");
  if (GetParam() == TEngine::SQLite) {
    // An empty file: its creator has not written the tables yet.
    QFile empty(place_.File);
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    TLibrary reader;
    EXPECT_FALSE(reader.Open(place_, TLibraryCreate::Never));
    EXPECT_TRUE(reader.Missing());
    EXPECT_EQ(QFileInfo(place_.File).size(), 0);
  }
  {
    TLibrary writer;
    Open(writer);
    ASSERT_TRUE(writer.AddSite(Site("Склад", "", "", "")));
  }
  TLibrary reader;
  ASSERT_TRUE(reader.Open(place_, TLibraryCreate::Never)) << reader.Error().toStdString();
  EXPECT_FALSE(reader.Missing());
  EXPECT_TRUE(reader.FindSite("Склад"));
}

// Spool files no library will ever take are set aside, each with one line
// saying why; the good ones beside them are stored; a second sync finds
// nothing left to try.
TEST(RecordSpool, FilesNoLibraryTakesAreSetAside) {
  QTemporaryDir dir;
  TLibraryPlace place;
  place.File = dir.filePath("library.sqlite");
  const QString spoolDir = dir.filePath("spool");
  TRecordSpool spool(spoolDir);
  QString error;
  ASSERT_TRUE(spool.Put(place.Identity(), "Склад", MakeRecord(TRecordKind::Read, SettingsText("+79161112233", "1")), &error));
  // A good record rewritten field by field.
  const QString good = spoolDir + '/' + QDir(spoolDir).entryList(QDir::Files).front();
  QFile goodFile(good);
  ASSERT_TRUE(goodFile.open(QIODevice::ReadOnly));
  const QJsonObject record = QJsonDocument::fromJson(goodFile.readAll()).object();
  struct TCase {
    const char* Name;
    QByteArray Bytes;
    const char* Why;  // a part of the line that says why
  };
  auto with = [&](const char* key, const QJsonValue& value) {
    QJsonObject changed = record;
    changed["uid"] = QUuid::createUuid().toString(QUuid::WithoutBraces);
    changed[key] = value;
    return QJsonDocument(changed).toJson(QJsonDocument::Compact);
  };
  const TCase cases[] = {
      {"not-json", "{\"site\": \"Склад\", \"uid\"", "not a record"},
      {"an-array", "[1, 2]", "not a record"},
      {"no-uid", with("uid", QJsonValue()), "no uid"},
      {"refused-name", with("site", QString(201, 'x')), "refuses its site name"},
      {"control-in-name", with("site", "a\nb"), "refuses its site name"},
      {"bad-time", with("time", "yesterday"), "not a time"},
      {"no-time", with("time", QJsonValue()), "not a time"},
      {"unknown-kind", with("kind", "erase"), "kind is unknown"},
      {"raw-settings", with("settings", "\x01\x02 binary junk"), "not a settings file"},
      {"empty-settings", with("settings", ""), "not a settings file"},
      {"library-not-a-text", with("library", 5), "library it waits for is not named"},
      {"library-empty", with("library", ""), "library it waits for is not named"},
  };
  for (const TCase& c : cases) {
    QFile f(spoolDir + QStringLiteral("/0-%1.record").arg(c.Name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(c.Bytes);
  }
  ASSERT_EQ(spool.Count(), 1 + int(std::size(cases)));

  TLibrary library;
  ASSERT_TRUE(library.Open(place));
  error.clear();
  EXPECT_EQ(spool.Sync(library, &error), 1);
  EXPECT_NE(error.indexOf("set aside"), -1) << error.toStdString();
  EXPECT_EQ(spool.Count(), 0);
  EXPECT_EQ(spool.Quarantined(), int(std::size(cases)));
  for (const TCase& c : cases) {
    QFile why(spool.QuarantineDir() + QStringLiteral("/0-%1.record.why").arg(c.Name));
    ASSERT_TRUE(why.open(QIODevice::ReadOnly)) << c.Name;
    const QByteArray line = why.readAll();
    EXPECT_EQ(line.count('\n'), 1) << c.Name;
    EXPECT_NE(line.indexOf(c.Why), -1) << c.Name << ": " << line.toStdString();
    EXPECT_TRUE(QFileInfo::exists(spool.QuarantineDir() + QStringLiteral("/0-%1.record").arg(c.Name))) << c.Name;
  }
  struct stat st {};
  ASSERT_EQ(stat(QFile::encodeName(spool.QuarantineDir()).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(library.History("Склад").size(), 1u);
  EXPECT_EQ(library.Search("+79161112233", 10).size(), 1u);
  // Nothing is tried again, nothing stored twice.
  error.clear();
  EXPECT_EQ(spool.Sync(library, &error), 0);
  EXPECT_TRUE(error.isEmpty()) << error.toStdString();
  EXPECT_EQ(spool.Quarantined(), int(std::size(cases)));
}

// A spooled record keeps its outcome's code and detail; one spooled by an
// older program, its outcome a sentence, is stored with the sentence's code.
TEST(RecordSpool, OutcomesKeepTheirCodes) {
  QTemporaryDir dir;
  TLibraryPlace place;
  place.File = dir.filePath("library.sqlite");
  TRecordSpool spool(dir.filePath("spool"));
  QString error;
  TRecord kept = MakeRecord(TRecordKind::Verify, SettingsText("+79161112233", "1"));
  kept.Outcome = TRecordOutcome::NotKept;
  kept.Detail = "[Phones] Phone1";
  ASSERT_TRUE(spool.Put(place.Identity(), "Склад", kept, &error)) << error.toStdString();
  TRecord older = MakeRecord(TRecordKind::Write, SettingsText("+79161112233", "1"));
  older.Outcome = TRecordOutcome::Refused;
  ASSERT_TRUE(spool.Put(place.Identity(), "Склад", older, &error)) << error.toStdString();
  // The second file as an older program wrote it.
  const QStringList files = QDir(spool.Dir()).entryList(QDir::Files, QDir::Name);
  ASSERT_EQ(files.size(), 2);
  QFile file(spool.Dir() + '/' + files[1]);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
  file.close();
  json.remove("detail");
  json["outcome"] = "the panel refused";
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(QJsonDocument(json).toJson());
  file.close();

  TLibrary library;
  ASSERT_TRUE(library.Open(place));
  EXPECT_EQ(spool.Sync(library, &error), 2) << error.toStdString();
  const std::vector<TRecord> history = library.History("Склад");
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].Outcome, TRecordOutcome::NotKept);
  EXPECT_EQ(history[0].Detail, "[Phones] Phone1");
  EXPECT_EQ(history[1].Outcome, TRecordOutcome::Refused);
  EXPECT_EQ(history[1].Detail, "");
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
  ASSERT_TRUE(q.exec(QString("SELECT %1, previous FROM records WHERE number = 2").arg(LibrarySql::kCodedChainColumns) +
                     of.arg("D")) &&
              q.next());
  QStringList content;
  for (int i = 0; i < LibrarySql::kCodedChainValues; ++i) content << q.value(i).toString();
  const QString hash = LibrarySql::RecordHash(content, q.value(LibrarySql::kCodedChainValues).toString());
  q.finish();
  ASSERT_TRUE(q.exec(QString("UPDATE records SET hash = '%1' WHERE number = 2").arg(hash) + of.arg("D")));

  problems = library.Check();
  ASSERT_TRUE(problems);
  const QStringList named = problems->filter(QRegularExpression("^site "));
  EXPECT_EQ(named.size(), 4) << problems->join("; ").toStdString();
  for (const char* expected : {"site A: record 2 ", "site B: record 3 ", "site C: record 1 ", "site D: record 3 "})
    EXPECT_EQ(named.filter(QString(expected)).size(), 1) << expected << " in " << problems->join("; ").toStdString();
}

// A library of schema version 2 (records without a chain, outcomes as
// sentences) gets its chains when it is opened: the hashes of the first form,
// documented, the same on both engines; new records follow on.
TEST_P(LibraryTest, AVersionTwoLibraryIsChainedWhenOpened) {
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
    MakeVersionTwo(library.Database(), GetParam());
  }
  TLibrary library;
  Open(library);
  QSqlQuery q(library.Database());
  ASSERT_TRUE(q.exec("SELECT max(version) FROM schema_version") && q.next());
  EXPECT_EQ(q.value(0).toInt(), kLibrarySchemaVersion);
  QHash<qint64, QPair<QString, QString>> chained;  // id: previous, hash
  ASSERT_TRUE(q.exec("SELECT id, previous, hash FROM records ORDER BY id"));
  while (q.next()) chained.insert(q.value(0).toLongLong(), {q.value(1).toString(), q.value(2).toString()});
  ASSERT_EQ(chained.size(), 5);
  // Site 1's first record: SHA-256 of "ostrel-record 1\n1:1\n1:1\n24:2026-12-11T10:55:42.123Z\n8:Анна\n6:laptop\n"
  // "5:write\n7:success\n6:VER 05\n7:ttyUSB0\n31:[Phones]\r\nPhone1=+79161234567\r\n\n0:\n".
  const auto first = std::min_element(chained.keyBegin(), chained.keyEnd());
  EXPECT_EQ(chained.value(*first).first, "");
  EXPECT_EQ(chained.value(*first).second, "8470a47240c17dcd24e739cbc9ee7837e917f9dcf8361a6dae38379f45afe0d7");
  EXPECT_EQ(library.History("A").front().Outcome, TRecordOutcome::Success);
  auto problems = library.Check();
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->isEmpty()) << problems->join("; ").toStdString();
  EXPECT_FALSE(q.exec("UPDATE records SET outcome = 'refused'"));

  TRecord next = MakeRecord(TRecordKind::Verify, "[Phones]\r\nPhone1=\r\n");
  ASSERT_TRUE(library.AddRecord("A", &next));
  EXPECT_EQ(next.Number, 4);
  ASSERT_TRUE(q.exec("SELECT r.previous FROM records r JOIN sites s ON s.id = r.site_id WHERE s.name = 'A' AND r.number = 4") &&
              q.next());
  EXPECT_EQ(q.value(0).toString(), chained.value(*std::max_element(chained.keyBegin(), chained.keyEnd())).second);
  problems = library.Check();
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->isEmpty()) << problems->join("; ").toStdString();
}

// The library as a program of schema version 4 left it: each record's
// outcome a sentence (sentences[i] for the i-th record by id), covered by a
// hash of the first form; no codes.
void MakeVersionFour(QSqlDatabase db, TEngine engine, const QStringList& sentences) {
  DropTriggers(db, engine);
  QSqlQuery q(db);
  for (const char* statement : {"ALTER TABLE records DROP COLUMN code", "ALTER TABLE records DROP COLUMN detail",
                                "UPDATE schema_version SET version = 4"})
    ASSERT_TRUE(q.exec(statement)) << statement << ": " << q.lastError().text().toStdString();
  std::vector<qint64> ids;
  ASSERT_TRUE(q.exec("SELECT id FROM records ORDER BY id"));
  while (q.next()) ids.push_back(q.value(0).toLongLong());
  ASSERT_EQ(ids.size(), size_t(sentences.size()));
  for (size_t i = 0; i < ids.size(); ++i) {
    q.prepare("UPDATE records SET outcome = ? WHERE id = ?");
    q.addBindValue(sentences[int(i)]);
    q.addBindValue(ids[i]);
    ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
  }
  // The chains again, of the first form, as a program of version 4 made them.
  QHash<qint64, QString> last;
  std::vector<std::tuple<qint64, QString, QString>> chain;
  ASSERT_TRUE(q.exec(QString("SELECT id, %1 FROM records ORDER BY site_id, number").arg(LibrarySql::kChainColumns)));
  while (q.next()) {
    QStringList content;
    for (int i = 1; i <= LibrarySql::kChainValues; ++i) content << q.value(i).toString();
    const qint64 site = content[0].toLongLong();
    const QString hash = LibrarySql::RecordHash(content, last.value(site));
    chain.emplace_back(q.value(0).toLongLong(), last.value(site), hash);
    last.insert(site, hash);
  }
  for (const auto& [id, previous, hash] : chain) {
    q.prepare("UPDATE records SET previous = ?, hash = ? WHERE id = ?");
    q.addBindValue(previous.isNull() ? QString("") : previous);
    q.addBindValue(hash);
    q.addBindValue(id);
    ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
  }
}

// A library of schema version 4 gets its outcomes as codes when it is
// opened, every sentence kept (one the program never wrote as the detail of
// "unknown"); its chains still check, and so do the records added since;
// a code changed behind the program's back is named, old record or new.
TEST_P(LibraryTest, AVersionFourLibraryGetsOutcomeCodes) {
  struct TCase {
    const char* Sentence;
    TRecordOutcome Outcome;
    const char* Detail;
  };
  const TCase cases[] = {
      {"success", TRecordOutcome::Success, ""},
      {"the panel did not confirm", TRecordOutcome::FailedRequest, ""},
      {"the panel refused", TRecordOutcome::Refused, ""},
      {"the link to the panel was lost", TRecordOutcome::LinkLost, ""},
      {"interrupted", TRecordOutcome::Interrupted, ""},
      {"the backup file was not saved", TRecordOutcome::NotSaved, ""},
      {"the panel did not keep: [Phones] Phone3, [Keys] Key1", TRecordOutcome::NotKept, "[Phones] Phone3, [Keys] Key1"},
      {"same as the pages", TRecordOutcome::Same, "the pages"},
      {"same as /tmp/a b.ini", TRecordOutcome::Same, "/tmp/a b.ini"},
      {"3 settings differ from a.ini", TRecordOutcome::Different, "3 settings differ from a.ini"},
      {"imported from Склад.ini", TRecordOutcome::Imported, "Склад.ini"},
      {"the panel exploded", TRecordOutcome::Unknown, "the panel exploded"},
      {"", TRecordOutcome::Unknown, ""},
      {"refused", TRecordOutcome::Unknown, "refused"},
  };
  const int n = int(std::size(cases));
  QStringList sentences;
  {
    TLibrary library;
    Open(library);
    for (const char* name : {"A", "B"}) ASSERT_TRUE(library.AddSite(Site(name, "", "", "")));
    for (int i = 0; i < n; ++i) {
      TRecord r = MakeRecord(TRecordKind::Read, SettingsText(QString("+7916000%1").arg(i), "1"));
      ASSERT_TRUE(library.AddRecord(i % 2 ? "B" : "A", &r)) << library.Error().toStdString();
      sentences << cases[i].Sentence;
    }
    MakeVersionFour(library.Database(), GetParam(), sentences);
  }
  TLibrary library;
  Open(library);
  std::vector<TRecord> a = library.History("A"), b = library.History("B");
  ASSERT_EQ(int(a.size() + b.size()), n);
  for (int i = 0; i < n; ++i) {
    const TRecord& r = (i % 2 ? b : a)[i / 2];
    EXPECT_EQ(OutcomeCode(r.Outcome), OutcomeCode(cases[i].Outcome)) << cases[i].Sentence;
    EXPECT_EQ(r.Detail, cases[i].Detail) << cases[i].Sentence;
  }
  auto problems = library.Check();
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->isEmpty()) << problems->join("; ").toStdString();
  QSqlQuery q(library.Database());
  EXPECT_FALSE(q.exec("UPDATE records SET code = 'success'"));
  // The sentences stay as they were recorded.
  ASSERT_TRUE(q.exec("SELECT outcome FROM records ORDER BY id"));
  QStringList kept;
  while (q.next()) kept << q.value(0).toString();
  EXPECT_EQ(kept, sentences);
  q.finish();

  TRecord next = MakeRecord(TRecordKind::Write, SettingsText("+79160000099", "1"));
  next.Outcome = TRecordOutcome::NotKept;
  next.Detail = "[Phones] Phone1";
  ASSERT_TRUE(library.AddRecord("A", &next));
  EXPECT_EQ(library.History("A").back().Outcome, TRecordOutcome::NotKept);
  EXPECT_EQ(library.History("A").back().Detail, "[Phones] Phone1");
  problems = library.Check();
  ASSERT_TRUE(problems);
  EXPECT_TRUE(problems->isEmpty()) << problems->join("; ").toStdString();

  DropTriggers(library.Database(), GetParam());
  const QString of = " AND site_id = (SELECT id FROM sites WHERE name = '%1')";
  ASSERT_TRUE(q.exec("UPDATE records SET code = 'success' WHERE number = 2" + of.arg("A")));  // "the panel refused"
  ASSERT_TRUE(q.exec("UPDATE records SET detail = 'x' WHERE number = 1" + of.arg("B")));    // "the panel did not confirm"
  ASSERT_TRUE(q.exec(QString("UPDATE records SET code = 'success' WHERE number = %1").arg(next.Number) + of.arg("A")));
  problems = library.Check();
  ASSERT_TRUE(problems);
  const QStringList named = problems->filter(QRegularExpression("^site "));
  // A's chain breaks at its first change; B's at its own.
  EXPECT_EQ(named.size(), 2) << problems->join("; ").toStdString();
  EXPECT_EQ(named.filter("site A: record 2 ").size(), 1) << problems->join("; ").toStdString();
  EXPECT_EQ(named.filter("site B: record 1 ").size(), 1) << problems->join("; ").toStdString();
  ASSERT_TRUE(q.exec("UPDATE records SET code = 'exploded' WHERE number = 3" + of.arg("B")));
  problems = library.Check();
  ASSERT_TRUE(problems);
  EXPECT_EQ(problems->filter("outcome is no known code").size(), 1) << problems->join("; ").toStdString();
}

// A record's hash, of the second form, is the documented one on both
// engines: a script can check a chain without this program.
TEST_P(LibraryTest, ARecordsHashCoversItsOutcomeCode) {
  TLibrary library;
  Open(library);
  ASSERT_TRUE(library.AddSite(Site("A", "", "", "")));
  TRecord r = MakeRecord(TRecordKind::Write, "[Phones]\r\nPhone1=+79161234567\r\n");
  r.Time = QDateTime(QDate(2026, 12, 11), QTime(10, 55, 42, 123), Qt::UTC);
  r.Operator = "Анна";
  r.Outcome = TRecordOutcome::NotKept;
  r.Detail = "[Phones] Phone1";
  ASSERT_TRUE(library.AddRecord("A", &r)) << library.Error().toStdString();
  QSqlQuery q(library.Database());
  ASSERT_TRUE(q.exec("SELECT site_id, outcome, code, detail, hash FROM records") && q.next());
  ASSERT_EQ(q.value(0).toLongLong(), 1);
  EXPECT_EQ(q.value(1).toString(), "");
  EXPECT_EQ(q.value(2).toString(), "not-kept");
  EXPECT_EQ(q.value(3).toString(), "[Phones] Phone1");
  // SHA-256 of "ostrel-record 2\n1:1\n1:1\n24:2026-12-11T10:55:42.123Z\n8:Анна\n6:laptop\n5:write\n0:\n"
  // "6:VER 05\n7:ttyUSB0\n31:[Phones]\r\nPhone1=+79161234567\r\n\n8:not-kept\n15:[Phones] Phone1\n0:\n".
  EXPECT_EQ(q.value(4).toString(), "6997bf18c23ab244e9a26b4eb059e39ed8a6b7a276da2ef946f1283d7c9b2912");
}

// The engines' own codes tell a key taken and a database held by another
// program apart, whatever language the server's messages are in.
TEST_P(LibraryTest, FaultsAreToldByTheirCodes) {
  TLibrary library;
  Open(library);
  const bool sqlite = GetParam() == TEngine::SQLite;
  QSqlQuery q(library.Database());
  ASSERT_TRUE(q.exec("INSERT INTO sites (name, created, changed) VALUES ('A', 'now', 'now')"));
  EXPECT_FALSE(q.exec("INSERT INTO sites (name, created, changed) VALUES ('A', 'now', 'now')"));
  EXPECT_EQ(int(LibrarySql::FaultOf(q.lastError(), sqlite)), int(LibrarySql::TDbFault::Unique))
      << q.lastError().nativeErrorCode().toStdString();
  EXPECT_FALSE(q.exec("INSERT INTO records (uid) VALUES ('x')"));
  EXPECT_EQ(int(LibrarySql::FaultOf(q.lastError(), sqlite)), int(LibrarySql::TDbFault::Other))
      << q.lastError().nativeErrorCode().toStdString();
  if (!sqlite) return;
  // Another program holds the write lock; this one does not wait.
  QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "faults-other");
  {
    other.setDatabaseName(place_.File);
    other.setConnectOptions("QSQLITE_BUSY_TIMEOUT=0");
    ASSERT_TRUE(other.open());
    QSqlQuery holder(library.Database());
    ASSERT_TRUE(holder.exec("BEGIN IMMEDIATE"));
    QSqlQuery blocked(other);
    EXPECT_FALSE(blocked.exec("BEGIN IMMEDIATE"));
    EXPECT_EQ(int(LibrarySql::FaultOf(blocked.lastError(), sqlite)), int(LibrarySql::TDbFault::Busy))
        << blocked.lastError().nativeErrorCode().toStdString();
    ASSERT_TRUE(holder.exec("ROLLBACK"));
    other.close();
  }
  other = QSqlDatabase();
  QSqlDatabase::removeDatabase("faults-other");
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
  return place.Url();
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

// The library away (a database not made yet, a file in a folder not made
// yet): the records wait in the spool for it alone, another library takes
// none of them, and they are stored, once each, when it is there, also
// after a crash between storing a record and removing its file.
TEST_P(LibraryTest, RecordsWaitForTheirOwnLibraryWhileItIsAway) {
  TLibraryPlace away = place_;
  if (GetParam() == TEngine::SQLite) away.File = dir_.filePath("later/library.sqlite");
  else away.Database = "later_" + QUuid::createUuid().toString(QUuid::Id128).left(12);
  auto server = [&](const QString& statement) {
    TLibrary admin;
    Open(admin);
    QSqlQuery q(admin.Database());
    ASSERT_TRUE(q.exec(statement)) << q.lastError().text().toStdString();
  };
  struct TDrop {
    std::function<void()> Drop;
    ~TDrop() { Drop(); }
  } drop{[&] { if (GetParam() == TEngine::PostgreSQL) server("DROP DATABASE IF EXISTS " + away.Database); }};
  const QString spoolDir = dir_.filePath("spool");
  for (int i = 0; i < 3; ++i) {
    const QString warning =
        RecordOperation(away, spoolDir, "Склад", MakeRecord(TRecordKind::Write, SettingsText(QString::number(i), "1")));
    EXPECT_NE(warning.indexOf("library sync"), -1) << warning.toStdString();
    EXPECT_EQ(warning.indexOf('\n'), -1);
  }
  TRecordSpool spool(spoolDir);
  ASSERT_EQ(spool.Count(), 3);
  EXPECT_EQ(spool.Destinations(), (QMap<QString, int>{{away.Identity(), 3}}));
  struct stat st {};
  ASSERT_EQ(stat(QFile::encodeName(spoolDir).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A copy of a spooled file stands for one stored and not yet removed.
  const QString first = spoolDir + '/' + QDir(spoolDir).entryList(QDir::Files, QDir::Name).front();
  ASSERT_TRUE(QFile::copy(first, first + ".keep"));

  // Another library stores its own record and none of them.
  const TRecorded other = RecordOperations(place_, spool, "Склад", {MakeRecord(TRecordKind::Read, SettingsText("9", "1"))});
  EXPECT_EQ(other.Where, TRecorded::TWhere::Stored) << other.Warning.toStdString();
  EXPECT_EQ(other.ForOthers, 3);
  EXPECT_EQ(spool.Count(), 3);
  {
    TLibrary library;
    Open(library);
    ASSERT_EQ(library.History("Склад", true).size(), 1u);
    EXPECT_EQ(library.History("Склад", true).front().Settings, SettingsText("9", "1"));
  }

  // There: the next operation stores the waiting ones first, then its own.
  if (GetParam() == TEngine::SQLite) ASSERT_TRUE(QDir(dir_.path()).mkpath("later"));
  else server("CREATE DATABASE " + away.Database);
  const QString back = RecordOperation(away, spoolDir, "Склад", MakeRecord(TRecordKind::Verify, SettingsText("3", "1")));
  EXPECT_TRUE(back.isEmpty()) << back.toStdString();
  EXPECT_EQ(spool.Count(), 0);
  ASSERT_TRUE(QFile::rename(first + ".keep", first));
  TLibrary library;
  ASSERT_TRUE(library.Open(away)) << library.Error().toStdString();
  QString error;
  // Taken as stored and removed, kept once.
  EXPECT_EQ(spool.Sync(library, &error), 1) << error.toStdString();
  EXPECT_EQ(spool.Count(), 0);
  const std::vector<TRecord> history = library.History("Склад", true);
  ASSERT_EQ(history.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(history[i].Settings, SettingsText(QString::number(i), "1"));
  EXPECT_EQ(history[3].Kind, TRecordKind::Verify);
}

// Two, then four programs creating one new SQLite file at once, each
// recording as the command line records: every record is stored, none
// spooled.
TEST_P(LibraryTest, ProgramsCreatingOneLibraryAtOnceStoreEverything) {
  if (GetParam() == TEngine::PostgreSQL) {
    // A database's tables made at once by several programs: the same rule.
    TLibrary cleaner;
    Open(cleaner);
    QSqlQuery q(cleaner.Database());
    ASSERT_TRUE(q.exec("DROP TABLE IF EXISTS site_grams, site_terms, records, sites, schema_version"));
  }
  int round = 0, stored = 0;
  // A few rounds: the programs' race is not the same every time.
  for (const int programs : {2, 4, 4, 4}) {
    ++round;
    TLibraryPlace place = place_;
    if (GetParam() == TEngine::SQLite) place.File = dir_.filePath(QStringLiteral("new-%1.sqlite").arg(round));
    const QString spoolDir = dir_.filePath(QStringLiteral("spool-%1").arg(round));
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int w = 0; w < programs; ++w) {
      writers.push_back(std::make_unique<QProcess>());
      StartWriter(*writers.back(), PlaceText(place), {"OSTREL_TEST_SPOOL=" + spoolDir, "OSTREL_TEST_READY=1"});
    }
    for (auto& writer : writers) {
      ASSERT_TRUE(writer->waitForStarted());
      QByteArray ready;
      while (!ready.endsWith('\n') && writer->waitForReadyRead(30000)) ready += writer->readLine();
      ASSERT_EQ(ready, "ready\n");
    }
    // Each starts its library at the same line, and ends after it.
    for (auto& writer : writers) {
      writer->write("\n");
      writer->closeWriteChannel();
      // Handed over now, not when the writer is next waited for.
      writer->waitForBytesWritten(30000);
    }
    for (auto& writer : writers) {
      ASSERT_TRUE(writer->waitForFinished(60000));
      EXPECT_EQ(writer->readAllStandardOutput(), "stored\n");
    }
    EXPECT_EQ(TRecordSpool(spoolDir).Count(), 0);
    TLibrary library;
    ASSERT_TRUE(library.Open(place)) << library.Error().toStdString();
    // The database's tables were made by the first round.
    stored += programs;
    EXPECT_EQ(library.History("склад").size(), size_t(GetParam() == TEngine::SQLite ? programs : stored));
  }
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

// The scratch server's database, emptied, or nothing without one.
std::optional<TLibraryPlace> ScratchPg() {
  QString why;
  const auto place = ParseLibraryPlace(PgUrl(), &why);
  if (!place) return std::nullopt;
  TLibrary cleaner;
  if (!cleaner.Open(*place)) return std::nullopt;
  QSqlQuery q(cleaner.Database());
  if (!q.exec("DROP TABLE IF EXISTS site_grams, site_terms, records, sites, schema_version")) return std::nullopt;
  return place;
}

// A record spooled for library A never reaches library B, whatever the two
// engines, nor does one an earlier version spooled (no library noted, taken
// as the default library's); B says how many wait for others, and A takes
// its own when it opens.
TEST(RecordSpool, ARecordSpooledForOneLibraryNeverReachesAnother) {
  QTemporaryDir dir;
  const auto pg = ScratchPg();
  struct TRow {
    const char* Name;
    TEngine A, B;
    bool Legacy;
  } const rows[] = {
      {"sqlite-to-other-sqlite", TEngine::SQLite, TEngine::SQLite, false},
      {"postgresql-to-sqlite", TEngine::PostgreSQL, TEngine::SQLite, false},
      {"sqlite-to-postgresql", TEngine::SQLite, TEngine::PostgreSQL, false},
      {"earlier-version-to-other-sqlite", TEngine::SQLite, TEngine::SQLite, true},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Name);
    if ((row.A == TEngine::PostgreSQL || row.B == TEngine::PostgreSQL) && !pg) {
      std::printf("%s: skipped, no scratch PostgreSQL server\n", row.Name);
      continue;
    }
    auto placeOf = [&](TEngine engine, const char* file) {
      if (engine == TEngine::PostgreSQL) return *ScratchPg();
      TLibraryPlace place;
      place.File = dir.filePath(QStringLiteral("%1-%2").arg(row.Name, file));
      return place;
    };
    const TLibraryPlace a = placeOf(row.A, "a.sqlite"), b = placeOf(row.B, "b.sqlite");
    ASSERT_NE(a.Identity(), b.Identity());
    const QString spoolDir = dir.filePath(QStringLiteral("spool-%1").arg(row.Name));
    TRecordSpool spool(spoolDir, row.Legacy ? a.Identity() : QString());
    QString error;
    ASSERT_TRUE(spool.Put(a.Identity(), "Склад", MakeRecord(TRecordKind::Read, SettingsText("+79161112233", "1")), &error));
    if (row.Legacy) {
      // As an earlier version wrote it: no library.
      const QString file = spoolDir + '/' + QDir(spoolDir).entryList(QDir::Files).front();
      QFile f(file);
      ASSERT_TRUE(f.open(QIODevice::ReadOnly));
      QJsonObject json = QJsonDocument::fromJson(f.readAll()).object();
      f.close();
      json.remove("library");
      ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write(QJsonDocument(json).toJson());
      f.close();
      EXPECT_EQ(spool.Legacy(), 1);
    }
    const QMap<QString, int> waiting{{a.Identity(), 1}};
    EXPECT_EQ(spool.Destinations(), waiting);

    // B records an operation and syncs: A's record stays where it is.
    const TRecorded recorded =
        RecordOperations(b, spool, "Офис", {MakeRecord(TRecordKind::Write, SettingsText("+79160000000", "2"))});
    EXPECT_EQ(recorded.Where, TRecorded::TWhere::Stored) << recorded.Warning.toStdString();
    EXPECT_EQ(recorded.ForOthers, 1);
    {
      TLibrary library;
      ASSERT_TRUE(library.Open(b)) << library.Error().toStdString();
      EXPECT_EQ(spool.Sync(library, &error), 0);
      EXPECT_FALSE(library.FindSite("Склад"));
      EXPECT_TRUE(library.Search("+79161112233", 10).empty());
      EXPECT_EQ(library.History("Офис").size(), 1u);
    }
    EXPECT_EQ(spool.Destinations(), waiting);

    // A takes it.
    TLibrary library;
    ASSERT_TRUE(library.Open(a)) << library.Error().toStdString();
    EXPECT_EQ(spool.Sync(library, &error), 1) << error.toStdString();
    EXPECT_EQ(spool.Count(), 0);
    EXPECT_EQ(library.History("Склад").size(), 1u);
    EXPECT_FALSE(library.FindSite("Офис"));
  }
}

// A place's identity is the same however the place is written, and differs
// for another library.
TEST(LibraryPlace, TheIdentityIsTheSameHoweverThePlaceIsWritten) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkpath("sub"));
  QString why;
  auto identity = [&why](const QString& text) {
    const auto place = ParseLibraryPlace(text, &why);
    return place ? place->Identity() : "refused: " + why;
  };
  ASSERT_TRUE(QFile::link(dir.filePath("sub"), dir.filePath("link")));
  const QString canonical = QFileInfo(dir.path()).canonicalFilePath() + "/sub/l.sqlite";
  EXPECT_EQ(identity(dir.filePath("sub/l.sqlite")), canonical);
  EXPECT_EQ(identity(dir.filePath("sub/../sub/./l.sqlite")), canonical);
  EXPECT_EQ(identity(dir.filePath("link/l.sqlite")), canonical);
  EXPECT_NE(identity(dir.filePath("sub/m.sqlite")), canonical);
  EXPECT_EQ(identity("postgresql://anna@DB.example/sites?sslmode=verify-full&application_name=x"),
            "postgresql://anna@db.example:5432/sites");
  EXPECT_EQ(identity("postgres://anna@db.example:5432/sites"), "postgresql://anna@db.example:5432/sites");
  EXPECT_NE(identity("postgresql://anna@db.example/other"), identity("postgresql://anna@db.example/sites"));
  EXPECT_EQ(identity("postgresql://anna@/sites?host=/run/pg/"), "postgresql://anna@:5432/sites?host=/run/pg");
  // What the URL leaves out, as libpq takes it.
  qputenv("PGUSER", "boris");
  qputenv("PGPORT", "6543");
  EXPECT_EQ(identity("postgresql://db.example/sites"), "postgresql://boris@db.example:6543/sites");
  qunsetenv("PGUSER");
  qunsetenv("PGPORT");
}

// After the panel's last answer the library gets a budget, whatever its
// state: the call ends with the record spooled while the library is still
// held up (a locked SQLite file, a frozen PostgreSQL server, a server that
// never answers, a host that drops packets), and the work left behind
// stores nothing afterwards: the record is stored once, by the next sync.
TEST(LibraryBudget, APanelOperationNeverWaitsForTheLibrary) {
  QTemporaryDir dir;
  constexpr std::chrono::milliseconds kBudget{300};
  struct TRow {
    const char* Name;
    // Holds the library up; gives the place, and what lets it go again.
    std::function<std::optional<TLibraryPlace>(std::function<void()>* release)> HoldUp;
    bool Synced;  // the library can take the record afterwards
  };
  std::vector<int> sockets;
  const std::vector<TRow> rows = {
      {"a locked SQLite file",
       [&](std::function<void()>* release) -> std::optional<TLibraryPlace> {
         TLibraryPlace place;
         place.File = dir.filePath("locked.sqlite");
         auto holder = std::make_shared<TLibrary>();
         if (!holder->Open(place)) return std::nullopt;
         QSqlQuery(holder->Database()).exec("BEGIN IMMEDIATE");
         *release = [holder] { QSqlQuery(holder->Database()).exec("ROLLBACK"); };
         return place;
       },
       true},
      {"a frozen PostgreSQL server",
       [&](std::function<void()>* release) -> std::optional<TLibraryPlace> {
         const auto place = ScratchPg();
         QFile state(qEnvironmentVariable("OSTREL_TEST_PG_STATE"));
         if (!place || !state.open(QIODevice::ReadOnly)) return std::nullopt;
         state.readLine();
         QFile pidFile(QString::fromUtf8(state.readLine()).trimmed() + "/data/postmaster.pid");
         if (!pidFile.open(QIODevice::ReadOnly)) return std::nullopt;
         const pid_t pid = pid_t(pidFile.readLine().trimmed().toInt());
         if (pid <= 0 || kill(pid, SIGSTOP) != 0) return std::nullopt;
         *release = [pid] { kill(pid, SIGCONT); };
         return place;
       },
       true},
      {"a server that never answers",
       [&](std::function<void()>*) -> std::optional<TLibraryPlace> {
         // Listening, never accepting: the kernel takes the connection, no one answers.
         const int silent = socket(AF_INET, SOCK_STREAM, 0);
         sockets.push_back(silent);
         sockaddr_in address{};
         address.sin_family = AF_INET;
         address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
         socklen_t size = sizeof address;
         if (silent < 0 || bind(silent, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(silent, 8) != 0 ||
             getsockname(silent, reinterpret_cast<sockaddr*>(&address), &size) != 0)
           return std::nullopt;
         QString why;
         return ParseLibraryPlace(QStringLiteral("postgresql://ostrel@127.0.0.1:%1/library").arg(ntohs(address.sin_port)), &why);
       },
       false},
      {"a host that drops packets",
       [&](std::function<void()>*) -> std::optional<TLibraryPlace> {
         // A port whose queue of connections is full and never accepted
         // from: the kernel drops every further SYN, as a firewall would.
         const int listener = socket(AF_INET, SOCK_STREAM, 0);
         sockaddr_in address{};
         address.sin_family = AF_INET;
         address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
         socklen_t size = sizeof address;
         if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
             listen(listener, 0) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
           return std::nullopt;
         sockets.push_back(listener);
         for (int i = 0; i < 2; ++i) {
           const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
           ::connect(filler, reinterpret_cast<sockaddr*>(&address), size);
           sockets.push_back(filler);
         }
         QString why;
         return ParseLibraryPlace(QStringLiteral("postgresql://ostrel@127.0.0.1:%1/library").arg(ntohs(address.sin_port)), &why);
       },
       false},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Name);
    std::function<void()> release = [] {};
    const auto place = row.HoldUp(&release);
    if (!place) {
      std::printf("%s: skipped, cannot be set up here\n", row.Name);
      continue;
    }
    const QString spoolDir = dir.filePath(QStringLiteral("spool-%1").arg(row.Name));
    TRecord record = MakeRecord(TRecordKind::Write, SettingsText("+79161112233", "1"));
    record.Uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const TRecorded recorded = RecordOperations(*place, TRecordSpool(spoolDir), "Склад", {record}, kBudget);
    // Ended while the library is still held up: it cannot have been stored.
    release();
    EXPECT_EQ(recorded.Where, TRecorded::TWhere::Spooled);
    EXPECT_EQ(recorded.Warning.indexOf('\n'), -1);
    EXPECT_NE(recorded.Warning.indexOf("library sync"), -1) << recorded.Warning.toStdString();
    WaitForLibraryWork();
    EXPECT_FALSE(LibraryWorkLeft());
    TRecordSpool spool(spoolDir);
    EXPECT_EQ(spool.Count(), 1);
    if (!row.Synced) continue;
    TLibrary library;
    ASSERT_TRUE(library.Open(*place)) << library.Error().toStdString();
    // The work left behind stored nothing: the spool's copy is the only one.
    EXPECT_TRUE(library.History("Склад").empty());
    QString error;
    EXPECT_EQ(spool.Sync(library, &error), 1) << error.toStdString();
    const auto history = library.History("Склад");
    ASSERT_EQ(history.size(), 1u);
  }
  for (const int fd : sockets) close(fd);
}

TEST(LibraryPlace, UrlsAndFiles) {
  QString why;
  const auto pg = ParseLibraryPlace("postgresql://anna@db.example:5433/sites", &why);
  ASSERT_TRUE(pg);
  EXPECT_EQ(pg->Engine, TLibraryPlace::TEngine::PostgreSQL);
  EXPECT_EQ(pg->User, "anna");
  EXPECT_EQ(pg->Host, "db.example");
  EXPECT_EQ(pg->Port, 5433);
  EXPECT_EQ(pg->Database, "sites");
  EXPECT_TRUE(pg->Parameters.isEmpty());
  const auto ipv6 = ParseLibraryPlace("postgres://anna@[::1]:5433/sites", &why);
  ASSERT_TRUE(ipv6) << why.toStdString();
  EXPECT_EQ(ipv6->Host, "::1");
  EXPECT_EQ(ipv6->Port, 5433);
  EXPECT_EQ(ipv6->Url(), "postgresql://anna@[::1]:5433/sites");
  const auto socket = ParseLibraryPlace("postgresql://anna@/sites?host=/run/postgresql", &why);
  ASSERT_TRUE(socket);
  EXPECT_EQ(socket->Host, "/run/postgresql");
  EXPECT_FALSE(ParseLibraryPlace("postgresql://db.example/", &why));
  const auto file = ParseLibraryPlace("/home/anna/library.sqlite", &why);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Engine, TLibraryPlace::TEngine::SQLite);
}

// Whatever host the query names, the place's URL gives it back: a records'
// destination is known by that URL.
TEST(LibraryPlace, EveryHostComesBackFromItsUrl) {
  for (const QString host : {"/run/postgresql", "db.example", "::1", "a/b@c?d#e", ";db", "x%41", "[::1]"}) {
    SCOPED_TRACE(host.toStdString());
    QString why;
    const auto place = ParseLibraryPlace(
        "postgresql://anna@/sites?host=" + QString::fromLatin1(host.toUtf8().toPercentEncoding()), &why);
    ASSERT_TRUE(place) << why.toStdString();
    EXPECT_EQ(place->Host, host);
    const auto back = ParseLibraryPlace(place->Url(), &why);
    ASSERT_TRUE(back) << place->Url().toStdString() << ": " << why.toStdString();
    EXPECT_EQ(back->Host, host);
    EXPECT_EQ(back->Url(), place->Url());
  }
}

// A password in any form libpq would take one is refused, and the reason
// never shows it.
TEST(LibraryPlace, APasswordInAnyFormIsRefusedUnshown) {
  const struct {
    const char* Name;
    const char* Url;
  } cases[] = {
      {"user-part", "postgresql://anna:s3cret@db/sites"},
      {"user-part-empty-password", "postgresql://anna:@db/sites"},
      {"user-part-no-user", "postgresql://:s3cret@db/sites"},
      {"user-part-encoded-colon", "postgresql://anna%3As3cret@db/sites"},
      {"user-part-encoded-colon-lower-case", "postgres://anna%3as3cret@db/sites"},
      {"user-part-with-bad-port", "postgresql://anna:s3cret@db:99999/sites"},
      {"user-part-holding-a-question-mark", "postgresql://anna:s3cret?x@db/sites"},
      {"user-part-holding-an-at-sign", "postgresql://anna:s3cret@x@db/sites"},
      {"parameter", "postgresql://anna@db/sites?password=s3cret"},
      {"parameter-after-a-known-one", "postgresql://anna@db/sites?sslmode=require&password=s3cret"},
      {"parameter-encoded-name", "postgresql://anna@db/sites?pass%77ord=s3cret"},
      {"parameter-wholly-encoded-name", "postgresql://anna@db/sites?%70%61%73%73%77%6F%72%64=s3cret"},
      {"parameter-upper-case", "postgresql://anna@db/sites?PASSWORD=s3cret"},
      {"parameter-without-equals", "postgresql://anna@db/sites?password"},
      {"parameter-of-the-client-key", "postgresql://anna@db/sites?sslpassword=s3cret"},
      {"parameter-name-holding-the-value", "postgresql://anna@db/sites?password%3Ds3cret"},
      {"parameter-after-an-unknown-one", "postgresql://anna@db/sites?s=1&password=s3cret"},
      {"ipv6-host", "postgresql://anna:s3cret@[::1]:5432/sites"},
  };
  for (const auto& c : cases) {
    QString why;
    EXPECT_FALSE(ParseLibraryPlace(c.Url, &why)) << c.Name;
    EXPECT_NE(why.indexOf("password"), -1) << c.Name << ": " << why.toStdString();
    EXPECT_EQ(why.indexOf("s3cret"), -1) << c.Name << ": " << why.toStdString();
  }
}

// Each parameter the library takes is kept, decoded, passed to the driver
// quoted, and given back by Url(); the rest are refused by name.
TEST(LibraryPlace, LibpqParametersAreTakenAndOthersRefused) {
  const QString base = "postgresql://anna@db.example/sites?";
  const struct {
    const char* Name;
    QString Query;
    QString Key, Value;   // taken
    QString Refused;      // else: in the reason
  } cases[] = {
      {"sslmode", "sslmode=verify-full", "sslmode", "verify-full", {}},
      {"sslrootcert-with-a-blank", "sslrootcert=/etc/ca%20certs/root.crt", "sslrootcert", "/etc/ca certs/root.crt", {}},
      {"sslcert", "sslcert=/home/anna/.pg/anna.crt", "sslcert", "/home/anna/.pg/anna.crt", {}},
      {"sslkey-with-a-quote", "sslkey=/home/anna/it's.key", "sslkey", "/home/anna/it's.key", {}},
      {"connect_timeout", "connect_timeout=12", "connect_timeout", "12", {}},
      {"application_name-cyrillic", "application_name=%D0%BE%D1%84%D0%B8%D1%81", "application_name", "офис", {}},
      {"unknown", "sslmod=require", {}, {}, "unknown parameter \"sslmod\""},
      {"unknown-after-known", "sslmode=require&options=-c%20x", {}, {}, "unknown parameter \"options\""},
      {"unknown-port-parameter", "port=5433", {}, {}, "unknown parameter \"port\""},
      {"sslmode-misspelt-value", "sslmode=verify_full", {}, {}, "sslmode must be one of"},
      {"connect_timeout-not-a-number", "connect_timeout=5s", {}, {}, "connect_timeout"},
      {"connect_timeout-negative", "connect_timeout=-1", {}, {}, "connect_timeout"},
      {"empty-value", "sslrootcert=", {}, {}, "sslrootcert has no value"},
      {"no-value", "sslmode", {}, {}, "sslmode has no value"},
      {"given-twice", "sslmode=require&sslmode=disable", {}, {}, "sslmode twice"},
      {"a-semicolon", "sslkey=/a%3Bb", {}, {}, "';'"},
  };
  for (const auto& c : cases) {
    QString why;
    const auto place = ParseLibraryPlace(base + c.Query, &why);
    if (!c.Refused.isEmpty()) {
      EXPECT_FALSE(place) << c.Name;
      EXPECT_NE(why.indexOf(c.Refused), -1) << c.Name << ": " << why.toStdString();
      continue;
    }
    ASSERT_TRUE(place) << c.Name << ": " << why.toStdString();
    EXPECT_EQ(place->Parameters, (QMap<QString, QString>{{c.Key, c.Value}})) << c.Name;
    QString quoted = c.Value;
    quoted.replace('\'', "\\'");
    EXPECT_TRUE(place->ConnectOptions().split(';').contains(c.Key + "='" + quoted + "'"))
        << c.Name << ": " << place->ConnectOptions().toStdString();
    const auto again = ParseLibraryPlace(place->Url(), &why);
    ASSERT_TRUE(again) << c.Name << ": " << place->Url().toStdString() << ": " << why.toStdString();
    EXPECT_EQ(again->Parameters, place->Parameters) << c.Name;
    EXPECT_EQ(again->Display(), place->Display()) << c.Name;
  }
  // What the URL leaves out is left to libpq and its PG* variables: no
  // sslmode of ours, a time-out only when none is set anywhere.
  QString why;
  const auto plain = ParseLibraryPlace("postgresql://anna@db.example/sites", &why);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->ConnectOptions().split(';'), QStringList({"connect_timeout=5", "fallback_application_name=ostrelgsm4"}));
  qputenv("PGCONNECT_TIMEOUT", "30");
  EXPECT_EQ(plain->ConnectOptions().indexOf("connect_timeout"), -1);
  qunsetenv("PGCONNECT_TIMEOUT");
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

// One connection adding record after record (the window's library thread,
// a sync of a full spool): the write-ahead log is checkpointed as it goes
// and stays small, though no other program ever opens the library.
TEST(LibraryOpen, TheWriteAheadLogStaysBoundedWhileOneConnectionRecords) {
  QTemporaryDir dir;
  TLibraryPlace place;
  place.File = dir.filePath("library.sqlite");
  TLibrary library;
  ASSERT_TRUE(library.Open(place));
  ASSERT_TRUE(library.AddSite(Site("цех", "", "", "")));
  // No wait for the disk at each commit: the log is written and checkpointed
  // as before, in a few seconds.
  ASSERT_TRUE(QSqlQuery(library.Database()).exec("PRAGMA synchronous = OFF"));
  // Each record a new phone number and key: the search index changes too.
  constexpr int kRecords = 10000;
  for (int i = 0; i < kRecords; ++i) {
    TRecord r = MakeRecord(TRecordKind::Read, SettingsText(QString("+7916%1").arg(i, 7, 10, QChar('0')),
                                                           QString("%1").arg(i, 16, 16, QChar('0'))));
    ASSERT_TRUE(library.AddRecord("цех", &r)) << i << ' ' << library.Error().toStdString();
  }
  // SQLite checkpoints at 1000 pages (4 MB) and then writes the log from its
  // start again; a log that is never checkpointed grows some 10 KB a record.
  const qint64 wal = QFileInfo(place.File + "-wal").size();
  EXPECT_LT(wal, 8 * 1024 * 1024) << "the WAL holds " << wal << " bytes after " << kRecords << " records";
  EXPECT_EQ(library.History("цех").size(), size_t(kRecords));
}

// A variable of libpq's set for one scope, as it was after.
class TEnvironment {
 public:
  ~TEnvironment() {
    for (auto it = saved_.cbegin(); it != saved_.cend(); ++it)
      if (it.value()) qputenv(it.key(), *it.value()); else qunsetenv(it.key());
  }
  void Set(const char* name, const QString& value) {
    if (!saved_.contains(name))
      saved_.insert(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    qputenv(name, value.toUtf8());
  }

 private:
  QMap<QByteArray, std::optional<QByteArray>> saved_;
};

// A scratch server of the test's own on TCP 127.0.0.1 with TLS only, its
// certificates made by openssl (scripts/pg_scratch.sh start-tls): the
// server's names localhost, not 127.0.0.1.
class LibraryTls : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    state_ = dir_.filePath("pg.state");
    QProcess start;
    start.start("/bin/bash", {OSTREL_PG_SCRATCH, "start-tls", state_});
    ASSERT_TRUE(start.waitForFinished(120000));
    const QString said = QString::fromLocal8Bit(start.readAllStandardError()).trimmed();
    if (start.exitCode() == 77) GTEST_SKIP() << said.toStdString();
    ASSERT_EQ(start.exitCode(), 0) << said.toStdString();
    started_ = true;
    QFile state(state_);
    ASSERT_TRUE(state.open(QIODevice::ReadOnly));
    const QString url = QString::fromUtf8(state.readLine()).trimmed();
    tls_ = QString::fromUtf8(state.readLine()).trimmed() + "/tls/";
    port_ = url.section(':', 2).section('/', 0, 0);
  }
  void TearDown() override {
    if (started_) QProcess::execute("/bin/bash", {OSTREL_PG_SCRATCH, "stop", state_});
  }

  // The scratch server's library as user@host, with the query given.
  TLibraryPlace Place(const QString& userAtHost, const QString& query) {
    QString why;
    const QString url = "postgresql://" + userAtHost + ':' + port_ + "/library_test" + (query.isEmpty() ? "" : "?" + query);
    const auto place = ParseLibraryPlace(url, &why);
    EXPECT_TRUE(place) << url.toStdString() << ": " << why.toStdString();
    return place.value_or(TLibraryPlace());
  }
  QString VerifyFull(const QString& ca) { return "sslmode=verify-full&sslrootcert=" + tls_ + ca; }

  QTemporaryDir dir_;
  QString state_, tls_, port_;
  bool started_ = false;
};

// verify-full connects only to the server the CA vouches for, under the
// name it vouches for; the PG* variables are honoured where the URL is
// silent, and the URL wins where it is not.
TEST_F(LibraryTls, VerifyFullTrustsOnlyTheRightCaAndHostName) {
  const struct {
    const char* Name;
    QString UserAtHost, Query;
    QStringList Environment;  // NAME=value
    QString Refused;          // empty: it connects over TLS
    QString Application = "ostrelgsm4";
  } cases[] = {
      {"verify-full", "ostrel@localhost", VerifyFull("ca.crt"), {}, {}},
      {"wrong-ca", "ostrel@localhost", VerifyFull("other-ca.crt"), {}, "certificate verify failed"},
      {"wrong-host-name", "ostrel@127.0.0.1", VerifyFull("ca.crt"), {}, "does not match host name \"127.0.0.1\""},
      {"client-certificate", "certified@localhost",
       VerifyFull("ca.crt") + "&sslcert=" + tls_ + "client.crt&sslkey=" + tls_ + "client.key", {}, {}},
      {"no-client-certificate", "certified@localhost", VerifyFull("ca.crt"), {}, "requires a valid client certificate"},
      {"PGSSLMODE-and-PGSSLROOTCERT",
       "ostrel@localhost", "", {"PGSSLMODE=verify-full", "PGSSLROOTCERT=" + tls_ + "other-ca.crt"}, "certificate verify failed"},
      {"PGSSLMODE-disable", "ostrel@localhost", "", {"PGSSLMODE=disable"}, "no encryption"},
      {"the-URL-over-PGSSLMODE", "ostrel@localhost", VerifyFull("ca.crt"), {"PGSSLMODE=disable"}, {}},
      // The server keeps application names in ASCII.
      {"application_name", "ostrel@localhost", "sslmode=require&application_name=office%201", {}, {}, "office 1"},
      {"PGAPPNAME", "ostrel@localhost", "sslmode=require", {"PGAPPNAME=depot-7"}, {}, "depot-7"},
  };
  for (const auto& c : cases) {
    TEnvironment environment;
    for (const QString& variable : c.Environment)
      environment.Set(variable.section('=', 0, 0).toLatin1().constData(), variable.section('=', 1));
    TLibrary library;
    const bool opened = library.Open(Place(c.UserAtHost, c.Query));
    if (!c.Refused.isEmpty()) {
      EXPECT_FALSE(opened) << c.Name;
      EXPECT_NE(library.Error().indexOf(c.Refused), -1) << c.Name << ": " << library.Error().toStdString();
      EXPECT_NE(library.Error().indexOf("cannot open the library"), -1) << c.Name;
      continue;
    }
    ASSERT_TRUE(opened) << c.Name << ": " << library.Error().toStdString();
    QSqlQuery q(library.Database());
    ASSERT_TRUE(q.exec("SELECT ssl, current_setting('application_name') FROM pg_stat_ssl WHERE pid = pg_backend_pid()") &&
                q.next()) << c.Name;
    EXPECT_TRUE(q.value(0).toBool()) << c.Name;
    EXPECT_EQ(q.value(1).toString(), c.Application) << c.Name;
  }
}

// A record made while the server cannot be trusted waits in the spool, and
// is stored once the URL names the right CA.
TEST_F(LibraryTls, ARecordSpoolsWhileTheServerIsNotTrusted) {
  const QString spoolDir = dir_.filePath("spool");
  const QString warning = RecordOperation(Place("ostrel@localhost", VerifyFull("other-ca.crt")), spoolDir, "Склад",
                                          MakeRecord(TRecordKind::Read, SettingsText("+79160000001", "1")));
  EXPECT_NE(warning.indexOf("certificate verify failed"), -1) << warning.toStdString();
  EXPECT_EQ(TRecordSpool(spoolDir).Count(), 1);

  const TLibraryPlace trusted = Place("ostrel@localhost", VerifyFull("ca.crt"));
  const QString stored = RecordOperation(trusted, spoolDir, "Склад", MakeRecord(TRecordKind::Write, SettingsText("+79160000002", "1")));
  EXPECT_TRUE(stored.isEmpty()) << stored.toStdString();
  EXPECT_EQ(TRecordSpool(spoolDir).Count(), 0);
  TLibrary library;
  ASSERT_TRUE(library.Open(trusted)) << library.Error().toStdString();
  const std::vector<TRecord> history = library.History("Склад", true);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].Settings, SettingsText("+79160000001", "1"));
  EXPECT_EQ(history[1].Kind, TRecordKind::Write);
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
    // Ready to record at once: several writers start on one line.
    if (qEnvironmentVariableIsSet("OSTREL_TEST_READY")) {
      std::printf("ready\n");
      std::fflush(stdout);
    }
    for (int n = 0; !in.readLine().isEmpty(); ++n) {
      const QString warning =
          RecordOperation(*place, spool, "склад", MakeRecord(TRecordKind::Write, SettingsText(QString::number(n), "1")));
      std::printf("%s\n", warning.isEmpty() ? "stored" : "spooled");
      std::fflush(stdout);
      if (!warning.isEmpty()) std::fprintf(stderr, "%s\n", qPrintable(warning));
    }
    WaitForLibraryWork();
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
  const int status = RUN_ALL_TESTS();
  WaitForLibraryWork();
  return status;
}
