// The window's own cost while the ADC monitor runs: the main window,
// offscreen, connects to a panel simulator running as another process (so
// its CPU is not counted here), shows the ADC page, starts "Наблюдать" and
// watches for SECONDS. Prints the readings a second reached per channel, the
// failed readings, the process's CPU (user + system from getrusage, the link
// thread included) over the wall time, and the readings the plots keep.
//   bench_window_monitor PORT [SECONDS [WIDTH HEIGHT]]   (20 s, 1280 x 800 by default)
// For screenshots: OSTREL_BENCH_SETTINGS=FILE loads a settings file first,
// OSTREL_BENCH_PAUSE_MS=N waits N ms on the connected page before watching.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "ui/AdcMonitor.h"
#include "ui/AdcPlot.h"
#include "ui/ConnectDlg.h"
#include "ui/MainForm.h"
#include "ui/f_ACP.h"

namespace {

// who: RUSAGE_SELF (the process) or RUSAGE_THREAD (the calling thread).
double CpuSeconds(int who = RUSAGE_SELF) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_window_monitor PORT [SECONDS]\n");
    return 2;
  }
  QApplication app(argc, argv);
  const QString port = QString::fromLocal8Bit(argv[1]);
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;
  const int width = argc > 4 ? std::atoi(argv[3]) : 1280;
  const int height = argc > 4 ? std::atoi(argv[4]) : 800;
  TForm1 form(nullptr, false);
  form.SetAdcItemVisible(true);
  if (qEnvironmentVariableIsSet("OSTREL_BENCH_SETTINGS")) form.LoadSettings(qEnvironmentVariable("OSTREL_BENCH_SETTINGS"));
  form.setGeometry(0, 0, width, height);
  form.show();
  form.ShowPage(form.ACPPage());
  form.ConnectLink(port, std::string(), false);
  if (!form.IsConnected()) {
    std::fprintf(stderr, "bench_window_monitor: no connection on %s\n", argv[1]);
    return 1;
  }
  // One event loop: the pause on the page, then SECONDS of watching.
  const int pause = qEnvironmentVariableIntValue("OSTREL_BENCH_PAUSE_MS");
  double cpu0 = 0;
  double gui0 = 0;
  QElapsedTimer wall;
  bool started = false;
  QTimer::singleShot(pause, &app, [&] {
    started = form.StartMonitor();
    if (!started) return app.exit(1);
    cpu0 = CpuSeconds();
    gui0 = CpuSeconds(RUSAGE_THREAD);
    wall.start();
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
  });
  app.exec();
  if (!started) {
    std::fprintf(stderr, "bench_window_monitor: the monitor did not start\n");
    return 1;
  }
  const double cpu = CpuSeconds() - cpu0;
  const double gui = CpuSeconds(RUSAGE_THREAD) - gui0;
  const double elapsed = wall.elapsed() / 1000.0;
  TAdcMonitor* monitor = form.ACPPage()->Monitor();
  const TAdcPlot* one = monitor->Plot(1);
  const TAdcPlot* two = monitor->Plot(2);
  std::printf("window monitor, both channels, %.1f s: %.1f readings a second on channel 1, %.1f on channel 2, "
              "%d failed\n",
              elapsed, one->Readings() / elapsed, two->Readings() / elapsed, one->Failures() + two->Failures());
  std::printf("window CPU while monitoring: %.2f s over %.1f s = %.1f %% of a core (link thread included)\n", cpu,
              elapsed, 100 * cpu / elapsed);
  std::printf("of which the GUI thread (plots, sliders, applying the readings): %.2f s = %.1f %% of a core\n", gui,
              100 * gui / elapsed);
  std::printf("readings kept by the plots: %zu and %zu (a 60 s ring)\n", one->Kept(), two->Kept());
  form.StopMonitor();
  form.Disconnect();
  return 0;
}
