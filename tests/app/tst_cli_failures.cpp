// The command line when things go wrong, end to end: the real binary against
// the panel simulator, with the line dropped or the call lost after each
// command in turn, refusals and untrusted replies, and stop signals.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "tests/common/Child.h"
#include "tools/PanelSim.h"

using ostrel::sim::EFault;
using ostrel::sim::TFault;
using ostrel::sim::TPanelSim;
using ostrel::sim::test::TChild;
namespace fs = std::filesystem;

namespace {

// A file the command line must leave as it found it.
const std::string Untouched = "[Connect]\nComPort=untouched\n";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string LastLine(const std::string& text) {
  std::string trimmed = text;
  while (!trimmed.empty() && trimmed.back() == '\n') trimmed.pop_back();
  const size_t start = trimmed.rfind('\n');
  return start == std::string::npos ? trimmed : trimmed.substr(start + 1);
}

struct TResult {
  int status = -1;  // -1: killed by a signal or timed out
  std::string lastLine;
};

TResult RunCli(std::vector<std::string> args, int timeoutMs = 60000) {
  TChild child(OSTRELGSM4_BINARY, std::move(args));
  TResult result;
  result.status = child.WaitExit(timeoutMs);
  result.lastLine = LastLine(child.Errors());
  return result;
}

// One kind of run of the command line: its arguments around the port and the
// settings file.
struct TFlow {
  const char* name;
  bool write;
  bool adc;

