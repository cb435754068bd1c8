// TXComm mechanism on a real pseudo-terminal: open and close, exclusivity,
// transfers and their time-outs, a line that goes away, lock bits.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <chrono>
#include <functional>
#include <thread>

#include "serial/XComDrv.h"
#include "tests/serial/PtyPair.h"

namespace {

using Clock = std::chrono::steady_clock;

int ElapsedMs(Clock::time_point since) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

// Runs op and returns the EDeviceError it raised (code -1 when none).
EDeviceError Raised(const std::function<void()>& op) {
  try {
    op();
  } catch (const EDeviceError& e) {
    return e;
  }
  return EDeviceError("nothing raised", -1);
}

class CommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    comm.SetDeviceName(pty.Path());
    comm.Buffers().SetInputTimeout(100);
    comm.Buffers().SetOutputTimeout(100);
  }
  PtyPair pty;
  TXComm comm;
};

}  // namespace

TEST(Comm, NewComponentDefaults) {
  TXComm comm;
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_LT(comm.Handle(), 0);
  EXPECT_EQ(comm.DeviceName(), "COM2");
  EXPECT_EQ(comm.BaudRate(), br9600);
  EXPECT_EQ(comm.BaudValue(), 9600u);
  EXPECT_EQ(comm.DataControl().DataBits(), db8);
  EXPECT_EQ(comm.DataControl().Parity(), paNone);
  EXPECT_EQ(comm.DataControl().StopBits(), sb1);
  EXPECT_EQ(comm.FlowControl(), fcNone);
  EXPECT_EQ(comm.RTSSettings(), 0);
  EXPECT_EQ(comm.DTRSettings(), 0);
  EXPECT_EQ(comm.XOnXOffSettings(), 0);
  EXPECT_EQ(comm.Options(), 0);
  EXPECT_EQ(comm.Buffers().InputSize(), 2048);
  EXPECT_EQ(comm.Buffers().OutputSize(), 2048);
  EXPECT_EQ(comm.Buffers().InputTimeout(), 500);
  EXPECT_EQ(comm.Buffers().OutputTimeout(), 500);
  const uint32_t timeouts[5] = {1, 0, 1, 0, 1};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(comm.Timeouts().Get(i), timeouts[i]) << i;
  const char chars[5] = {17, 19, 0, 0, 10};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(comm.EventChars().Get(i), chars[i]) << i;
  EXPECT_EQ(comm.MonitorEvents(), bit(deChar) | bit(deFlag) | bit(deOutEmpty));
  EXPECT_TRUE(comm.Synchronize());
  EXPECT_EQ(comm.ReceivedCount(), 0u);
  EXPECT_EQ(comm.SentCount(), 0u);
  EXPECT_EQ(comm.LockState(), lsSend | lsRead);
}

TEST(Comm, DevicePathMapping) {
  // Pure string mapping: none of these is opened.
  const struct {
    const char* name;
    const char* path;
  } rows[] = {
      {"COM1", "/dev/ttyS0"},  // name mapping only
      {"COM10", "/dev/ttyS9"},  // name mapping only
      {"com3", "/dev/ttyS2"},   // name mapping only
      {"COM0", "/dev/COM0"},          {"COMX", "/dev/COMX"},      {"COM", "/dev/COM"},
      {"ttyUSB0", "/dev/ttyUSB0"},    {"/dev/pts/7", "/dev/pts/7"}, {"./dev/link", "./dev/link"},
  };
  for (const auto& row : rows) EXPECT_EQ(TCustomComm::DevicePath(row.name), row.path) << row.name;
}

TEST(Comm, ClosedComponentRefusesWithCodeOne) {
  TXComm comm;
  char c = 0;
  char buffer[4];
  const std::pair<const char*, std::function<void()>> rows[] = {
      {"Close", [&] { comm.Close(); }},
      {"ReadChar", [&] { comm.ReadChar(c); }},
      {"ReadBuffer", [&] { comm.ReadBuffer(buffer, 4, 10); }},
      {"QueueCount", [&] { comm.QueueCount(0); }},
      {"QueueCount other", [&] { comm.QueueCount(7); }},
      {"WriteChar", [&] { comm.WriteChar('x'); }},
      {"WriteString empty", [&] { comm.WriteString(""); }},
  };
  for (const auto& [name, op] : rows) {
    const EDeviceError e = Raised(op);
    EXPECT_EQ(e.ErrorCode, CE_NOT_OPEN) << name;
    EXPECT_STREQ(e.what(), "Device not opened.") << name;
  }
}

