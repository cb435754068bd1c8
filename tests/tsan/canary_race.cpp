// Must be reported: a thread of ours (a std::thread, as the link thread is)
// and the GUI thread write one counter without a lock. The GUI thread's access
// runs in a callback of Qt's event loop, so Qt's frames lie below it, as they
// do below most of the program's code.
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>

namespace {

int counter = 0;  // guarded by nothing: the fault this program is about
std::atomic<bool> started{false};

void CountUnguarded() { ++counter; }

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::thread worker;
  QTimer::singleShot(0, &app, [&] {
    worker = std::thread([] {
      CountUnguarded();
      // Relaxed: it orders nothing, so the two accesses stay unordered.
      started.store(true, std::memory_order_relaxed);
    });
    while (!started.load(std::memory_order_relaxed)) QThread::yieldCurrentThread();
    CountUnguarded();
    worker.join();
    app.quit();
  });
  return app.exec();
}
