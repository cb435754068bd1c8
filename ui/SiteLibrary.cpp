#include "ui/SiteLibrary.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
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

// What lives on the library's thread.
struct TSiteLibrary::TWorker {
  // Made here, before the thread starts; opened, used and closed there only.
  std::unique_ptr<TLibrary> Library = std::make_unique<TLibrary>();
  std::optional<TLibraryPlace> Place;
  bool Usable = false;

  // Opens (again), and stores what waits in the spool.
  bool OpenNow(const QString& spoolDir) {
    if (!Place) return false;
    Library = std::make_unique<TLibrary>();
    Usable = Library->Open(*Place);
    if (Usable && !Library->ReadOnly()) {
      TRecordSpool spool(spoolDir);
      QString ignored;
      spool.Sync(*Library, &ignored);
    }
    return Usable;
  }
};

// Lives on the library's thread; a queued call of RunJob runs the owner's
// oldest job there.
class TSiteLibrary::TAgent : public QObject {
  Q_OBJECT
 public:
  explicit TAgent(TSiteLibrary& owner) : owner_(owner) {}
 public slots:
  void RunJob() { owner_.RunNext(); }

 private:
  TSiteLibrary& owner_;
};

TSiteLibrary::TSiteLibrary(QString spoolDir, QObject* parent)
    : QObject(parent), agent_(new TAgent(*this)), worker_(std::make_unique<TWorker>()), spoolDir_(std::move(spoolDir)) {
  readyFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  ready_ = new QSocketNotifier(readyFd_, QSocketNotifier::Read, this);
  connect(ready_, &QSocketNotifier::activated, this, &TSiteLibrary::FinishReady);
  thread_.setObjectName(QStringLiteral("site library"));
  agent_->moveToThread(&thread_);
  thread_.start();
}

TSiteLibrary::~TSiteLibrary() {
  // Behind every job queued before: records still waiting are stored (or
  // spooled), and the connection is closed on its own thread.
  Queue(
      [this](TLibrary&) {
        worker_->Library.reset();
        thread_.quit();
      },
      [] {});
  thread_.wait();
  // The thread's last hand-over is seen before its objects go.
  { const std::lock_guard<std::mutex> lock(mutex_); }
  delete agent_;
  delete ready_;
  close(readyFd_);
}

void TSiteLibrary::Queue(std::function<void(TLibrary&)> job, std::function<void()> done) {
  ++pending_;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back({std::move(job), std::move(done)});
  }
  QMetaObject::invokeMethod(agent_, "RunJob", Qt::QueuedConnection);
}

void TSiteLibrary::RunNext() {
  TJob job;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (jobs_.empty()) return;
    job = std::move(jobs_.front());
    jobs_.pop_front();
  }
  // Nothing thrown leaves the library's thread.
  try {
    job.Work(*worker_->Library);
  } catch (...) {
  }
  // The signal too is given under the lock: once the window holds the lock
  // after the thread has ended, the descriptor is no longer in use.
  const std::lock_guard<std::mutex> lock(mutex_);
  done_.push_back(std::move(job.Done));
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(readyFd_, &one, sizeof one);
}

void TSiteLibrary::FinishReady() {
  uint64_t count = 0;
  [[maybe_unused]] ssize_t n = read(readyFd_, &count, sizeof count);
  for (;;) {
    std::function<void()> done;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (done_.empty()) return;
      done = std::move(done_.front());
      done_.pop_front();
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
  const QString spoolDir = spoolDir_;
  Run<TOpened>(
      [this, place, spoolDir](TLibrary&) {
        worker_->Place = place;
        TOpened opened;
        opened.Ok = worker_->OpenNow(spoolDir);
        opened.ReadOnly = worker_->Library->ReadOnly();
        opened.Message = worker_->Library->Error();
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
        for (const TDifference& d : Differences(left, right)) changes[i].Names << FieldName(*d.Field);
        changes[i].Count = int(changes[i].Names.size());
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
  const QString spoolDir = Own(spoolDir_);
  Run<TStored>(
      [this, site = Own(site), record = Own(record), settings, spoolDir](TLibrary&) mutable {
        TStored stored;
        record.Settings = RecordSettingsText(settings, record.Port);
        TRecordSpool spool(spoolDir);
        QString why;
        // A library that was away is tried again: the record and what waits go in.
        if (!worker_->Usable || !worker_->Library->IsOpen()) stored.Reopened = worker_->OpenNow(spoolDir) && !worker_->Library->ReadOnly();
        if (worker_->Usable && !worker_->Library->ReadOnly()) {
          TLibrary& library = *worker_->Library;
          if (!library.FindSite(site)) {
            TSite fresh;
            fresh.Name = site;
            library.AddSite(fresh);
          }
          if (library.AddRecord(site, &record)) return stored;
          why = library.Error();
          if (const auto problem = SiteNameProblem(site)) {
            stored.Warning = "the operation was not recorded: " + *problem;
            return stored;
          }
        } else {
          why = worker_->Library->Error();
        }
        QString spoolError;
        stored.Warning = spool.Put(site, record, &spoolError)
                             ? "the library is not available (" + why + "); the record waits in " + spoolDir
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
