// Measures what an idle connection costs: a link thread on the panel
// simulator, past its connection check, doing nothing but its idle steps.
// Prints the CPU time used per second of wall time, as a percentage of a core.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "link/xModem.h"
#include "protocol/DevOstrel.h"
#include "tools/PanelSim.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char* argv[]) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
  ostrel::sim::TPanelSim panel;
  panel.Start();
  TOutArray queue;
  TDevOstrel device(queue);
  TModem link(panel.SlavePath(), "", queue, device, true);
  device.SetLink(&link);
  link.Start();
  // Let the connection check finish, then drain what it posted.
  while (link.GetMode() != 0 || panel.Commands().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::atomic<bool> done{false};
  std::thread consumer([&] {
    while (!done.load()) {
      TOutElement* e = nullptr;
      while (queue.Pop(e) != 0) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // as the GUI's timer does
    }
  });
  const double cpu0 = CpuSeconds();
  const auto wall0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpu = CpuSeconds() - cpu0;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  done = true;
  consumer.join();
  link.Terminate();
  link.WaitFor();
  std::printf("idle link: %.3f %% of a core over %.1f s (%.1f ms CPU)\n", 100.0 * cpu / wall, wall, cpu * 1000);
  return 0;
}
