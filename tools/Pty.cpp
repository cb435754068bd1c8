#include "tools/Pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace ostrel::sim {

namespace {

[[noreturn]] void ThrowErrno(const char* what)
{
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

TPty::TPty()
{
  Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (Master < 0) ThrowErrno("posix_openpt");
  try {
    if (grantpt(Master) != 0) ThrowErrno("grantpt");
    if (unlockpt(Master) != 0) ThrowErrno("unlockpt");
    char name[128];
    if (ptsname_r(Master, name, sizeof name) != 0) ThrowErrno("ptsname_r");
    Slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Slave < 0) ThrowErrno("open pty slave");
    if (ttyname_r(Slave, name, sizeof name) != 0) ThrowErrno("ttyname_r");
    Path = name;

    // Turn off all line discipline tricks, give us a raw channel; without this the pty would echo
    // the program's own bytes back to it.
    termios tio{};
    if (tcgetattr(Slave, &tio) != 0) ThrowErrno("tcgetattr");
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(Slave, TCSANOW, &tio) != 0) ThrowErrno("tcsetattr");

    const int flags = fcntl(Master, F_GETFL);
    if (flags < 0 || fcntl(Master, F_SETFL, flags | O_NONBLOCK) != 0) ThrowErrno("fcntl");
  } catch (...) {
    if (Slave >= 0) ::close(Slave);
    ::close(Master);
    throw;
  }
}

TPty::~TPty()
{
  RemoveLink();
  CloseMaster();
  if (Slave >= 0) ::close(Slave);
}

bool TPty::MakeLink(const std::string& linkPath, std::string& error)
{
  struct stat st{};
  if (lstat(linkPath.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = linkPath + " exists and is not a symbolic link";
      return false;
    }
    if (::unlink(linkPath.c_str()) != 0) {
      error = linkPath + ": " + std::strerror(errno);
      return false;
    }
  }
  if (::symlink(Path.c_str(), linkPath.c_str()) != 0) {
    error = linkPath + ": " + std::strerror(errno);
    return false;
  }
  RemoveLink();
  Link = linkPath;
  return true;
}

void TPty::RemoveLink()
{
  if (Link.empty()) return;
  // Remove only a link that still points at our slave: another simulator may have taken the name.
  char target[256];
  const ssize_t n = ::readlink(Link.c_str(), target, sizeof target - 1);
  if (n >= 0 && std::string(target, static_cast<size_t>(n)) == Path) ::unlink(Link.c_str());
  Link.clear();
}

size_t TPty::SlaveInputPending() const
{
  int count = 0;
  if (Master < 0 || ioctl(Slave, FIONREAD, &count) != 0 || count < 0) return 0;
  return static_cast<size_t>(count);
}

void TPty::CloseMaster()
{
  if (Master < 0) return;
  ::close(Master);
  Master = -1;
}

}  // namespace ostrel::sim
