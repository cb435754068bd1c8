#include "ui/SiteLibrary.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <map>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QUuid>
#include <QSocketNotifier>
#include <QEventLoop>
#include <QTimer>

#include "library/LibraryUse.h"
#include "library/RecordSpool.h"
#include "model/Fields.h"
#include "persist/SettingsCodec.h"

namespace {

// Texts handed to the library's thread share no data with the GUI thread's:
// the thread lets go of its copy while the window may reassign the original,
// and Qt's own reference counts are invisible to the thread checker.
QString Own(QString text) {
  text.detach();
  return text;
}

TRecord Own(TRecord record) {
  for (QString* text : {&record.Uid, &record.Operator, &record.Host, &record.Detail, &record.Firmware, &record.Port})
    text->detach();
  record.Settings.detach();
  return record;
}

}  // namespace

// What the window and the library's thread share. The library, its place
// and the flag Usable are used on the thread only; the rest under Mutex.
struct TSiteLibrary::TShared {
  explicit TShared(TRecordSpool spool) : Spool(std::move(spool)) {}
  ~TShared() {
    if (ReadyFd >= 0) close(ReadyFd);
  }

  // Made here, before the thread starts; opened, used and closed there only.
  std::unique_ptr<TLibrary> Library = std::make_unique<TLibrary>();
  std::optional<TLibraryPlace> Place;
  bool Usable = false;
  const TRecordSpool Spool;

  struct TJob {
    std::function<void(TLibrary&)> Work;
    std::function<void()> Done;
  };
  // A record handed to Store and not yet stored or spooled.
  struct TUnstored {
    QString Library;  // its identity
    QString Site;
    TRecord Record;
    TSettings Settings;
  };
  std::mutex Mutex;
  std::deque<TJob> Jobs;
  std::deque<std::function<void()>> Done;
  std::map<quint64, TUnstored> Unstored;  // in the order handed in
  quint64 Handed = 0;
  // The identity of the library opened last: records stored from then on
  // are for it (set on the GUI thread).
  QString Identity;
  // The window is gone: nothing more is stored, spooled or answered here.
  bool LeftBehind = false;
  int ReadyFd = -1;  // readable while Done may hold answers

  bool GoOn() {
    const std::lock_guard<std::mutex> lock(Mutex);
    return !LeftBehind;
  }

  // Opens (again), and stores what waits in the spool for this library.
  bool OpenNow() {
    if (!Place) return false;
    Library = std::make_unique<TLibrary>();
    Library->SetCommitGate([this] { return GoOn(); });
    Usable = Library->Open(*Place);
    if (Usable && !Library->ReadOnly()) {
      QString ignored;
      TRecordSpool(Spool).Sync(*Library, &ignored, [this] { return GoOn(); });
    }
    return Usable;
  }

  // The library's thread: runs the oldest waiting job.
  void RunNext() {
    TJob job;
    {
      const std::lock_guard<std::mutex> lock(Mutex);
      if (Jobs.empty()) return;
      job = std::move(Jobs.front());
      Jobs.pop_front();
    }
    // Nothing thrown leaves the library's thread.
    try {
      job.Work(*Library);
    } catch (...) {
    }
    // The signal too is given under the lock: once the window holds the
    // lock after the thread has ended, the descriptor is no longer in use.
    const std::lock_guard<std::mutex> lock(Mutex);
    if (LeftBehind) return;
    Done.push_back(std::move(job.Done));
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(ReadyFd, &one, sizeof one);
  }
};

namespace {

std::atomic<int> threadsLeft{0};

}  // namespace

bool LibraryThreadsLeft() { return threadsLeft.load() > 0; }

// Lives on the library's thread; a queued call of RunJob runs the oldest job
// there.
class TSiteLibrary::TAgent : public QObject {
  Q_OBJECT
 public:
  explicit TAgent(std::shared_ptr<TShared> shared) : shared_(std::move(shared)) {}
 public slots:
  void RunJob() { shared_->RunNext(); }

 private:
  std::shared_ptr<TShared> shared_;
};

TSiteLibrary::TSiteLibrary(TRecordSpool spool, QObject* parent)
    : QObject(parent), shared_(std::make_shared<TShared>(std::move(spool))), thread_(new QThread),
      agent_(new TAgent(shared_)) {
  shared_->ReadyFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  ready_ = new QSocketNotifier(shared_->ReadyFd, QSocketNotifier::Read, this);
  connect(ready_, &QSocketNotifier::activated, this, &TSiteLibrary::FinishReady);
  thread_->setObjectName(QStringLiteral("site library"));
  agent_->moveToThread(thread_);
  thread_->start();
}

