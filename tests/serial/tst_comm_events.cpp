// The event watcher on a real pseudo-terminal: one deChar per arrival, a
// line that goes away, deOutEmpty from writes, and hand-off to a GUI thread.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/GuiSync.h"
#include "serial/XComDrv.h"
#include "tests/serial/PtyPair.h"

namespace {

using namespace std::chrono_literals;

// What the handlers saw; any thread may note, the test waits on it.
class TEventLog {
 public:
  void Attach(TCustomComm& comm) {
    comm.OnCommEvent = [this](TCustomComm*, TDeviceEvents events) {
      std::lock_guard lock(mutex_);
      if (events & bit(deChar)) ++chars_;
      if (events & bit(deError)) ++errors_;
      if (events & bit(deOutEmpty)) ++outEmpty_;
      thread_ = std::this_thread::get_id();
      changed_.notify_all();
    };
    comm.OnData = [this](TCustomComm*, uint32_t received) {
      std::lock_guard lock(mutex_);
      received_ = received;
      ++data_;
    };
  }
  bool WaitFor(const std::function<bool(const TEventLog&)>& done, std::chrono::milliseconds limit = 30s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return done(*this); });
  }
  template <typename T>
  T Read(T TEventLog::*field) {
    std::lock_guard lock(mutex_);
    return this->*field;
  }

  int chars_ = 0;
  int errors_ = 0;
  int outEmpty_ = 0;
  int data_ = 0;
  uint32_t received_ = 0;
  std::thread::id thread_;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) == 1;
}

class WatcherTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    comm.SetDeviceName(pty.Path());
    comm.SetSynchronize(GetParam());  // true: no GUI thread is attached, TGuiSync runs it inline
    comm.SetMonitorEvents(bit(deChar) | bit(deError));
    log.Attach(comm);
  }
  PtyPair pty;
  TXComm comm;
  TEventLog log;
};

}  // namespace

TEST_P(WatcherTest, ReportsEachArrivalOnceWhileDataStaysUnread) {
  ASSERT_TRUE(comm.Open());
  pty.Send("abc");
  ASSERT_TRUE(log.WaitFor([](const TEventLog& l) { return l.chars_ >= 1; }));
  std::this_thread::sleep_for(100ms);  // the bytes stay unread meanwhile
  EXPECT_EQ(log.Read(&TEventLog::chars_), 1);
  EXPECT_EQ(log.Read(&TEventLog::received_), 3u);
  EXPECT_NE(log.Read(&TEventLog::thread_), std::this_thread::get_id());

  pty.Send("de");
  ASSERT_TRUE(log.WaitFor([](const TEventLog& l) { return l.chars_ >= 2; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(log.Read(&TEventLog::chars_), 2);
  EXPECT_EQ(log.Read(&TEventLog::data_), 2);
  EXPECT_EQ(log.Read(&TEventLog::received_), 5u);
  EXPECT_EQ(comm.QueueCount(0), 5u);
  comm.Close();
}

TEST_P(WatcherTest, LineThatGoesAwayIsReportedAsError) {
  ASSERT_TRUE(comm.Open());
  pty.CloseMaster();
  ASSERT_TRUE(log.WaitFor([](const TEventLog& l) { return l.errors_ >= 1; }));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(log.Read(&TEventLog::errors_), 1);
  EXPECT_EQ(log.Read(&TEventLog::chars_), 0);
  comm.Close();
}

INSTANTIATE_TEST_SUITE_P(Synchronize, WatcherTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "GuiSyncInline" : "WatcherThread"; });

TEST(Watcher, WritesReportOutEmptyOnTheWritingThread) {
  PtyPair pty;
  TXComm comm;
  TEventLog log;
  comm.SetDeviceName(pty.Path());
  log.Attach(comm);
  ASSERT_TRUE(comm.Open());
  EXPECT_TRUE(comm.WriteString("abc"));
  EXPECT_EQ(log.Read(&TEventLog::outEmpty_), 1);
  EXPECT_EQ(log.Read(&TEventLog::thread_), std::this_thread::get_id());
  EXPECT_EQ(log.Read(&TEventLog::data_), 0);  // no deChar, no DoData
  comm.Close();
}

// The program's arrangement: a link thread owns the port, the GUI thread runs
// the notifications and serves them while it waits for the link thread.
TEST(Watcher, NotificationsRunOnTheGuiThreadWhileItWaits) {
  TGuiSync& sync = TGuiSync::Instance();
  sync.AttachGuiThread();
  PtyPair pty;
  TXComm comm;
  TEventLog log;
  comm.SetDeviceName(pty.Path());
  comm.SetMonitorEvents(bit(deChar));
  log.Attach(comm);
  const int linkDone = eventfd(0, EFD_CLOEXEC);
  bool sawEvent = false;
  std::string failure;
  std::thread link([&] {
    try {
      comm.Open();
      pty.Send("x");
      sawEvent = log.WaitFor([](const TEventLog& l) { return l.chars_ >= 1; });
      comm.Close();
    } catch (const std::exception& e) {
      failure = e.what();
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(linkDone, &one, sizeof one);
  });
  sync.WaitServing(linkDone);
  link.join();
  sync.DetachGuiThread();
  close(linkDone);
  EXPECT_EQ(failure, "");
  EXPECT_TRUE(sawEvent);
  EXPECT_EQ(log.Read(&TEventLog::thread_), std::this_thread::get_id());
}

// Close and destruction on the GUI thread while the watcher waits for that
// very thread to run a notification must not deadlock.
TEST(Watcher, CloseOnTheGuiThreadServesThePendingNotification) {
  TGuiSync& sync = TGuiSync::Instance();
  sync.AttachGuiThread();
  sync.Serve();
  PtyPair pty;
  TEventLog log;
  {
    TXComm comm;
    comm.SetDeviceName(pty.Path());
    log.Attach(comm);
    ASSERT_TRUE(comm.Open());
    pty.Send("x");
    ASSERT_TRUE(Readable(sync.WakeFd(), 30000));  // the watcher waits for us now
    comm.Close();
    EXPECT_EQ(log.Read(&TEventLog::chars_), 1);  // it ran here, during Close
    EXPECT_EQ(log.Read(&TEventLog::thread_), std::this_thread::get_id());
  }
  {
    auto comm = std::make_unique<TXComm>();
    comm->SetDeviceName(pty.Path());
    log.Attach(*comm);
    ASSERT_TRUE(comm->Open());
    pty.Send("y");
    ASSERT_TRUE(Readable(sync.WakeFd(), 30000));
    comm.reset();  // a component being destroyed notifies nobody
    EXPECT_EQ(log.Read(&TEventLog::chars_), 1);
  }
  sync.DetachGuiThread();
}
