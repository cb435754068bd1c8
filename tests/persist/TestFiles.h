// Helpers for the tests of files: exact bytes in and out, and permissions as
// a user meets them.
//
// Root ignores file modes. Capabilities belong to a thread, so a thread that
// drops the ones that bypass permission checks (from its permitted set too,
// which access() consults) meets the modes as a user would; the test's main
// thread keeps them.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QFile>
#include <QTest>
#include <thread>

namespace testfiles {

inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(bytes), bytes.size());
}

}  // namespace testfiles

namespace testcaps {

inline bool DropPermissionOverride() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  const unsigned mask = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
  data[0].effective &= ~mask;
  data[0].permitted &= ~mask;
  data[0].inheritable &= ~mask;
  return syscall(SYS_capset, &header, data) == 0;
}

// Runs fn on a thread without those capabilities; false when they could not
// be dropped (fn did not run). The calling thread waits, so fn may read
// widgets that the calling thread owns.
template <class Fn>
bool RunWithoutOverride(Fn fn) {
  bool dropped = false;
  std::thread worker([&] {
    dropped = DropPermissionOverride();
    if (dropped) fn();
  });
  worker.join();
  return dropped;
}

}  // namespace testcaps
