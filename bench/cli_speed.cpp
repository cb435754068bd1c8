// How close `ostrelgsm4 read` and `write` come to the protocol's floor, how
// soon the program puts its first byte on the line, and its peak memory.
//
// Runs the built program against the panel simulator (instant answers) a
// number of times and measures, on the simulator's side, the time from its
// answer to the connection check ("+v") to its last answer. The start-up is
// the time from the spawn to the arrival of the first byte of "+v" (its
// carriage return arrives 2 ms of character pauses after it). The floor is what
// the link must wait for the commands it actually sent after that answer: per
// command the 10 ms drain before it and 1 ms after each character (carriage
// return included), plus the idle step's 10 ms drain once.
//
// With FLOOR (bench_qt_floor), the first byte is also measured for a bare
// Qt program that opens the port at once and drains 10 ms: what the program
// takes beyond that is its own.
//
//   bench_cli_speed PROGRAM [RUNS] [FLOOR]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "tools/PanelSim.h"

extern char** environ;

namespace {

using TSimClock = ostrel::sim::TSimServer::TClock;

constexpr double kDrainMs = 10;
constexpr double kCharacterMs = 1;

// What the simulator saw of one run: each command with the time it arrived,
// and the time of every write onto the line.
struct TTrace {
  std::mutex Mutex;
  std::vector<std::pair<TSimClock::time_point, std::string>> Commands;
  std::vector<TSimClock::time_point> Sent;

