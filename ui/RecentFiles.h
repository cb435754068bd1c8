// The settings files the user loaded or saved last, and the folder of the
// last one: the Load and Save dialogs open there, and the menu "Последние
// файлы" offers the files. Kept in the window's own file ("Windows.ini",
// section "Files": LastDir, File1..File5). GUI thread only.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

class QAction;
class QMenu;

class TRecentFiles : public QObject {
  Q_OBJECT
 public:
  static constexpr int kKept = 5;

  // Adds the submenu "Последние файлы" to menu after the action after; open
  // runs for a chosen file.
  TRecentFiles(QMenu* menu, QAction* after, std::function<void(const QString&)> open, QObject* parent);

  // A file just loaded or saved goes to the top; its folder is the last one.
  void Add(const QString& fileName);
  // A file that is gone leaves the menu; the last folder stays.
  void Remove(const QString& fileName);
  const QStringList& Files() const { return files_; }
  // The folder of the last file, with a trailing separator; fallback when none
  // is known or it no longer exists.
  QString LastDir(const QString& fallback) const;
  QMenu* Menu() const { return menu_; }

  void Load(const QString& iniFile);
  bool Save(const QString& iniFile, QString* error) const;

 private:
  void Rebuild();

  QMenu* menu_;
  std::function<void(const QString&)> open_;
  QStringList files_;
  QString lastDir_;
};