  std::vector<std::string> Args(const std::string& port, const fs::path& file) const {
    std::vector<std::string> args{write ? "write" : "read", "--port", port, write ? "--in" : "--out", file.string(),
                                  "--quiet"};
    if (adc) args.push_back("--adc");
    return args;
  }
};

const TFlow Flows[] = {{"read", false, false}, {"read-adc", false, true}, {"write", true, false},
                       {"write-adc", true, true}};

// A scratch folder with a complete settings file read from a fresh panel.
class CliFiles {
 public:
  CliFiles() {
    dir_ = fs::temp_directory_path() / ("ostrel-cli-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
    fs::create_directories(dir_);
    TPanelSim sim;
    sim.Start();
    const TResult read = RunCli(Flows[1].Args(sim.SlavePath(), Settings()));
    EXPECT_EQ(read.status, 0) << read.lastLine;
  }
  ~CliFiles() { fs::remove_all(dir_); }
  fs::path Settings() const { return dir_ / "panel.ini"; }
  // A fresh output file holding Untouched.
  fs::path Output(const std::string& name) const {
    const fs::path path = dir_ / (name + ".ini");
    WriteFile(path, Untouched);
    return path;
  }
  fs::path File(const TFlow& flow, const std::string& name) const { return flow.write ? Settings() : Output(name); }

  // The commands the panel receives in a clean run of flow.
  std::vector<std::string> CleanRun(const TFlow& flow) const {
    TPanelSim sim;
    sim.Start();
    const TResult run = RunCli(flow.Args(sim.SlavePath(), File(flow, "clean")));
    EXPECT_EQ(run.status, 0) << run.lastLine;
    return sim.Commands();
  }

 private:
  static inline int counter_ = 0;
  fs::path dir_;
};

// Runs job(i) for i in [0, count) on a few threads: each run mostly waits on
// the line, so several at once keep the table short.
void ForEachConcurrently(size_t count, const std::function<void(size_t)>& job, int threads = 4) {
  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < threads; ++w)
    workers.emplace_back([&] {
      for (size_t i; (i = next++) < count;) job(i);
    });
  for (std::thread& t : workers) t.join();
}

// Every n-th command of a table, first and last always included: the
// sanitizer builds set OSTREL_TABLE_STRIDE to keep their run short.
std::vector<size_t> TableRows(size_t count) {
  const char* env = std::getenv("OSTREL_TABLE_STRIDE");
  const size_t stride = env ? std::max(1, std::atoi(env)) : 1;
  std::vector<size_t> rows;
  for (size_t i = 0; i < count; i += stride) rows.push_back(i);
  if (rows.back() != count - 1) rows.push_back(count - 1);
  return rows;
}

struct TLossCase {
  TFlow flow;
  EFault kind;
};

std::string CaseName(const ::testing::TestParamInfo<TLossCase>& info) {
  std::string name = std::string(info.param.flow.name) + "_" + ostrel::sim::FaultName(info.param.kind);
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

class LinkLost : public ::testing::TestWithParam<TLossCase> {};

}  // namespace

// The line dropped (an adapter pulled) or the call lost right at each command
// of a flow in turn: never a crash, exit 2 before the connection check has
// passed and 3 after, a final line that says the link was lost, and the
// output file left as it was.
TEST_P(LinkLost, AtEveryCommand) {
  const TLossCase& c = GetParam();
  CliFiles files;
  const std::vector<std::string> commands = files.CleanRun(c.flow);
  ASSERT_GT(commands.size(), 30u);
  const std::vector<size_t> rows = TableRows(commands.size());
  std::mutex mutex;
  std::vector<std::string> failures;
  ForEachConcurrently(rows.size(), [&](size_t row) {
    const size_t i = rows[row];
    const std::string& command = commands[i];
    TFault fault{command, c.kind, true};
    fault.Skip = static_cast<int>(std::count(commands.begin(), commands.begin() + i, command));
    TPanelSim sim;
    sim.AddFault(fault);
    sim.Start();
    const fs::path file = files.File(c.flow, "out" + std::to_string(i));
    const TResult run = RunCli(c.flow.Args(sim.SlavePath(), file));
    const int expected = i == 0 ? 2 : 3;
    std::string why;
    if (run.status != expected)
      why = "exit " + std::to_string(run.status);
    else if (run.lastLine.rfind("ostrelgsm4: ", 0) != 0 ||
             run.lastLine.find("the link to the panel was lost") == std::string::npos)
      why = "final line";
    else if (!c.flow.write && ReadFile(file) != Untouched)
      why = "output file changed";
    if (!why.empty()) {
      std::lock_guard lock(mutex);
      failures.push_back(command + " (#" + std::to_string(i) + "): " + why + ": " + run.lastLine);
    }
  });
  std::sort(failures.begin(), failures.end());
  for (const std::string& f : failures) ADD_FAILURE() << f;
}

INSTANTIATE_TEST_SUITE_P(Cli, LinkLost,
                         ::testing::Values(TLossCase{Flows[0], EFault::CloseLine}, TLossCase{Flows[0], EFault::NoCarrier},
                                           TLossCase{Flows[1], EFault::CloseLine}, TLossCase{Flows[1], EFault::NoCarrier},
                                           TLossCase{Flows[2], EFault::CloseLine}, TLossCase{Flows[2], EFault::NoCarrier},
                                           TLossCase{Flows[3], EFault::CloseLine}, TLossCase{Flows[3], EFault::NoCarrier}),
                         CaseName);

namespace {

struct TRefusal {
  const char* name;
  const TFlow* flow;
  const char* fault;    // as the simulator's --fault takes it
  const char* request;  // the final line must name it, or nullptr
};

}  // namespace

// A panel that refuses a request or answers it with something that cannot
// be trusted: exit 3, never 0, and no file written.
TEST(Cli, RefusalsAndUntrustedRepliesFail) {
  const TRefusal cases[] = {
      {"phone-refused", &Flows[0], "+rt05:refuse", nullptr},
      {"flags-without-ok", &Flows[0], "+rq09:no-ok", nullptr},
      {"wrong-echo", &Flows[0], "+rt05:reply=+rt06\\r+rt06123\\rOK\\r\\n", nullptr},
      {"phone-garbled", &Flows[0], "+rt05:reply=+rt05\\r+rt05ARRIER\\rOK\\r\\n", nullptr},
      {"delays-refused", &Flows[0], "+rp:refuse", nullptr},
      {"key-refused", &Flows[0], "+rk3:refuse", nullptr},
      {"module-refused", &Flows[0], "+rg:refuse", "+rg"},
      {"ring-outside-1-to-6", &Flows[0], "+rh:reply=+rh\\r+rh9\\rOK\\r\\n", "+rh"},
      {"adc-beyond-3ff", &Flows[1], "+c=0:reply=+c=0\\r1388\\rOK\\r\\n", "+c=0"},
      {"phone-write-refused", &Flows[2], "+wt05:refuse", nullptr},
      {"flags-write-refused", &Flows[2], "+wq05:refuse", nullptr},
      {"delays-write-refused", &Flows[2], "+wp=:refuse", nullptr},
      {"key-write-refused", &Flows[2], "+wk3:refuse", nullptr},
      {"ring-write-refused", &Flows[2], "+wh=:refuse", "+wh="},
      {"threshold-write-refused", &Flows[3], "+it02=:refuse", "+it02="},
  };
  CliFiles files;
  std::mutex mutex;
  ForEachConcurrently(std::size(cases), [&](size_t i) {
    const TRefusal& c = cases[i];
    std::string error;
    const std::optional<TFault> fault = ostrel::sim::ParseFault(c.fault, error);
    TPanelSim sim;
    sim.AddFault(*fault);
    sim.Start();
    const fs::path file = files.File(*c.flow, c.name);
    const TResult run = RunCli(c.flow->Args(sim.SlavePath(), file));
    std::lock_guard lock(mutex);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run.status, 3) << run.lastLine;
    EXPECT_EQ(run.lastLine.rfind("ostrelgsm4: ", 0), 0u) << run.lastLine;
    if (c.request) EXPECT_NE(run.lastLine.find(c.request), std::string::npos) << run.lastLine;
    if (!c.flow->write) EXPECT_EQ(ReadFile(file), Untouched);
  }, 8);  // a refused request waits out its three attempts of 4.5 s
}

namespace {

struct TAttemptCase {
  const char* name;
  const TFlow* flow;
  const char* fault;    // as the simulator's --fault takes it; nullptr for none
  const char* version;  // the panel's version text; nullptr for the usual one
  const char* command;  // the command whose attempts are counted
  size_t attempts;      // how often the panel receives it
  int status;
};

}  // namespace

