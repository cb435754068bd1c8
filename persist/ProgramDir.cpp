#include "persist/ProgramDir.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

const char* const kSubdir = "OstrelGSM4";

QString& Override() {
  static QString dir;
  return dir;
}

QString WithSeparator(const QString& dir) { return dir.endsWith(u'/') ? dir : dir + u'/'; }

QString Canonical(const QString& path) {
  const QString canonical = QFileInfo(path).canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : canonical;
}

// The program's own directory when it keeps its files there, else empty.
QString OwnDirIfKept() {
  const QString own = QCoreApplication::applicationDirPath();
#ifdef OSTREL_BUILD_TREE
  if (!own.isEmpty() && KeepsFilesBeside(own, QStringLiteral(OSTREL_BUILD_TREE))) return own;
#endif
  return QString();
}

// Decided once per run, so that one run never splits its files over two
// places; without an application object there is no program file to go by.
QString Decide(const char* variable, const char* underHome) {
  const QString own = OwnDirIfKept();
  if (!own.isEmpty()) return WithSeparator(QDir::cleanPath(own));
  const QString base = UserBaseDir(variable, underHome);
  if (base.isEmpty()) return WithSeparator(QDir::currentPath());
  const QString dir = base + u'/' + QLatin1String(kSubdir);
  MakePrivateDir(dir);
  return WithSeparator(QDir::cleanPath(dir));
}

}  // namespace

QString HomeDir() {
  const QString home = qEnvironmentVariable("HOME");
  if (QDir::isAbsolutePath(home)) return QDir::cleanPath(home);
  // Started without an environment (env -i, a service): the password database.
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
  passwd entry {};
  passwd* found = nullptr;
  while (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
    buffer.resize(buffer.size() * 2);
  if (!found || !found->pw_dir) return QString();
  const QString dir = QFile::decodeName(found->pw_dir);
  return QDir::isAbsolutePath(dir) ? QDir::cleanPath(dir) : QString();
}

QString UserBaseDir(const char* variable, const char* underHome) {
  // A relative path in an XDG variable is to be ignored.
  const QString set = qEnvironmentVariable(variable);
  if (QDir::isAbsolutePath(set)) return QDir::cleanPath(set);
  const QString home = HomeDir();
  return home.isEmpty() ? QString() : QDir::cleanPath(home + u'/' + QLatin1String(underHome));
}

bool KeepsFilesBeside(const QString& appDir, const QString& buildTree) {
  const QString dir = Canonical(appDir);
  const QString tree = Canonical(buildTree);
  if (dir != tree && !dir.startsWith(WithSeparator(tree))) return false;
  const QFileInfo info(dir);
  return info.ownerId() == ::geteuid() && info.isWritable();
}

bool MakePrivateDir(const QString& dir) {
  if (QFileInfo(dir).isDir()) return true;
  if (!QDir().mkpath(dir)) return false;
  QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  return true;
}

QString ProgramDir() {
  if (!Override().isEmpty()) return Override();
  static QString dir;
  if (dir.isEmpty() && QCoreApplication::instance()) dir = Decide("XDG_CONFIG_HOME", ".config");
  return dir.isEmpty() ? WithSeparator(QDir::currentPath()) : dir;
}

QString DataDir() {
  if (!Override().isEmpty()) return Override();
  static QString dir;
  if (dir.isEmpty() && QCoreApplication::instance()) dir = Decide("XDG_DATA_HOME", ".local/share");
  return dir.isEmpty() ? WithSeparator(QDir::currentPath()) : dir;
}

QString UserDataDir() {
  if (!Override().isEmpty()) return Override();
  const QString base = UserBaseDir("XDG_DATA_HOME", ".local/share");
  if (base.isEmpty()) return DataDir();
  return WithSeparator(QDir::cleanPath(base + u'/' + QLatin1String(kSubdir)));
}

void SetProgramDirOverride(const QString& dir) {
  Override() = dir.isEmpty() ? QString() : WithSeparator(dir);
}
