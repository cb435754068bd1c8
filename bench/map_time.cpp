// Exec to mapped: starts a program RUNS times and, for each run, times from
// the exec to the X server's MapNotify of the program's first top-level
// window; the program is then ended (SIGTERM) and awaited before the next
// run. Prints each time and the median in milliseconds.
//
//   bench_map_time RUNS PROGRAM [ARGS...]     (on a display without a window manager)
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds from exec to the first MapNotify of a top-level window; -1
// when none came within 20 s.
double OneRun(Display* display, char* argv[]) {
  const Window root = DefaultRootWindow(display);
  XSelectInput(display, root, SubstructureNotifyMask);
  XSync(display, True);  // events from before the start are dropped
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execv(argv[0], argv);
    _exit(127);
  }
  double ms = -1;
  const int fd = ConnectionNumber(display);
  while (Clock::now() - start < std::chrono::seconds(20)) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == MapNotify && !event.xmap.override_redirect && event.xmap.event == root) {
        ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        break;
      }
    }
    if (ms >= 0) break;
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(fd, &fds);
    timeval wait{0, 100000};
    select(fd + 1, &fds, nullptr, nullptr, &wait);
  }
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  XSelectInput(display, root, NoEventMask);
  return ms;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_map_time RUNS PROGRAM [ARGS...]\n");
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "bench_map_time: no display\n");
    return 1;
  }
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const double ms = OneRun(display, argv + 2);
    if (ms < 0) {
      std::fprintf(stderr, "bench_map_time: %s mapped no window\n", argv[2]);
      return 1;
    }
    times.push_back(ms);
    std::printf("run %d: %.1f ms\n", i + 1, ms);
  }
  std::sort(times.begin(), times.end());
  std::printf("median: %.1f ms\n", times[times.size() / 2]);
  XCloseDisplay(display);
  return 0;
}
