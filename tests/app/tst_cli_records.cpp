// Every step of a panel command with --site leaves one record whatever its
// end, end to end: the real binary against the panel simulator, the library
// a SQLite file or the scratch PostgreSQL server, read back through
// `history --json`, for each step (read,
// backup, write, verify, compare) and each way it can end: done, refused by
// the panel, not kept, the line dropped, never connected, a file not saved,
// and stopped by SIGINT, SIGTERM or SIGHUP.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include <QSqlQuery>

#include "library/Library.h"
#include "tests/common/Child.h"
#include "tools/PanelSim.h"

using ostrel::sim::ParseFault;
using ostrel::sim::TPanelSim;
using ostrel::sim::test::TChild;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The scratch PostgreSQL server's URL, empty when there is none.
std::string PgUrl() {
  std::ifstream in(OSTREL_PG_STATE_FILE);
  std::string url;
  std::getline(in, url);
  return url;
}

struct TCase {
  const char* Name;
  std::vector<std::string> Args;  // after the port; FILE, CHANGED, NOWHERE are replaced
  std::vector<const char*> Faults;  // as the simulator's --fault takes them
  int Signal;                       // sent once the panel has received SilentAt; 0: none
  const char* SilentAt;             // the command the panel never answers (with Signal)
  int Status;                       // the run's exit status
  std::vector<const char*> Records;  // "kind outcome", in order
};

// One panel command per case against a simulated panel; the records its site
// holds afterwards, as history --json prints them ("kind outcome").
class CliRecordsRun : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = new QTemporaryDir();
    // The program's own files (and a spool, were the library away) stay here.
    setenv("HOME", qPrintable(home_->path()), 1);
    setenv("XDG_DATA_HOME", qPrintable(home_->path() + "/data"), 1);
    setenv("XDG_CONFIG_HOME", qPrintable(home_->path() + "/config"), 1);
    const fs::path dir = home_->path().toStdString();
    // A complete file read from a fresh panel, and one with a phone changed.
    TPanelSim sim;
    sim.Start();
    TChild read(OSTRELGSM4_BINARY, {"read", "--port", sim.SlavePath(), "--out", (dir / "panel.ini").string(), "--quiet"});
    ASSERT_EQ(read.WaitExit(60000), 0) << read.Errors();
    std::string text = ReadFile(dir / "panel.ini");
    const size_t at = text.find("Phone4=");
    ASSERT_NE(at, std::string::npos);
    text.insert(at + 7, "+79990000004");
    std::ofstream(dir / "changed.ini", std::ios::binary) << text;
  }
  static void TearDownTestSuite() {
    delete home_;
    home_ = nullptr;
  }

  static std::string File(const char* name) { return (fs::path(home_->path().toStdString()) / name).string(); }

  // The records of site in library, or why none could be listed.
  static std::vector<std::string> Records(const std::string& library, const std::string& site, std::string* why) {
    TChild history(OSTRELGSM4_BINARY, {"history", site, "--library", library, "--json"});
    const std::string out = history.AllOutput(30000);
    if (const int status = history.WaitExit(30000); status != 0) {
      *why = "history: exit " + std::to_string(status) + ": " + history.Errors();
      return {};
    }
    std::vector<std::string> records;
    for (const QJsonValue& r : QJsonDocument::fromJson(QByteArray::fromStdString(out)).array())
      records.push_back((r["kind"].toString() + ' ' + r["outcome"].toString()).toStdString());
    return records;
  }

  // Runs c with its records going to library (empty: a SQLite file of its
  // own); its failures as lines.
  static std::vector<std::string> Check(const TCase& c, std::string library = {}) {
    std::vector<std::string> failures;
    TPanelSim sim;
    for (const char* text : c.Faults) {
      std::string error;
      const auto fault = ParseFault(text, error);
      if (!fault) return {std::string("fault ") + text + ": " + error};
      sim.AddFault(*fault);
    }
    std::atomic<bool> reached{false};
    if (c.SilentAt) {
      sim.AddFault({c.SilentAt, ostrel::sim::EFault::Silence, false, 0, ""});
      sim.SetCommandHandler([&](const std::string& command) {
        if (command.rfind(c.SilentAt, 0) == 0) reached = true;
      });
    }
    sim.Start();
    // A site of its own for each case (and each run: the server outlives it).
    const std::string site = "Склад " + std::string(c.Name) + " " + std::to_string(getpid());
    if (library.empty()) library = File(c.Name) + ".sqlite";
    std::vector<std::string> args{c.Args[0], "--port", sim.SlavePath()};
    for (size_t i = 1; i < c.Args.size(); ++i) {
      const std::string& a = c.Args[i];
      args.push_back(a == "FILE"      ? File("panel.ini")
                     : a == "CHANGED" ? File("changed.ini")
                     : a == "NOWHERE" ? File("no-such-dir") + "/x.ini"
                     : a == "OUT"     ? File(c.Name) + ".out.ini"
                                      : a);
    }
    for (const std::string& a : {std::string("--quiet"), std::string("--site"), site, std::string("--library"), library})
      args.push_back(a);
    TChild child(OSTRELGSM4_BINARY, args);
    if (c.Signal) {
      for (int waited = 0; !reached && waited < 30000; waited += 10) usleep(10000);
      if (!reached) failures.push_back("the panel never received " + std::string(c.SilentAt));
      child.Signal(c.Signal);
    }
    const int status = child.WaitExit(90000);
    if (status != c.Status)
      failures.push_back("exit " + std::to_string(status) + " (expected " + std::to_string(c.Status) +
                         "): " + child.Errors());
    std::string why;
    const std::vector<std::string> got = Records(library, site, &why);
    const std::vector<std::string> expected(c.Records.begin(), c.Records.end());
    if (!why.empty()) failures.push_back(why);
    else if (got != expected) {
      std::string list;
      for (const std::string& r : got) list += "[" + r + "] ";
      failures.push_back("records " + list);
    }
    return failures;
  }

  static inline QTemporaryDir* home_ = nullptr;
};

