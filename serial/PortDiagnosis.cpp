#include "serial/PortDiagnosis.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "serial/XComDrv.h"

namespace {

std::string ProcessName(long pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  if (!comm || !std::getline(comm, name) || name.empty()) return {};
  return name + " (PID " + std::to_string(pid) + ")";
}

// A line of /proc/locks: "1: FLOCK  ADVISORY  WRITE 1234 00:05:12 0 EOF"
// (major and minor in hexadecimal, then the inode).
long FlockOwner(const std::string& devicePath, const std::string& locksFile) {
  struct stat st {};
  if (stat(devicePath.c_str(), &st) != 0) return 0;
  std::ifstream locks(locksFile);
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, device;
    long pid = 0;
    if (!(fields >> number >> kind)) continue;
    // A blocked waiter's line carries "->" before the kind.
    if (kind == "->" && !(fields >> kind)) continue;
    if (!(fields >> mode >> access >> pid >> device) || kind != "FLOCK") continue;
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    char c1 = 0, c2 = 0;
    std::istringstream dev(device);
    dev >> std::hex >> major >> c1 >> minor >> c2 >> std::dec >> inode;
    if (!dev || c1 != ':' || c2 != ':') continue;
    if (major == major(st.st_dev) && minor == minor(st.st_dev) && inode == st.st_ino) return pid;
  }
  return 0;
}

// UUCP lock files hold the owner's PID, as text (or, rarely, as a binary int).
long LockFileOwner(const std::string& devicePath, const std::string& lockDirs) {
  const std::string base = devicePath.substr(devicePath.find_last_of('/') + 1);
  std::istringstream dirs(lockDirs);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::ifstream lock(dir + "/LCK.." + base);
    long pid = 0;
    if (lock >> pid && pid > 0) return pid;
  }
  return 0;
}

}  // namespace

std::string PortHolder(const std::string& devicePath, const std::string& locksFile, const std::string& lockDirs) {
  for (long pid : {FlockOwner(devicePath, locksFile), LockFileOwner(devicePath, lockDirs)}) {
    if (pid <= 0) continue;
    const std::string name = ProcessName(pid);
    if (!name.empty()) return name;
  }
  return {};
}

std::string SystemErrorTextRu(int err) {
  static const struct {
    int Err;
    const char* Text;
  } kTexts[] = {
      {EPERM, "операция не разрешена"},
      {ENOENT, "нет такого файла или устройства"},
      {EIO, "ошибка ввода-вывода (устройство отключено или не отвечает)"},
      {ENXIO, "устройство не подключено"},
      {ENODEV, "нет такого устройства"},
      {EACCES, "нет прав доступа"},
      {EBUSY, "устройство занято"},
      {EEXIST, "файл уже существует"},
      {ENOTDIR, "часть пути не является каталогом"},
      {EISDIR, "это каталог, а не файл"},
      {EINVAL, "недопустимый параметр"},
      {ENFILE, "в системе открыто слишком много файлов"},
      {EMFILE, "открыто слишком много файлов"},
      {ENOTTY, "устройство не является последовательным портом"},
      {EFBIG, "файл слишком велик"},
      {ENOSPC, "нет места на диске"},
      {EROFS, "файловая система только для чтения"},
      {EAGAIN, "ресурс временно недоступен"},
      {EINTR, "операция прервана"},
      {ENAMETOOLONG, "слишком длинное имя файла"},
      {ELOOP, "слишком много символических ссылок"},
      {ETIMEDOUT, "время ожидания истекло"},
      {EDQUOT, "превышена дисковая квота"},
      {EPIPE, "канал закрыт другой стороной"},
      {ENOMEM, "недостаточно памяти"},
  };
  if (err == 0) return {};
  for (const auto& t : kTexts)
    if (t.Err == err) return t.Text;
  return "системная ошибка " + std::to_string(err);
}

std::string OpenFailureReason(int err, const std::string& devicePath) {
  if (err == 0) return {};
  std::string reason = ": " + SystemErrorTextRu(err);
  if (err == EACCES) {
    reason += ". Нет прав на порт: добавьте пользователя в группу dialout и войдите в систему заново";
  } else if (err == EBUSY) {
    const std::string holder = PortHolder(devicePath);
    reason += ". Порт занят другой программой" + (holder.empty() ? std::string() : ": " + holder);
  }
  return reason;
}
