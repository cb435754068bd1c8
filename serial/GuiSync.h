// Hands calls from any thread to the GUI (main) thread and waits for them.
//
// The payload travels in our own mutex-guarded queue; the GUI thread is woken
// through an eventfd (watched by a QSocketNotifier in the GUI, or polled by
// WaitServing). The GUI thread can serve calls from its event loop (Serve) and
// from a wait loop that serves nothing else (WaitServing), which is what the
// main window's wait for a link thread needs.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class TGuiSync {
 public:
  static TGuiSync& Instance();

  // GUI thread: from now on Call() hands calls to this thread.
  void AttachGuiThread();
  // GUI thread: stops handing calls over; pending calls run here first, later
  // calls run on their caller's thread.
  void DetachGuiThread();
  bool IsGuiThread() const;

  // Any thread: runs fn on the GUI thread and returns when it has run. Runs it
  // at once when called on the GUI thread or when no GUI thread is attached.
  // An exception thrown by fn is rethrown here.
  void Call(const std::function<void()>& fn);

  // Readable while calls wait to be served.
  int WakeFd() const { return wakeFd_; }

  // GUI thread: runs every waiting call; returns how many ran.
  int Serve();
  // GUI thread: serves calls until doneFd is readable (it is not read).
  void WaitServing(int doneFd);

  TGuiSync(const TGuiSync&) = delete;
  TGuiSync& operator=(const TGuiSync&) = delete;

 private:
  TGuiSync();
  ~TGuiSync();
  struct TCall;

  mutable std::mutex mutex_;
  std::deque<std::shared_ptr<TCall>> calls_;
  std::thread::id guiThread_;
  bool attached_ = false;
  int wakeFd_ = -1;
};