TEST(Comm, OpenFailuresNameTheDeviceAsGivenAndLeakNothing) {
  TXComm comm;
  const int before = OpenDescriptors();
  // A name with no device behind it, one with a missing path, and a file
  // that opens but is not a tty (refused by TIOCEXCL, closed again).
  for (const char* name : {"ostrel-no-such-tty", "/nonexistent/ttyX", "/dev/null"}) {
    comm.SetDeviceName(name);
    const EDeviceError e = Raised([&] { comm.Open(); });
    EXPECT_EQ(e.ErrorCode, CE_CANNOT_OPEN) << name;
    EXPECT_EQ(std::string(e.what()), std::string("Cannot open device ") + name);
    EXPECT_FALSE(comm.IsOpen());
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(CommTest, OpenIsExclusiveUntilClose) {
  ASSERT_TRUE(comm.Open());
  EXPECT_TRUE(comm.IsOpen());
  EXPECT_GE(comm.Handle(), 0);
  int exclusive = 0;
  ASSERT_EQ(ioctl(pty.Slave(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);

  TXComm second;
  second.SetDeviceName(pty.Path());
  EDeviceError e = Raised([&] { second.Open(); });
  EXPECT_EQ(e.ErrorCode, CE_CANNOT_OPEN);
  EXPECT_EQ(std::string(e.what()), "Cannot open device " + pty.Path());
  EXPECT_FALSE(second.IsOpen());

  e = Raised([&] { comm.Open(); });
  EXPECT_EQ(e.ErrorCode, CE_ALREADY_OPEN);
  EXPECT_STREQ(e.what(), "Device is allready opened.");
  EXPECT_TRUE(comm.IsOpen());

  comm.Close();
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_LT(comm.Handle(), 0);
  ASSERT_EQ(ioctl(pty.Slave(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);  // the flag outlives close unless it is cleared

  EXPECT_TRUE(second.Open());
  second.Close();
  EXPECT_TRUE(comm.Open());  // the same component opens again
}

TEST_F(CommTest, ReadCharWithoutDataTimesOutQuietlyAndSleeps) {
  ASSERT_TRUE(comm.Open());
  char c = 0;
  const auto start = Clock::now();
  const double cpuBefore = CpuMs();
  EXPECT_FALSE(comm.ReadChar(c));
  EXPECT_GE(ElapsedMs(start), 100);
  EXPECT_LT(CpuMs() - cpuBefore, 30.0) << "the wait must sleep, not spin";
  EXPECT_EQ(comm.ReceivedCount(), 0u);
}

TEST_F(CommTest, ReadBufferReturnsShortCountsAndWakesForLateData) {
  ASSERT_TRUE(comm.Open());
  char buffer[16] = {};
  pty.Send("abc");
  auto start = Clock::now();
  EXPECT_EQ(comm.ReadBuffer(buffer, 10, 100), 3u);
  EXPECT_GE(ElapsedMs(start), 100);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_EQ(comm.ReceivedCount(), 3u);
  EXPECT_EQ(comm.ReadBuffer(buffer, 0, 100), 0u);

  // Data that arrives during the wait ends it as soon as the count is complete,
  // long before its time-out.
  const uint32_t timeOutMs = 60000;
  std::thread far([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pty.Send("12");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pty.Send("345");
  });
  start = Clock::now();
  const uint32_t got = comm.ReadBuffer(buffer, 5, timeOutMs);
  const int elapsed = ElapsedMs(start);
  far.join();
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(std::string(buffer, 5), "12345");
  EXPECT_LT(elapsed, static_cast<int>(timeOutMs));
  EXPECT_EQ(comm.ReceivedCount(), 8u);
}

TEST_F(CommTest, WritesCountBytesAndCloseResetsCounters) {
  ASSERT_TRUE(comm.Open());
  EXPECT_TRUE(comm.WriteString(""));
  EXPECT_EQ(comm.SentCount(), 0u);
  EXPECT_TRUE(comm.WriteString("+v\r"));
  EXPECT_EQ(comm.SentCount(), 3u);
  EXPECT_EQ(pty.Receive(3), "+v\r");
  EXPECT_TRUE(comm.WriteChar('!'));
  EXPECT_EQ(pty.Receive(1), "!");
  EXPECT_EQ(comm.SentCount(), 4u);

  pty.Send("ok");
  ASSERT_TRUE(pty.WaitSlaveInput());
  EXPECT_EQ(comm.QueueCount(0), 2u);
  EXPECT_EQ(comm.QueueCount(5), 0u);
  char c = 0;
  EXPECT_TRUE(comm.ReadChar(c));
  EXPECT_EQ(c, 'o');
  EXPECT_EQ(comm.ReceivedCount(), 1u);

  comm.Close();
  EXPECT_EQ(comm.SentCount(), 0u);
  EXPECT_EQ(comm.ReceivedCount(), 0u);
}

TEST_F(CommTest, FullQueueGivesShortWriteThenResumesWhenDrained) {
  ASSERT_TRUE(comm.Open());
  const std::string block(256 * 1024, 'x');
  // Nobody reads the master: the pty takes a few KiB, then the time-out ends the write.
  const double cpuBefore = CpuMs();
  auto start = Clock::now();
  const uint32_t written = comm.WriteBuffer(block.data(), static_cast<uint32_t>(block.size()), 100);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, block.size());
  EXPECT_GE(ElapsedMs(start), 100);
  EXPECT_LT(CpuMs() - cpuBefore, 30.0) << "waiting for room must sleep, not spin";
  EXPECT_EQ(comm.SentCount(), written);

  // A far end that reads lets a long write finish, every byte in order.
  std::string text;
  for (int i = 0; i < 20000; ++i) text += static_cast<char>('a' + i % 26);
  std::string received;
  std::thread far([&] { received = pty.Receive(written + text.size(), 5000); });
  EXPECT_EQ(comm.WriteBuffer(text.data(), static_cast<uint32_t>(text.size()), 5000), text.size());
  far.join();
  ASSERT_EQ(received.size(), written + text.size());
  EXPECT_EQ(received.substr(written), text);
}

TEST_F(CommTest, LineThatGoesAwayRaisesReadAndWriteErrors) {
  ASSERT_TRUE(comm.Open());
  pty.CloseMaster();
  char c = 0;
  const std::pair<const char*, std::function<void()>> reads[] = {
      {"QueueCount", [&] { comm.QueueCount(0); }},
      {"ReadChar", [&] { comm.ReadChar(c); }},
  };
  for (const auto& [name, op] : reads) {
    const EDeviceError e = Raised(op);
    EXPECT_EQ(e.ErrorCode, CE_READ) << name;
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("Unable to read from port. (system error ", 0), 0u) << message;
    EXPECT_NE(message.find("Input/output error)"), std::string::npos) << message;
  }
  const EDeviceError e = Raised([&] { comm.WriteChar('x'); });
  EXPECT_EQ(e.ErrorCode, CE_WRITE);
  EXPECT_EQ(std::string(e.what()).rfind("Unable to write to port. (system error ", 0), 0u) << e.what();
  comm.Close();  // still closes cleanly
  EXPECT_FALSE(comm.IsOpen());
}

TEST_F(CommTest, HandlersCannotReenterTheirOwnTransfer) {
  ASSERT_TRUE(comm.Open());
  int sends = 0;
  comm.OnSend = [&](TCustomComm* sender) {
    ++sends;
    EXPECT_EQ(sender->LockState(), lsSend);
    sender->WriteChar('y');
  };
  EDeviceError e = Raised([&] { comm.WriteString("ab"); });
  EXPECT_EQ(e.ErrorCode, CE_SEND_LOCKED);
  EXPECT_STREQ(e.what(), "Device locked. Cannot perform send operations.");
  EXPECT_EQ(sends, 1);
  EXPECT_EQ(comm.LockState(), 0);  // cleared although the handler raised
  comm.OnSend = nullptr;
  EXPECT_TRUE(comm.WriteChar('z'));

  comm.OnRead = [](TCustomComm* sender) {
    char c = 0;
    sender->ReadChar(c);
  };
  pty.Send("q");
  ASSERT_TRUE(pty.WaitSlaveInput());
  char c = 0;
  e = Raised([&] { comm.ReadChar(c); });
  EXPECT_EQ(e.ErrorCode, CE_READ_LOCKED);
  EXPECT_STREQ(e.what(), "Device locked. Cannot perform read operations.");
  EXPECT_EQ(comm.ReceivedCount(), 1u);  // the byte was read before the handler ran
  EXPECT_EQ(comm.LockState(), 0);
}

TEST_F(CommTest, ClientLocksJoinTheLockState) {
  struct TLockingClient : TCommClient {
    void CommEvent(TDeviceEvents) override {}
  } client;
  client.Locks = lsRead;
  client.Attach(&comm);
  ASSERT_TRUE(comm.Open());
  EXPECT_EQ(comm.LockState(), lsRead);
  char c = 0;
  EXPECT_EQ(Raised([&] { comm.ReadChar(c); }).ErrorCode, CE_READ_LOCKED);
  EXPECT_TRUE(comm.WriteChar('w'));
  client.Detach();
  EXPECT_EQ(comm.LockState(), 0);
}

TEST_F(CommTest, LineSettingsWithRefusedModemLinesDoNotThrow) {
  // A pty refuses TIOCMBIS/TIOCMBIC: RTS and DTR changes are ignored quietly.
  comm.SetFlowControl(fcDtrDsr);  // DTR and RTS on
  ASSERT_TRUE(comm.Open());
  comm.SetFlowControl(fcCustom);
  EXPECT_NO_THROW(comm.SetRTSSettings(0));
  EXPECT_NO_THROW(comm.SetRTSSettings(bit(fsRTSEnabled)));
  EXPECT_NO_THROW(comm.SetDTRSettings(0));
  int rts = TIOCM_RTS;
  EXPECT_NE(ioctl(comm.Handle(), TIOCMBIS, &rts), 0);  // what the link's modem escape meets
}

TEST(CommErrors, SystemErrorMessageFormat) {
  errno = EIO;
  try {
    RaiseSystemDeviceError("Unable to read from port.", CE_READ);
    FAIL() << "nothing raised";
  } catch (const EDeviceError& e) {
    EXPECT_EQ(e.ErrorCode, CE_READ);
    EXPECT_STREQ(e.what(), "Unable to read from port. (system error 5: Input/output error)");
  }
}