// Each attempt of a request is judged as its reply comes in: an answer the
// panel did not give to this very command, or a refusal, costs an attempt,
// and only an answer that can be trusted ends the request well.
TEST(Cli, AttemptsEndAsTheRepliesAllow) {
  const TAttemptCase cases[] = {
      {"late-ok-of-the-previous-command", &Flows[0], "+rt05:reply=\\r\\nOK\\r\\n+rt05\\r+rt05123\\rOK\\r\\n:once",
       nullptr, "+rt05", 1, 0},
      {"another-command-answered-once", &Flows[0], "+rt05:reply=+rt06\\r+rt06123\\rOK\\r\\n:once", nullptr, "+rt05", 2,
       0},
      {"another-command-answered-always", &Flows[0], "+rt05:reply=+rt06\\r+rt06123\\rOK\\r\\n", nullptr, "+rt05", 3,
       3},
      {"refused-once-then-read", &Flows[0], "+rt05:refuse:once", nullptr, "+rt05", 2, 0},
      {"refused-once-then-written", &Flows[2], "+wt05:refuse:once", nullptr, "+wt05=", 2, 0},
      {"flag-position-not-0-or-1-once", &Flows[0], "+rq05:reply=+rq05\\r+rq051x0\\rOK\\r\\n:once", nullptr, "+rq05",
       2, 0},
      {"version-line-with-error-word", &Flows[0], nullptr, "Ostrel GSM VER 05.10 ERROR", "+v", 2, 0},
  };
  CliFiles files;
  std::mutex mutex;
  ForEachConcurrently(std::size(cases), [&](size_t i) {
    const TAttemptCase& c = cases[i];
    TPanelSim sim;
    if (c.fault) {
      std::string error;
      const std::optional<TFault> fault = ostrel::sim::ParseFault(c.fault, error);
      ASSERT_TRUE(fault) << error;
      sim.AddFault(*fault);
    }
    if (c.version) sim.SetVersionText(c.version);
    sim.Start();
    const fs::path file = files.File(*c.flow, c.name);
    const TResult run = RunCli(c.flow->Args(sim.SlavePath(), file));
    const std::vector<std::string> commands = sim.Commands();
    const auto sent = static_cast<size_t>(std::count_if(commands.begin(), commands.end(), [&](const std::string& s) {
      return s.rfind(c.command, 0) == 0;
    }));
    std::lock_guard lock(mutex);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run.status, c.status) << run.lastLine;
    EXPECT_EQ(sent, c.attempts);
    if (!c.flow->write && c.status != 0) EXPECT_EQ(ReadFile(file), Untouched);
    if (!c.flow->write && c.status == 0) EXPECT_NE(ReadFile(file), Untouched);
  }, 8);
}

namespace {

// The exclusive-use flag of a terminal, as another opener would meet it.
bool ExclusiveFlagSet(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;
  int exclusive = 0;
  const bool set = ioctl(fd, TIOCGEXCL, &exclusive) != 0 || exclusive != 0;
  const bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0;
  close(fd);
  return set || locked;
}

}  // namespace

// SIGINT, SIGTERM and SIGHUP while the panel keeps the command line waiting:
// it stops with 128 + the signal and "interrupted" before the command's
// attempt would have timed out, the port free again and the output file as
// it was.
TEST(Cli, SignalsStopOrderly) {
  struct TCase {
    const char* stage;
    const TFlow* flow;
    const char* silentCommand;  // the panel never answers it
  };
  const TCase stages[] = {{"connecting", &Flows[0], "+v"}, {"reading", &Flows[0], "+rk3"},
                          {"writing", &Flows[2], "+wk3"}};
  CliFiles files;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    for (const TCase& c : stages) {
      SCOPED_TRACE(std::string(c.stage) + " " + strsignal(sig));
      TPanelSim sim;
      sim.AddFault({c.silentCommand, EFault::Silence, false});
      std::atomic<bool> reached{false};
      sim.SetCommandHandler([&](const std::string& command) {
        if (command.rfind(c.silentCommand, 0) == 0) reached = true;
      });
      sim.Start();
      const fs::path file = files.File(*c.flow, std::string(c.stage) + std::to_string(sig));
      TChild child(OSTRELGSM4_BINARY, c.flow->Args(sim.SlavePath(), file));
      for (int waited = 0; !reached && waited < 10000; waited += 10) usleep(10000);
      ASSERT_TRUE(reached);
      const auto start = std::chrono::steady_clock::now();
      child.Signal(sig);
      const int attemptMs = 4500;
      const int status = child.WaitExit(attemptMs);
      const auto took = std::chrono::steady_clock::now() - start;
      EXPECT_EQ(status, 128 + sig);
      EXPECT_LT(took, std::chrono::milliseconds(attemptMs));
      EXPECT_EQ(LastLine(child.Errors()), "ostrelgsm4: interrupted");
      EXPECT_FALSE(ExclusiveFlagSet(sim.SlavePath()));
      if (!c.flow->write) EXPECT_EQ(ReadFile(file), Untouched);
    }
  }
}
