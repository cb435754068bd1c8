// Posting and taking output elements across two threads: elements per second.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "output/OutArray.h"

int main() {
  constexpr int count = 2'000'000;
  TOutArray queue;
  const auto start = std::chrono::steady_clock::now();
  std::thread producer([&] {
    for (int i = 0; i < count; ++i) queue.PostMemo("-> +rt07", true, false);
  });
  int taken = 0;
  while (taken < count) {
    TOutElement* e = nullptr;
    if (queue.Pop(e) != 0)
      ++taken;
    else
      std::this_thread::yield();
  }
  producer.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("output queue: %d elements in %.3f s, %.0f elements/s\n", count, seconds, count / seconds);
  return 0;
}
