#include "ui/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

const char kRaise[] = "raise\n";
const char kRaised[] = "raised\n";

bool SocketAddress(const QString& path, sockaddr_un* address) {
  const QByteArray bytes = QFile::encodeName(path);
  if (bytes.size() >= qsizetype(sizeof address->sun_path)) return false;
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, bytes.constData(), size_t(bytes.size()));
  return true;
}

// Waits until fd is ready for events or the deadline passes.
bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, int(left));
    if (n > 0) return (p.revents & events) != 0;
    if (n < 0 && errno != EINTR) return false;
  }
}

}  // namespace

QString TSingleInstance::RuntimeDir() {
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QDir::isAbsolutePath(QString::fromLocal8Bit(runtime)) &&
      QFileInfo(QString::fromLocal8Bit(runtime)).isDir())
    return QDir::cleanPath(QString::fromLocal8Bit(runtime));
  // No runtime directory: a private one of our own in /tmp, owned by us.
  const QString dir = QStringLiteral("/tmp/ostrelgsm4-%1").arg(geteuid());
  const QByteArray path = QFile::encodeName(dir);
  if (mkdir(path.constData(), 0700) != 0 && errno != EEXIST) return QString();
  struct stat st {};
  if (lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 0077) != 0)
    return QString();
  return dir;
}

TSingleInstance::TSingleInstance(const QString& filesDir, const QString& runtimeDir, QObject* parent)
    : QObject(parent) {
  const QString dir = runtimeDir.isEmpty() ? RuntimeDir() : QDir::cleanPath(runtimeDir);
  const QByteArray key = QCryptographicHash::hash(QFile::encodeName(QDir::cleanPath(filesDir)),
                                                  QCryptographicHash::Sha256)
                             .toHex()
                             .left(16);
  if (!dir.isEmpty()) base_ = dir + QStringLiteral("/ostrelgsm4-") + QString::fromLatin1(key);
}

TSingleInstance::~TSingleInstance() {
  if (listenFd_ >= 0) {
    delete notifier_;
    ::close(listenFd_);
    // Only the lock's holder removes the socket: the next start binds anew.
    unlink(QFile::encodeName(SocketFile()).constData());
  }
  if (lockFd_ >= 0) ::close(lockFd_);
}

TSingleInstance::TClaim TSingleInstance::Claim(int waitMs) {
  if (base_.isEmpty()) return TClaim::Failed;
  lockFd_ = ::open(QFile::encodeName(LockFile()).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lockFd_ < 0) return TClaim::Failed;
  if (flock(lockFd_, LOCK_EX | LOCK_NB) == 0) return Listen() ? TClaim::First : TClaim::Failed;
  const int err = errno;
  ::close(lockFd_);
  lockFd_ = -1;
  if (err != EWOULDBLOCK) return TClaim::Failed;
  return HandOver(waitMs) ? TClaim::HandedOver : TClaim::NoAnswer;
}

bool TSingleInstance::Listen() {
  sockaddr_un address{};
  if (!SocketAddress(SocketFile(), &address)) return false;
  // A socket file left by a window that died goes: we hold the lock now.
  unlink(address.sun_path);
  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0) return false;
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listenFd_, 4) != 0) {
    ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  notifier_ = new QSocketNotifier(listenFd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TSingleInstance::Accept);
  return true;
}

void TSingleInstance::Accept() {
  for (;;) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    // A later start says one short line as soon as it connects; anything
    // else is ignored.
    char buffer[16] = {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    size_t got = 0;
    while (got < sizeof kRaise - 1 && WaitFor(fd, POLLIN, deadline)) {
      const ssize_t n = read(fd, buffer + got, sizeof kRaise - 1 - got);
      if (n <= 0) break;
      got += size_t(n);
    }
    if (got == sizeof kRaise - 1 && std::memcmp(buffer, kRaise, got) == 0) {
      if (OnRaise) OnRaise();
      [[maybe_unused]] const ssize_t w = write(fd, kRaised, sizeof kRaised - 1);
    }
    ::close(fd);
  }
}

bool TSingleInstance::HandOver(int waitMs) {
  sockaddr_un address{};
  if (!SocketAddress(SocketFile(), &address)) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  // The holder may be starting and not listen yet: try again until the deadline.
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      bool raised = write(fd, kRaise, sizeof kRaise - 1) == ssize_t(sizeof kRaise - 1);
      char buffer[sizeof kRaised] = {};
      size_t got = 0;
      while (raised && got < sizeof kRaised - 1 && WaitFor(fd, POLLIN, deadline)) {
        const ssize_t n = read(fd, buffer + got, sizeof kRaised - 1 - got);
        if (n <= 0) break;
        got += size_t(n);
      }
      ::close(fd);
      return raised && got == sizeof kRaised - 1 && std::memcmp(buffer, kRaised, got) == 0;
    }
    ::close(fd);
    // Not listening yet: wait a little (poll with no descriptors sleeps).
    poll(nullptr, 0, 50);
  }
  return false;
}