// The table, on each engine.
class CliRecords : public CliRecordsRun, public testing::WithParamInterface<const char*> {};

}  // namespace

TEST_P(CliRecords, EveryStepLeavesOneRecordWhateverItsEnd) {
  std::string library;
  if (std::string(GetParam()) == "PostgreSQL") {
    library = PgUrl();
    if (library.empty()) GTEST_SKIP() << "no scratch PostgreSQL server: is postgresql-15 installed? (scripts/pg_scratch.sh)";
    // The scratch server's one database starts empty, whatever test used it
    // before (one leaves a library of a newer program behind).
    QString why;
    const auto place = ParseLibraryPlace(QString::fromStdString(library), &why);
    ASSERT_TRUE(place) << why.toStdString();
    TLibrary cleaner;
    ASSERT_TRUE(cleaner.Open(*place)) << cleaner.Error().toStdString();
    QSqlQuery q(cleaner.Database());
    ASSERT_TRUE(q.exec("DROP TABLE IF EXISTS site_grams, site_terms, records, sites, schema_version"));
  }
  const TCase cases[] = {
      // read
      {"read", {"read", "--out", "OUT"}, {}, 0, nullptr, 0, {"read success"}},
      {"read-key-refused", {"read", "--out", "OUT"}, {"+rk3:refuse"}, 0, nullptr, 3, {"read refused"}},
      {"read-not-confirmed", {"read", "--out", "OUT"}, {"+rq09:no-ok"}, 0, nullptr, 3, {"read failed-request"}},
      {"read-line-dropped", {"read", "--out", "OUT"}, {"+rk3:close"}, 0, nullptr, 3, {"read link-lost"}},
      {"read-never-connected", {"read", "--out", "OUT"}, {"+v:close"}, 0, nullptr, 2, {"read not-connected"}},
      {"read-not-saved", {"read", "--out", "NOWHERE"}, {}, 0, nullptr, 1, {"read not-saved"}},
      {"read-sigint", {"read", "--out", "OUT"}, {}, SIGINT, "+rk3", 128 + SIGINT, {"read interrupted"}},
      {"read-sigint-connecting", {"read", "--out", "OUT"}, {}, SIGINT, "+v", 128 + SIGINT, {"read interrupted"}},
      // write
      {"write", {"write", "--in", "FILE"}, {}, 0, nullptr, 0, {"write success"}},
      {"write-refused", {"write", "--in", "FILE"}, {"+wk3:refuse"}, 0, nullptr, 3, {"write refused"}},
      {"write-line-dropped", {"write", "--in", "FILE"}, {"+wk3:close"}, 0, nullptr, 3, {"write link-lost"}},
      {"write-sigterm", {"write", "--in", "FILE"}, {}, SIGTERM, "+wk3", 128 + SIGTERM, {"write interrupted"}},
      // backup, write, verify
      {"safe-write",
       {"write", "--in", "CHANGED", "--backup", "OUT", "--verify"},
       {},
       0,
       nullptr,
       0,
       {"backup success", "write success", "verify success"}},
      {"backup-refused", {"write", "--in", "FILE", "--backup", "OUT"}, {"+rk3:refuse"}, 0, nullptr, 3, {"backup refused"}},
      {"backup-not-saved", {"write", "--in", "FILE", "--backup", "NOWHERE"}, {}, 0, nullptr, 1, {"backup not-saved"}},
      {"backup-sighup",
       {"write", "--in", "FILE", "--backup", "OUT"},
       {},
       SIGHUP,
       "+rk3",
       128 + SIGHUP,
       {"backup interrupted"}},
      {"write-refused-after-backup",
       {"write", "--in", "FILE", "--backup", "OUT", "--verify"},
       {"+wk3:refuse"},
       0,
       nullptr,
       3,
       {"backup success", "write refused"}},
      {"verify-not-kept",
       {"write", "--in", "CHANGED", "--verify"},
       {"+wt04:keep"},
       0,
       nullptr,
       3,
       {"write success", "verify not-kept"}},
      {"verify-line-dropped",
       {"write", "--in", "FILE", "--verify"},
       {"+rk3:close"},
       0,
       nullptr,
       3,
       {"write success", "verify link-lost"}},
      {"verify-sigint", {"write", "--in", "FILE", "--verify"}, {}, SIGINT, "+rk3", 128 + SIGINT,
       {"write success", "verify interrupted"}},
      // compare
      {"diff-same", {"diff", "--in", "FILE"}, {}, 0, nullptr, 0, {"compare same"}},
      {"diff-different", {"diff", "--in", "CHANGED"}, {}, 0, nullptr, 4, {"compare different"}},
      {"diff-refused", {"diff", "--in", "FILE"}, {"+rk3:refuse"}, 0, nullptr, 3, {"compare refused"}},
      {"diff-sigterm", {"diff", "--in", "FILE"}, {}, SIGTERM, "+rk3", 128 + SIGTERM, {"compare interrupted"}},
  };
  std::mutex mutex;
  std::vector<std::string> failures;
  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  // Each run mostly waits on the line (a refused request for its three
  // attempts): several at once.
  for (int w = 0; w < 8; ++w)
    workers.emplace_back([&] {
      for (size_t i; (i = next++) < std::size(cases);) {
        const std::vector<std::string> found = Check(cases[i], library);
        std::lock_guard lock(mutex);
        for (const std::string& f : found) failures.push_back(std::string(cases[i].Name) + ": " + f);
      }
    });
  for (std::thread& t : workers) t.join();
  std::sort(failures.begin(), failures.end());
  for (const std::string& f : failures) ADD_FAILURE() << f;
}

