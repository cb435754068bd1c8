// The site library as the window uses it: one TLibrary on a thread of its
// own (Qt SQL connections belong to the thread that opened them), so no query
// runs on the GUI thread and a slow or absent server never holds the window.
//
// Calls are made on the GUI thread and return at once; the work is queued to
// the library's thread in order, and its value comes back to the GUI thread
// in a callback or a signal (never after this object is gone). A record that
// the library cannot take waits in the spool (library/RecordSpool.h) for
// this library, and is stored whenever it opens.
//
// The close is bounded as the command line's run is: the thread gets
// kLibraryBudget to finish what is queued; past it, every record not yet
// stored goes to the spool, and the thread is left to end on its own (it
// stores nothing more): LibraryThreadsLeft() says so, and the program ends
// with _exit then.
//
// Jobs and their answers change threads in queues under a mutex; a queued
// call (to the library's thread) or an eventfd (back to the GUI thread) only
// says that one is waiting. So every hand-over is ordered by the mutex, which
// the thread checker sees as well, and no event made on one thread is left
// for the other to delete.
#pragma once

#include <QObject>
#include <QStringList>
#include <QString>
#include <QThread>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "library/Library.h"
#include "library/RecordSpool.h"
#include "model/Fields.h"
#include "model/Settings.h"

class QSocketNotifier;

// What a row of the history says beside the record itself: the settings it
// changed against the site's previous record that holds settings (over the
// groups both hold). Not Compared: nothing to compare with (the first
// record, or one without settings). The page names and counts them as its
// labels say them (ui/SettingNames, on the GUI thread).
struct THistoryChange {
  bool Compared = false;
  std::vector<TDifference> Differences;
};
// The changes of each record of a history (oldest first), as above.
std::vector<THistoryChange> HistoryChanges(const std::vector<TRecord>& records);

class TSiteLibrary : public QObject {
  Q_OBJECT
 public:
  // spool: where records wait when the library cannot take them.
  TSiteLibrary(TRecordSpool spool, QObject* parent = nullptr);
  // Runs what is queued within budget (the records still waiting past it
  // go to the spool), then ends the thread or leaves it behind.
  ~TSiteLibrary() override;
  // How long the close waits for the library (tests shorten it).
  void SetCloseBudget(std::chrono::milliseconds budget) { closeBudget_ = budget; }

  // Opens the library at place; Opened follows.
  void Open(const TLibraryPlace& place);
  // As the last Opened said (GUI thread).
  bool IsOpen() const { return open_; }
  bool ReadOnly() const { return readOnly_; }
  const QString& Error() const { return error_; }

  // Runs job with the library on its thread; done gets the value on the GUI
  // thread. The library may be closed: jobs look at IsOpen() themselves.
  template <class T>
  void Run(std::function<T(TLibrary&)> job, std::function<void(T)> done) {
    auto value = std::make_shared<T>();
    Queue([job = std::move(job), value](TLibrary& library) { *value = job(library); },
          [done = std::move(done), value] { done(std::move(*value)); });
  }

  // The sites whose name, address, notes, number or latest settings hold
  // text (Found). A newer search makes the answers of older ones stale: only
  // the newest comes.
  // Archived sites only with archived.
  void Search(const QString& text, bool archived = false, int limit = 500);
  // The site's records and what each changed (HistoryLoaded).
  void LoadHistory(const QString& site);
  // Stores a record of site (created when new) made of settings; the record's
  // settings text is made on the library's thread. Stored follows: warning
  // empty when stored, else why it waits in the spool.
  void Store(const QString& site, TRecord record, const TSettings& settings);

  // Waits until every call made so far has run and answered (tests).
  bool WaitIdle(int timeoutMs = 20000);
  // The thread the library works on.
  QThread* Thread() { return thread_; }

 signals:
  void Opened(bool ok, const QString& message);
  void Found(const QString& text, const std::vector<TSite>& sites);
  void HistoryLoaded(const QString& site, const std::vector<TRecord>& records,
                     const std::vector<THistoryChange>& changes);
  void Stored(const QString& site, const QString& warning);
  // Every call made so far has answered.
  void Idle();

 private:
  // GUI thread: runs the answers of the jobs that have run, oldest first.
  void FinishReady();
  void Queue(std::function<void(TLibrary&)> job, std::function<void()> done);

  // What the window and the library's thread share: it outlives this
  // object when the thread is left behind at the close.
  struct TShared;
  class TAgent;
  std::shared_ptr<TShared> shared_;
  QThread* thread_;  // left running, never deleted, when the close leaves it behind
  TAgent* agent_;    // lives on thread_
  QSocketNotifier* ready_ = nullptr;
  std::chrono::milliseconds closeBudget_ = kLibraryBudget;
  bool open_ = false;
  bool readOnly_ = false;
  QString error_;
  quint64 searches_ = 0;
  int pending_ = 0;
};

// Whether a window's library thread was left behind at its close and may
// still run: the program then ends with _exit.
bool LibraryThreadsLeft();
