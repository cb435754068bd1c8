// Why a port could not be opened: the errno kept with the component's error,
// the hint for a refused or busy port, and the program that holds it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "serial/PortDiagnosis.h"
#include "serial/XComDrv.h"
#include "tests/serial/PtyPair.h"

namespace {

std::string OwnName() {
  std::ifstream comm("/proc/self/comm");
  std::string name;
  std::getline(comm, name);
  return name + " (PID " + std::to_string(getpid()) + ")";
}

int OpenFailure(const std::string& path) {
  TXComm comm;
  comm.SetDeviceName(path);
  try {
    comm.Open();
  } catch (const EDeviceError& e) {
    EXPECT_EQ(e.ErrorCode, CE_CANNOT_OPEN);
    EXPECT_EQ(std::string(e.what()), "Cannot open device " + path);  // the fixed message stays as it was
    return e.SystemError;
  }
  ADD_FAILURE() << "the port opened";
  return 0;
}

}  // namespace

TEST(PortDiagnosis, MissingPortKeepsItsErrno) {
  EXPECT_EQ(OpenFailure("/nonexistent/ttyUSB9"), ENOENT);
  EXPECT_EQ(OpenFailureReason(ENOENT, "/nonexistent/ttyUSB9"), ": нет такого файла или устройства");
}

// A second opener meets the first one's lock: busy, and the lock names the
// program that holds the port.
TEST(PortDiagnosis, LockedPortIsBusyAndNamesItsHolder) {
  PtyPair pty;
  const int holder = open(pty.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(OpenFailure(pty.Path()), EBUSY);
  EXPECT_EQ(PortHolder(pty.Path()), OwnName());
  EXPECT_EQ(OpenFailureReason(EBUSY, pty.Path()),
            ": устройство занято. Порт занят другой программой: " + OwnName());
  close(holder);
  EXPECT_EQ(PortHolder(pty.Path()), "");
  EXPECT_EQ(OpenFailureReason(EBUSY, pty.Path()), ": устройство занято. Порт занят другой программой");
}

TEST(PortDiagnosis, UucpLockFileNamesItsHolder) {
  char dir[] = "/tmp/ostrel-lockdir-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string lock = std::string(dir) + "/LCK..ttyFAKE0";
  std::ofstream(lock) << "      " << getpid() << "\n";
  EXPECT_EQ(PortHolder("/dev/ttyFAKE0", "/nonexistent/locks", std::string("/nonexistent:") + dir), OwnName());
  // A lock file of a process that is gone names nobody.
  std::ofstream(lock) << "999999999\n";
  EXPECT_EQ(PortHolder("/dev/ttyFAKE0", "/nonexistent/locks", dir), "");
  unlink(lock.c_str());
  rmdir(dir);
}

TEST(PortDiagnosis, RefusedPortPointsToTheDialoutGroup) {
  const std::string reason = OpenFailureReason(EACCES, "/dev/ttyUSB0");
  EXPECT_EQ(reason.rfind(": нет прав доступа. ", 0), 0u) << reason;
  EXPECT_NE(reason.find("dialout"), std::string::npos) << reason;
  EXPECT_EQ(OpenFailureReason(0, "/dev/ttyUSB0"), "");
}
