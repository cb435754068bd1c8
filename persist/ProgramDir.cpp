#include "persist/ProgramDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString& Override() {
  static QString dir;
  return dir;
}

QString WithSeparator(const QString& dir) {
  return dir.endsWith(u'/') ? dir : dir + u'/';
}

QString FindProgramDir() {
  const QString own = QCoreApplication::applicationDirPath();
  if (!own.isEmpty() && QFileInfo(own).isWritable()) return own;
  const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  if (config.isEmpty()) return own;
  QDir().mkpath(config);
  return config;
}

}  // namespace

QString ProgramDir() {
  if (!Override().isEmpty()) return Override();
  // Decided once, so that one run never splits its files over two places;
  // without an application object there is no program file to go by yet.
  static QString dir;
  if (dir.isEmpty() && QCoreApplication::instance())
    dir = WithSeparator(QDir::cleanPath(FindProgramDir()));
  return dir.isEmpty() ? WithSeparator(QDir::currentPath()) : dir;
}

void SetProgramDirOverride(const QString& dir) {
  Override() = dir.isEmpty() ? QString() : WithSeparator(dir);
}
