// One window at a time for each set of the program's files: a second window
// started while one runs with the same "current.ini" hands over to it (the
// running one comes forward) and ends, so two copies never overwrite each
// other's settings, port and recent files.
//
// The running window holds an flock on a lock file in the user's runtime
// directory ($XDG_RUNTIME_DIR, else a private /tmp/ostrelgsm4-<uid>) and
// listens on a Unix socket beside it. The kernel drops the lock of a process
// that died, so a lock left by a crash is taken over by the next start, and
// the stale socket file with it. The names carry a hash of the directory of
// "current.ini", so copies with files of their own do not meet.
//
// GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QSocketNotifier;

class TSingleInstance : public QObject {
  Q_OBJECT
 public:
  enum class TClaim {
    First,       // this process holds the lock and listens
    HandedOver,  // another window runs and came forward when asked
    NoAnswer,    // another window holds the lock but did not answer in time
    Failed,      // no lock could be made: the window runs without the guard
  };

  // filesDir: the directory whose files the lock guards; runtimeDir: where
  // the lock and the socket live (empty: the user's runtime directory).
  explicit TSingleInstance(const QString& filesDir, const QString& runtimeDir = QString(),
                           QObject* parent = nullptr);
  ~TSingleInstance() override;

  // Takes the lock or, when another process holds it, asks that one to come
  // forward and waits up to waitMs for its answer.
  TClaim Claim(int waitMs = 3000);
  // Runs in the first process for each later start (before it answers).
  std::function<void()> OnRaise;

  QString LockFile() const { return base_ + QStringLiteral(".lock"); }
  QString SocketFile() const { return base_ + QStringLiteral(".sock"); }
  // The user's runtime directory as the guard uses it, with no separator at
  // the end; empty when none can be made.
  static QString RuntimeDir();

 private:
  bool Listen();
  void Accept();
  bool HandOver(int waitMs);

  QString base_;
  int lockFd_ = -1;
  int listenFd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
};
