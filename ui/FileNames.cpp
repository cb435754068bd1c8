#include "ui/FileNames.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "persist/ProgramDir.h"

namespace FileNames {

namespace {

constexpr int kMaxSiteChars = 60;

QString WithSeparator(const QString& dir) { return dir.endsWith(u'/') ? dir : dir + u'/'; }

}  // namespace

QString DocumentsDir() {
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!documents.isEmpty() && QFileInfo(documents).isDir()) return WithSeparator(documents);
  const QString home = HomeDir();
  return home.isEmpty() ? WithSeparator(QDir::homePath()) : WithSeparator(home);
}

QString SuggestedSettingsName(const QString& site, const QDate& date) {
  QString name;
  for (QChar c : site) {
    const bool bad = c.category() == QChar::Other_Control || QStringView(u"/\\:*?\"<>|").contains(c);
    name += bad ? QChar(u'_') : c;
  }
  name = name.trimmed().left(kMaxSiteChars).trimmed();
  if (name.startsWith(u'.')) name[0] = u'_';
  if (name.isEmpty()) name = QStringLiteral("Настройки");
  return name + u' ' + date.toString(Qt::ISODate) + QStringLiteral(".ini");
}

}  // namespace FileNames
