#include "persist/SmallFile.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsSmallRegular(const struct stat& st, qint64 limit) {
  return S_ISREG(st.st_mode) && st.st_size >= 0 && static_cast<qint64>(st.st_size) <= limit;
}

// Closes the descriptor on every way out.
struct TFd {
  int fd;
  ~TFd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

TFileRead ReadSmallFile(const QString& path, qint64 limit, QByteArray* data) {
  data->clear();
  const QByteArray name = QFile::encodeName(path);
  if (name.isEmpty()) return TFileRead::Missing;

  struct stat st {};
  if (::stat(name.constData(), &st) != 0) return errno == ENOENT ? TFileRead::Missing : TFileRead::Refused;
  if (!IsSmallRegular(st, limit)) return TFileRead::Refused;

  const TFd file{::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
  if (file.fd < 0) return errno == ENOENT ? TFileRead::Missing : TFileRead::Refused;
  if (::fstat(file.fd, &st) != 0 || !IsSmallRegular(st, limit)) return TFileRead::Refused;

  // The file may grow while we read it: read at most one byte past the limit
  // to see that it did.
  QByteArray bytes(static_cast<qsizetype>(st.st_size) + 1, Qt::Uninitialized);
  qsizetype have = 0;
  for (;;) {
    if (have == bytes.size()) {
      if (have > limit) return TFileRead::Refused;
      bytes.resize(std::min<qsizetype>(bytes.size() * 2, limit + 1));
    }
    const ssize_t n = ::read(file.fd, bytes.data() + have, static_cast<size_t>(bytes.size() - have));
    if (n < 0) {
      if (errno == EINTR) continue;
      return TFileRead::Refused;
    }
    if (n == 0) break;
    have += n;
  }
  if (have > limit) return TFileRead::Refused;
  bytes.truncate(have);
  *data = std::move(bytes);
  return TFileRead::Ok;
}