TSiteLibrary::~TSiteLibrary() {
  // Behind every job queued before: records still waiting are stored (or
  // spooled), and the connection is closed on its own thread.
  const std::shared_ptr<TShared> shared = shared_;
  Queue(
      [shared](TLibrary&) {
        shared->Library.reset();
        QThread::currentThread()->quit();
      },
      [] {});
  delete ready_;
  if (thread_->wait(QDeadlineTimer(closeBudget_.count()))) {
    // The thread's last hand-over is seen before its objects go.
    { const std::lock_guard<std::mutex> lock(shared_->Mutex); }
    delete agent_;
    delete thread_;
    return;
  }
  // The library did not answer in time: what it has not stored goes to the
  // spool, and the thread, which stores nothing more, is left to end on its
  // own (its last job closes the connection and ends it).
  std::map<quint64, TShared::TUnstored> unstored;
  {
    const std::lock_guard<std::mutex> lock(shared_->Mutex);
    shared_->LeftBehind = true;
    unstored.swap(shared_->Unstored);
    while (shared_->Jobs.size() > 1) shared_->Jobs.pop_front();
    shared_->Done.clear();
  }
  ++threadsLeft;
  // Once the thread has ended, its objects go on the window's thread (the
  // agent holds the shared state); a program that ends first leaves them.
  QThread* thread = thread_;
  TAgent* agent = agent_;
  QObject::connect(
      thread, &QThread::finished, QCoreApplication::instance(),
      [thread, agent] {
        thread->wait();
        delete agent;
        delete thread;
        --threadsLeft;
      },
      Qt::QueuedConnection);
  for (auto& entry : unstored) {
    TShared::TUnstored& waiting = entry.second;
    waiting.Record.Settings = RecordSettingsText(waiting.Settings, waiting.Record.Port);
    QString error;
    TRecordSpool(shared_->Spool).Put(waiting.Library, waiting.Site, waiting.Record, &error);
  }
}

void TSiteLibrary::Queue(std::function<void(TLibrary&)> job, std::function<void()> done) {
  ++pending_;
  {
    const std::lock_guard<std::mutex> lock(shared_->Mutex);
    shared_->Jobs.push_back({std::move(job), std::move(done)});
  }
  QMetaObject::invokeMethod(agent_, "RunJob", Qt::QueuedConnection);
}

void TSiteLibrary::FinishReady() {
  uint64_t count = 0;
  [[maybe_unused]] ssize_t n = read(shared_->ReadyFd, &count, sizeof count);
  for (;;) {
    std::function<void()> done;
    {
      const std::lock_guard<std::mutex> lock(shared_->Mutex);
      if (shared_->Done.empty()) return;
      done = std::move(shared_->Done.front());
      shared_->Done.pop_front();
    }
    --pending_;
    done();
    if (pending_ == 0) emit Idle();
  }
}

void TSiteLibrary::Open(const TLibraryPlace& place) {
  struct TOpened {
    bool Ok = false;
    bool ReadOnly = false;
    QString Message;
  };
  {
    // Records stored from here on are for this library.
    const std::lock_guard<std::mutex> lock(shared_->Mutex);
    shared_->Identity = Own(place.Identity());
  }
  const std::shared_ptr<TShared> shared = shared_;
  Run<TOpened>(
      [shared, place](TLibrary&) {
        shared->Place = place;
        TOpened opened;
        opened.Ok = shared->OpenNow();
        opened.ReadOnly = shared->Library->ReadOnly();
        opened.Message = shared->Library->Error();
        return opened;
      },
      [this](TOpened opened) {
        open_ = opened.Ok;
        readOnly_ = opened.ReadOnly;
        error_ = opened.Message;
        emit Opened(opened.Ok, opened.Message);
      });
}

void TSiteLibrary::Search(const QString& text, bool archived, int limit) {
  const quint64 request = ++searches_;
  Run<std::vector<TSite>>(
      [text = Own(text), archived, limit](TLibrary& library) {
        return library.IsOpen() ? library.Search(text, limit, archived) : std::vector<TSite>();
      },
      [this, request, text](std::vector<TSite> sites) {
        if (request == searches_) emit Found(text, sites);
      });
}

