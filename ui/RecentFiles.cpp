#include "ui/RecentFiles.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

#include "persist/IniFile.h"

namespace {
const char* const kSection = "Files";
}

TRecentFiles::TRecentFiles(QMenu* menu, QAction* after, std::function<void(const QString&)> open, QObject* parent)
    : QObject(parent), open_(std::move(open)) {
  menu_ = new QMenu(QString::fromUtf8("Последние файлы"), menu);
  // Beside Load, whose files it offers.
  const QList<QAction*> actions = menu->actions();
  const qsizetype at = actions.indexOf(after);
  if (at >= 0 && at + 1 < actions.size())
    menu->insertMenu(actions[at + 1], menu_);
  else
    menu->addMenu(menu_);
  menu_->setObjectName(QStringLiteral("mnuRecent"));
  Rebuild();
}

void TRecentFiles::Add(const QString& fileName) {
  const QString file = QFileInfo(fileName).absoluteFilePath();
  files_.removeAll(file);
  files_.prepend(file);
  while (files_.size() > kKept) files_.removeLast();
  lastDir_ = QFileInfo(file).absolutePath();
  Rebuild();
}

void TRecentFiles::Remove(const QString& fileName) {
  files_.removeAll(QFileInfo(fileName).absoluteFilePath());
  Rebuild();
}

QString TRecentFiles::LastDir(const QString& fallback) const {
  if (lastDir_.isEmpty() || !QFileInfo(lastDir_).isDir()) return fallback;
  return lastDir_.endsWith(u'/') ? lastDir_ : lastDir_ + u'/';
}

void TRecentFiles::Rebuild() {
  menu_->clear();
  for (int i = 0; i < files_.size(); ++i) {
    const QString file = files_[i];
    // "&1 name.ini — /the/folder": a digit to pick it, the folder to tell same names apart.
    QAction* a = menu_->addAction(QStringLiteral("&%1 %2 — %3")
                                      .arg(i + 1)
                                      .arg(QFileInfo(file).fileName(), QDir::toNativeSeparators(QFileInfo(file).absolutePath())));
    a->setData(file);
    connect(a, &QAction::triggered, this, [this, file] {
      if (open_) open_(file);
    });
  }
  menu_->setEnabled(!files_.isEmpty());
}

void TRecentFiles::Load(const QString& iniFile) {
  TIniFile ini(iniFile);
  (void)ini.Load();  // nothing remembered yet
  files_.clear();
  for (int i = 1; i <= kKept; ++i) {
    const QString file = ini.ReadString(kSection, QStringLiteral("File%1").arg(i), QString());
    if (!file.isEmpty() && !files_.contains(file)) files_ << file;
  }
  lastDir_ = ini.ReadString(kSection, "LastDir", QString());
  Rebuild();
}

bool TRecentFiles::Save(const QString& iniFile, QString* error) const {
  TIniFile ini(iniFile);
  (void)ini.Load();
  // Nothing used yet: the file gets no empty section.
  if (lastDir_.isEmpty() && files_.isEmpty() && !ini.SectionExists(kSection)) return true;
  ini.WriteString(kSection, "LastDir", lastDir_);
  for (int i = 1; i <= kKept; ++i)
    ini.WriteString(kSection, QStringLiteral("File%1").arg(i), i <= files_.size() ? files_[i - 1] : QString());
  return ini.Save(error);
}
