// How long a panel command with --site runs on after the panel's last
// answer when the library cannot answer: a healthy SQLite file, a SQLite
// file locked by another program, a PostgreSQL server stopped, one frozen
// (its processes stopped with SIGSTOP), a port that takes connections and
// never answers, and a host that drops packets (a local port whose queue of
// connections is full: the kernel drops every further SYN, as a firewall
// that drops packets would).
//
// Runs `PROGRAM read --port SIM --out FILE --quiet --site S --library X`
// against the panel simulator and measures, on the simulator's side, the
// time from its last answer to the program's exit; prints the median and the
// largest, with the exit status and the lines on standard error.
//
//   bench_library_budget PROGRAM [RUNS] [PG_SCRATCH]
// PG_SCRATCH: scripts/pg_scratch.sh, for the PostgreSQL cases.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QSqlQuery>

#include "library/Library.h"
#include "library/RecordSpool.h"
#include "tools/PanelSim.h"

extern char** environ;

namespace {

using TSimClock = ostrel::sim::TSimServer::TClock;

int cases = 0;

struct TTrace {
  std::mutex Mutex;
  TSimClock::time_point LastSent;
};

int Spawn(const std::vector<std::string>& args, const std::string& errorFile) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Lines(const std::string& file) {
  std::ifstream in(file);
  int lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

void Bench(const char* name, const std::string& program, const std::string& port, const std::string& library,
           const std::string& dir, TTrace& trace, int runs) {
  std::vector<double> after;
  int status = 0, lines = 0;
  // A spool of the case's own: the lines are the case's.
  setenv("XDG_DATA_HOME", (dir + "/data-" + std::to_string(++cases)).c_str(), 1);
  for (int i = 0; i < runs; ++i) {
    const std::string errors = dir + "/stderr.txt";
    const int rc = Spawn({program, "read", "--port", port, "--out", dir + "/read.ini", "--quiet", "--site",
                          "bench " + std::to_string(i), "--library", library},
                         errors);
    const auto ended = TSimClock::now();
    std::lock_guard lock(trace.Mutex);
    after.push_back(std::chrono::duration<double, std::milli>(ended - trace.LastSent).count());
    status = std::max(status, rc);
    lines = std::max(lines, Lines(errors));
  }
  std::sort(after.begin(), after.end());
  std::printf("%-42s after the panel's last answer: median %7.1f ms, max %7.1f ms; exit status %d, %d line(s) on stderr\n",
              name, after[after.size() / 2], after.back(), status, lines);
  std::fflush(stdout);
}

// A local port that drops every connection's packets: its queue of
// connections is full and never accepted from. Its port, or 0.
int DroppingPort(std::vector<int>& sockets) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(listener, 0) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    return 0;
  sockets.push_back(listener);
  for (int i = 0; i < 2; ++i) {
    const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(filler, reinterpret_cast<sockaddr*>(&address), size);
    sockets.push_back(filler);
  }
  usleep(100000);
  return ntohs(address.sin_port);
}

std::string ReadLine(const std::string& file, int n) {
  std::ifstream in(file);
  std::string line;
  for (int i = 0; i < n && std::getline(in, line); ++i) {
  }
  return line;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_library_budget PROGRAM [RUNS] [PG_SCRATCH]\n");
    return 2;
  }
  QCoreApplication app(argc, argv);
  const std::string program = argv[1];
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::string scratch = argc > 3 ? argv[3] : "";

  ostrel::sim::TPanelSim panel;
  TTrace trace;
  panel.SetSentHandler([&](TSimClock::time_point at) {
    std::lock_guard lock(trace.Mutex);
    trace.LastSent = at;
  });
  panel.Start();
  const std::string dir = (std::filesystem::temp_directory_path() / ("ostrel-budget-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(dir);
  const std::string port = panel.SlavePath();
  std::printf("%d runs each; the library's budget after the panel's last answer: %lld ms; load average %s\n", runs,
              static_cast<long long>(kLibraryBudget.count()), ReadLine("/proc/loadavg", 1).c_str());

  Bench("SQLite file, healthy", program, port, dir + "/healthy.sqlite", dir, trace, runs);
  {
    TLibraryPlace place;
    place.File = QString::fromStdString(dir + "/locked.sqlite");
    TLibrary holder;
    if (holder.Open(place) && QSqlQuery(holder.Database()).exec("BEGIN IMMEDIATE"))
      Bench("SQLite file locked by another program", program, port, place.File.toStdString(), dir, trace, runs);
    QSqlQuery(holder.Database()).exec("ROLLBACK");
  }
  {
    // Takes connections (the kernel's backlog) and never answers.
    const int silent = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (silent >= 0 && bind(silent, reinterpret_cast<sockaddr*>(&address), size) == 0 && listen(silent, 64) == 0 &&
        getsockname(silent, reinterpret_cast<sockaddr*>(&address), &size) == 0)
      Bench("a port that never answers", program, port,
            "postgresql://ostrel@127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/library", dir, trace, runs);
    close(silent);
  }
  {
    std::vector<int> sockets;
    if (const int dropping = DroppingPort(sockets))
      Bench("a host that drops packets", program, port,
            "postgresql://ostrel@127.0.0.1:" + std::to_string(dropping) + "/library", dir, trace, runs);
    for (const int fd : sockets) close(fd);
  }
  if (!scratch.empty()) {
    const std::string state = dir + "/pg.state";
    if (std::system(("bash '" + scratch + "' start '" + state + "' >/dev/null").c_str()) == 0) {
      const std::string url = ReadLine(state, 1);
      const std::string data = ReadLine(state, 2) + "/data/postmaster.pid";
      Bench("PostgreSQL, healthy", program, port, url, dir, trace, runs);
      const pid_t pid = pid_t(std::atol(ReadLine(data, 1).c_str()));
      if (pid > 0 && kill(pid, SIGSTOP) == 0) {
        Bench("PostgreSQL server frozen (SIGSTOP)", program, port, url, dir, trace, runs);
        kill(pid, SIGCONT);
      }
      if (std::system(("bash '" + scratch + "' pause '" + state + "' >/dev/null").c_str()) == 0)
        Bench("PostgreSQL server stopped", program, port, url, dir, trace, runs);
      if (std::system(("bash '" + scratch + "' stop '" + state + "' >/dev/null 2>&1").c_str()) != 0)
        std::printf("the scratch server's files are left in %s\n", ReadLine(state, 2).c_str());
    } else {
      std::printf("PostgreSQL cases skipped: the scratch server did not start\n");
    }
  }
  std::filesystem::remove_all(dir);
  return 0;
}
