#include "persist/ProgramDir.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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
QString Decide(QStandardPaths::StandardLocation location) {
  const QString own = OwnDirIfKept();
  if (!own.isEmpty()) return WithSeparator(QDir::cleanPath(own));
  const QString base = QStandardPaths::writableLocation(location);
  if (base.isEmpty()) return WithSeparator(QDir::currentPath());
  const QString dir = base + u'/' + QLatin1String(kSubdir);
  MakePrivateDir(dir);
  return WithSeparator(QDir::cleanPath(dir));
}

}  // namespace

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
  if (dir.isEmpty() && QCoreApplication::instance()) dir = Decide(QStandardPaths::GenericConfigLocation);
  return dir.isEmpty() ? WithSeparator(QDir::currentPath()) : dir;
}

QString DataDir() {
  if (!Override().isEmpty()) return Override();
  static QString dir;
  if (dir.isEmpty() && QCoreApplication::instance()) dir = Decide(QStandardPaths::GenericDataLocation);
  return dir.isEmpty() ? WithSeparator(QDir::currentPath()) : dir;
}

void SetProgramDirOverride(const QString& dir) {
  Override() = dir.isEmpty() ? QString() : WithSeparator(dir);
}