  void Clear() {
    std::lock_guard lock(Mutex);
    Commands.clear();
    Sent.clear();
  }
};

struct TRun {
  double ElapsedMs = 0;
  double FloorMs = 0;
  size_t Commands = 0;
  // The part up to the arrival of the first command after the check: the
  // program's reaction to the check's end, the idle drain and that command.
  double StartMs = 0;
  double StartFloorMs = 0;
  // From the spawn to the first byte of the first command.
  double FirstByteMs = 0;
};

// What the program took: its peak resident memory.
struct TUsage {
  long MaxRssKb = 0;
};

// Starts the program with its standard error going to errorFile and waits
// for it; returns its exit status (-1 when it could not be run or did not
// exit normally).
int RunProgram(const std::vector<std::string>& args, const std::string& errorFile, TUsage& usage) {
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
  rusage resources{};
  while (wait4(pid, &status, 0, &resources) < 0) {
  }
  usage.MaxRssKb = resources.ru_maxrss;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A panel with every setting in use, so that the commands have their full length.
ostrel::sim::TPanelState FullPanel() {
  ostrel::sim::TPanelState state;
  for (int i = 0; i < ostrel::sim::kEntryCount; ++i) {
    state.Phones[static_cast<size_t>(i)] = "891612345" + std::to_string(10 + i);
    // The upper row of each loop is its normal state, the lower row not.
    state.Flags[static_cast<size_t>(i)] = i < 4 ? "100" : i < 8 ? "111" : "110";
  }
  for (int i = 0; i < ostrel::sim::kKeyCount; ++i) state.Keys[static_cast<size_t>(i)] = "01A2B3C4D5E6F70" + std::to_string(i);
  state.EntryDelay = 30;
  state.ExitDelay = 10;
  state.FastArming = true;
  state.GsmModule = 1;
  state.Ring = 3;
  return state;
}

// From the answer to the first "+v" to the last answer, and the floor for the
// commands that came after that "+v".
bool Measure(TTrace& trace, TSimClock::time_point spawned, TRun& run) {
  std::lock_guard lock(trace.Mutex);
  const auto check = std::find_if(trace.Commands.begin(), trace.Commands.end(),
                                  [](const auto& c) { return c.second == "+v"; });
  if (check == trace.Commands.end() || trace.Sent.empty()) return false;
  run.FirstByteMs = std::chrono::duration<double, std::milli>(trace.Commands.front().first - spawned).count() -
                    kCharacterMs * static_cast<double>(trace.Commands.front().second.size());
  const auto answer = std::lower_bound(trace.Sent.begin(), trace.Sent.end(), check->first);
  if (answer == trace.Sent.end()) return false;
  run.ElapsedMs = std::chrono::duration<double, std::milli>(trace.Sent.back() - *answer).count();
  run.FloorMs = kDrainMs;
  run.Commands = 0;
  for (auto c = check + 1; c != trace.Commands.end(); ++c) {
    run.FloorMs += kDrainMs + kCharacterMs * static_cast<double>(c->second.size() + 1);
    ++run.Commands;
    if (run.Commands == 1) {
      run.StartMs = std::chrono::duration<double, std::milli>(c->first - *answer).count();
      run.StartFloorMs = run.FloorMs;
    }
  }
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median time from exec to the first byte of a program that sends "+v"
// first; a negative value when a run failed.
double FirstByte(TTrace& trace, const std::vector<std::string>& args, const std::string& errorFile, int runs) {
  std::vector<double> firstBytes;
  for (int i = 0; i < runs; ++i) {
    trace.Clear();
    TUsage usage;
    const TSimClock::time_point spawned = TSimClock::now();
    const int rc = RunProgram(args, errorFile, usage);
    std::lock_guard lock(trace.Mutex);
    if (rc != 0 || trace.Commands.empty() || trace.Commands.front().second != "+v") return -1;
    firstBytes.push_back(std::chrono::duration<double, std::milli>(trace.Commands.front().first - spawned).count() -
                         kCharacterMs * static_cast<double>(trace.Commands.front().second.size()));
  }
  return Median(firstBytes);
}

bool Bench(const char* name, TTrace& trace, const std::vector<std::string>& args, const std::string& errorFile,
           int runs) {
  std::vector<double> elapsed;
  std::vector<double> floors;
  std::vector<double> startExcess;
  std::vector<double> restExcess;
  std::vector<double> firstBytes;
  long maxRssKb = 0;
  size_t commands = 0;
  for (int i = 0; i < runs; ++i) {
    trace.Clear();
    TUsage usage;
    const TSimClock::time_point spawned = TSimClock::now();
    const int rc = RunProgram(args, errorFile, usage);
    TRun run;
    if (rc != 0 || !Measure(trace, spawned, run)) {
      std::fprintf(stderr, "bench_cli_speed: %s run %d failed (exit status %d), its standard error is in %s\n",
                   name, i + 1, rc, errorFile.c_str());
      return false;
    }
    elapsed.push_back(run.ElapsedMs);
    floors.push_back(run.FloorMs);
    startExcess.push_back(run.StartMs - run.StartFloorMs);
    restExcess.push_back((run.ElapsedMs - run.StartMs) - (run.FloorMs - run.StartFloorMs));
    firstBytes.push_back(run.FirstByteMs);
    maxRssKb = std::max(maxRssKb, usage.MaxRssKb);
    commands = run.Commands;
  }
  const double median = Median(elapsed);
  const double floor = Median(floors);
  std::printf("%-5s median %7.1f ms (min %.1f, max %.1f)  floor %6.1f ms (%zu commands)  ratio %.3f x\n", name,
              median, *std::min_element(elapsed.begin(), elapsed.end()),
              *std::max_element(elapsed.begin(), elapsed.end()), floor, commands, median / floor);
  std::printf("      over the floor (medians): %.1f ms up to the first command, %.1f ms over the rest\n",
              Median(startExcess), Median(restExcess));
  std::printf("      from exec to the first byte on the line: median %.1f ms (max %.1f); peak RSS %.1f MB\n",
              Median(firstBytes), *std::max_element(firstBytes.begin(), firstBytes.end()),
              static_cast<double>(maxRssKb) / 1024.0);
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_cli_speed PROGRAM [RUNS] [FLOOR]\n");
    return 2;
  }
  const std::string program = argv[1];
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;

  ostrel::sim::TPanelSim panel;
  panel.SetState(FullPanel());
  TTrace trace;
  panel.SetCommandHandler([&](const std::string& command) {
    std::lock_guard lock(trace.Mutex);
    trace.Commands.emplace_back(TSimClock::now(), command);
  });
  panel.SetSentHandler([&](TSimClock::time_point at) {
    std::lock_guard lock(trace.Mutex);
    trace.Sent.push_back(at);
  });
  panel.Start();

  const auto dir = std::filesystem::temp_directory_path() / ("ostrel-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "panel.ini").string();
  const std::string errors = (dir / "stderr.txt").string();
  const std::string port = panel.SlavePath();
  std::printf("%d runs each against the simulator on %s\n", runs, port.c_str());
  // The read's file is a complete settings file: the writes send it back.
  const bool ok =
      Bench("read", trace, {program, "read", "--port", port, "--out", file, "--quiet"}, errors, runs) &&
      Bench("write", trace, {program, "write", "--port", port, "--in", file, "--quiet"}, errors, runs);
  if (ok && argc > 3) {
    const double floor = FirstByte(trace, {argv[3], port}, errors, runs);
    if (floor < 0) {
      std::fprintf(stderr, "bench_cli_speed: %s failed, its standard error is in %s\n", argv[3], errors.c_str());
      return 1;
    }
    std::printf("first byte of a bare Qt program that opens the port at once and drains 10 ms: median %.1f ms\n",
                floor);
  }
  // A failed run's standard error is kept for reading.
  if (ok) std::filesystem::remove_all(dir);
  return ok ? 0 : 1;
}
