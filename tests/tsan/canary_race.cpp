// Must be reported: two threads of ours write one counter without a lock.
// One runs in a thread that Qt started, the other in a callback of Qt's event
// loop, so Qt's frames lie below both accesses, as they do below most of the
// program's code.
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <atomic>

namespace {

int counter = 0;  // guarded by nothing: the fault this program is about
std::atomic<bool> started{false};

void CountUnguarded() { ++counter; }

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QThread* worker = QThread::create([] {
    CountUnguarded();
    // Relaxed: it orders nothing, so the two accesses stay unordered.
    started.store(true, std::memory_order_relaxed);
  });
  QTimer::singleShot(0, &app, [&] {
    worker->start();
    while (!started.load(std::memory_order_relaxed)) QThread::yieldCurrentThread();
    CountUnguarded();
    worker->wait();
    app.quit();
  });
  const int code = app.exec();
  delete worker;
  return code;
}