void TSiteLibrary::LoadHistory(const QString& site) {
  struct THistory {
    std::vector<TRecord> Records;
    std::vector<THistoryChange> Changes;
  };
  Run<THistory>(
      [site = Own(site)](TLibrary& library) {
        THistory history;
        if (!library.IsOpen()) return history;
        history.Records = library.History(site, true);
        history.Changes = HistoryChanges(history.Records);
        // The page lists records; their settings are read again when asked for.
        for (TRecord& r : history.Records) r.Settings.clear();
        return history;
      },
      [this, site](THistory history) { emit HistoryLoaded(site, history.Records, history.Changes); });
}

std::vector<THistoryChange> HistoryChanges(const std::vector<TRecord>& records) {
  std::vector<THistoryChange> changes(records.size());
  std::optional<TSettings> previous;
  for (size_t i = 0; i < records.size(); ++i) {
    TSettings settings = RecordSettings(records[i].Settings);
    if (settings.Groups.Empty()) continue;
    if (previous) {
      // A read of one page against a whole read: only what both hold counts.
      const TGroups both = settings.Groups & previous->Groups;
      if (!both.Empty()) {
        TSettings left = *previous;
        TSettings right = settings;
        left.Groups = right.Groups = both;
        changes[i].Differences = Differences(left, right);
        changes[i].Compared = true;
      }
    }
    previous = std::move(settings);
  }
  return changes;
}

void TSiteLibrary::Store(const QString& site, TRecord record, const TSettings& settings) {
  struct TStored {
    QString Warning;
    bool Reopened = false;  // the library that was away took it
  };
  // Known by its Uid from here on: the close spools it if it is not stored by then.
  if (record.Uid.isEmpty()) record.Uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
  if (!record.Time.isValid()) record.Time = QDateTime::currentDateTimeUtc();
  QString library;
  quint64 order = 0;
  {
    const std::lock_guard<std::mutex> lock(shared_->Mutex);
    library = Own(shared_->Identity);
    order = ++shared_->Handed;
    shared_->Unstored[order] = {Own(library), Own(site), Own(record), settings};
  }
  const std::shared_ptr<TShared> shared = shared_;
  Run<TStored>(
      [shared, order, library = Own(library), site = Own(site), record = Own(record), settings](TLibrary&) mutable {
        TStored stored;
        record.Settings = RecordSettingsText(settings, record.Port);
        auto settled = [&shared, order] {
          const std::lock_guard<std::mutex> lock(shared->Mutex);
          shared->Unstored.erase(order);
        };
        QString why;
        // A library that was away is tried again: the record and what waits go in.
        if (!shared->Usable || !shared->Library->IsOpen())
          stored.Reopened = shared->OpenNow() && !shared->Library->ReadOnly();
        if (shared->Usable && !shared->Library->ReadOnly()) {
          TLibrary& library = *shared->Library;
          if (!library.FindSite(site)) {
            TSite fresh;
            fresh.Name = site;
            library.AddSite(fresh);
          }
          if (library.AddRecord(site, &record)) {
            settled();
            return stored;
          }
          why = library.Error();
          if (const auto problem = SiteNameProblem(site)) {
            settled();
            stored.Warning = "the operation was not recorded: " + *problem;
            return stored;
          }
        } else {
          why = shared->Library->Error();
        }
        QString spoolError;
        bool put = false;
        {
          // Under the lock: the close, which spools what is not settled,
          // never spools it a second time.
          const std::lock_guard<std::mutex> lock(shared->Mutex);
          if (shared->LeftBehind) return stored;
          put = TRecordSpool(shared->Spool).Put(library, site, record, &spoolError);
          shared->Unstored.erase(order);
        }
        stored.Warning = put ? "the library is not available (" + why + "); the record waits in " + shared->Spool.Dir()
                             : "the operation was not recorded: " + why + "; " + spoolError;
        return stored;
      },
      [this, site](TStored stored) {
        if (stored.Reopened && !open_) {
          open_ = true;
          readOnly_ = false;
          error_.clear();
          emit Opened(true, QString());
        }
        emit Stored(site, stored.Warning);
      });
}

bool TSiteLibrary::WaitIdle(int timeoutMs) {
  if (pending_ == 0) return true;
  QEventLoop loop;
  connect(this, &TSiteLibrary::Idle, &loop, &QEventLoop::quit);
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  loop.exec();
  return pending_ == 0;
}

#include "SiteLibrary.moc"
