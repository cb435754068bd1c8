// One window for one set of files: a second start hands over to the running
// window and ends with 0; a lock left by a window that died is taken over.
// The guard itself in one process, then the real window program in several.
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <QTest>
#include <QThread>
#include <memory>

#include "ui/SingleInstance.h"

namespace {

// A copy of the window's program in a directory of its own, so that its
// files (and so its lock) are its own and the build's stay untouched.
class TWindowCopy {
 public:
  TWindowCopy() {
    program_ = dir_.filePath("ostrelgsm4-window");
    QFile::copy(QStringLiteral(OSTRELGSM4_WINDOW_BINARY), program_);
    QDir().mkpath(dir_.filePath("home"));
    QDir().mkpath(dir_.filePath("runtime"));
    QFile::setPermissions(dir_.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("QT_QPA_PLATFORM", "offscreen");
    env_.insert("HOME", dir_.filePath("home"));
    env_.insert("XDG_CONFIG_HOME", dir_.filePath("home/.config"));
    env_.insert("XDG_DATA_HOME", dir_.filePath("home/.local/share"));
    env_.insert("XDG_RUNTIME_DIR", dir_.filePath("runtime"));
  }
  std::unique_ptr<QProcess> Start() {
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(env_);
    p->start(program_, {});
    return p;
  }
  // The running window listens once its socket is there.
  bool Listening() const {
    return !QDir(dir_.filePath("runtime")).entryList({"ostrelgsm4-*.sock"}, QDir::System | QDir::Files).isEmpty();
  }

 private:
  QTemporaryDir dir_;
  QString program_;
  QProcessEnvironment env_;
};

}  // namespace

class TestSingleInstance : public QObject {
  Q_OBJECT

 private slots:
  // In one process: the first claim holds the lock; a later one (on another
  // thread, as another process would) is answered and the first is raised;
  // other files are another window's business.
  void guard() {
    QTemporaryDir runtime;
    TSingleInstance first("/home/a/.config/OstrelGSM4", runtime.path());
    int raised = 0;
    first.OnRaise = [&] { ++raised; };
    QCOMPARE(first.Claim(), TSingleInstance::TClaim::First);
    // Atomic: Qt's own locks, which order the thread's end, are not seen by
    // ThreadSanitizer.
    std::atomic<TSingleInstance::TClaim> second{TSingleInstance::TClaim::Failed};
    std::atomic<TSingleInstance::TClaim> other{TSingleInstance::TClaim::Failed};
    std::unique_ptr<QThread> later(QThread::create([&] {
      TSingleInstance again("/home/a/.config/OstrelGSM4/", runtime.path());
      second = again.Claim(5000);
      TSingleInstance elsewhere("/home/b/.config/OstrelGSM4", runtime.path());
      other = elsewhere.Claim(5000);
    }));
    later->start();
    QTRY_VERIFY_WITH_TIMEOUT(raised == 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(later->isFinished(), 10000);
    QCOMPARE(second.load(), TSingleInstance::TClaim::HandedOver);
    QCOMPARE(other.load(), TSingleInstance::TClaim::First);
  }

  // Files left by a window that died (a lock nobody holds, a socket nobody
  // listens on) are taken over.
  void staleFilesTakenOver() {
    QTemporaryDir runtime;
    {
      TSingleInstance probe("/x", runtime.path());
      QFile lock(probe.LockFile());
      QVERIFY(lock.open(QIODevice::WriteOnly));
      QFile socket(probe.SocketFile());
      QVERIFY(socket.open(QIODevice::WriteOnly));
    }
    TSingleInstance next("/x", runtime.path());
    QCOMPARE(next.Claim(1000), TSingleInstance::TClaim::First);
  }

  // The real program: a second start ends with 0 and leaves the first
  // running; after the first is killed, the next start takes over.
  void twoProcesses() {
    TWindowCopy copy;
    auto first = copy.Start();
    QVERIFY(first->waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(copy.Listening(), 30000);

    auto second = copy.Start();
    QVERIFY(second->waitForFinished(30000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);

    // A crash: the lock and the socket file stay behind.
    ::kill(pid_t(first->processId()), SIGKILL);
    QVERIFY(first->waitForFinished(10000));
    QVERIFY(copy.Listening());
    auto third = copy.Start();
    QVERIFY(third->waitForStarted(10000));
    // The third runs on as the window: a fourth start hands over to it.
    QTest::qWait(200);
    auto fourth = copy.Start();
    QVERIFY(fourth->waitForFinished(30000));
    QCOMPARE(fourth->exitCode(), 0);
    QCOMPARE(third->state(), QProcess::Running);
    third->terminate();
    QVERIFY(third->waitForFinished(30000));
  }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