INSTANTIATE_TEST_SUITE_P(Engines, CliRecords, testing::Values("SQLite", "PostgreSQL"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// The details travel with the codes: the settings the panel did not keep,
// the file a compare was made with.
TEST_F(CliRecordsRun, DetailsNameWhatTheCodeLeavesOpen) {
  TPanelSim sim;
  std::string error;
  sim.AddFault(*ParseFault("+wt04:keep", error));
  sim.Start();
  const std::string library = File("details") + ".sqlite";
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin() + 1, {"--port", sim.SlavePath()});
    for (const std::string a : {"--quiet", "--site", "Склад", "--library"}) args.push_back(a);
    args.push_back(library);
    TChild child(OSTRELGSM4_BINARY, args);
    return child.WaitExit(60000);
  };
  EXPECT_EQ(run({"write", "--in", File("changed.ini"), "--verify"}), 3);
  EXPECT_EQ(run({"diff", "--in", File("panel.ini")}), 0);
  TChild history(OSTRELGSM4_BINARY, {"history", "Склад", "--library", library, "--json"});
  const QJsonArray records = QJsonDocument::fromJson(QByteArray::fromStdString(history.AllOutput(30000))).array();
  ASSERT_EQ(records.size(), 3);
  EXPECT_EQ(records[1]["outcome"].toString(), "not-kept");
  EXPECT_EQ(records[1]["detail"].toString(), "[Phones] Phone4");
  EXPECT_EQ(records[2]["outcome"].toString(), "same");
  EXPECT_EQ(records[2]["detail"].toString(), QString::fromStdString(File("panel.ini")));
  // The plain listing: the code's word, the detail last.
  TChild plain(OSTRELGSM4_BINARY, {"history", "Склад", "--library", library});
  const QStringList lines = QString::fromStdString(plain.AllOutput(30000)).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3);
  const QStringList fields = lines[1].split('\t');
  ASSERT_GE(fields.size(), 8);
  EXPECT_EQ(fields[4], "not-kept");
  EXPECT_EQ(fields[7], "[Phones] Phone4");
}
