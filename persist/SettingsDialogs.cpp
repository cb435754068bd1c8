#include "persist/SettingsDialogs.h"

#include <QFileDialog>
#include <QStringList>

namespace SettingsDialogs {

std::function<QString(TKind, const QString&)> Hook;
std::function<QString(TKind, const QString&, const QString&)> NamedHook;

QString Choose(TKind kind, QWidget* parent, const QString& dir, const QString& name) {
  if (NamedHook) return NamedHook(kind, dir, name);
  if (Hook) return Hook(kind, dir);
  QFileDialog dialog(parent, QString(), dir);
  // Qt's own dialog, so that the overwrite question and the default
  // extension behave the same on every platform.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  if (kind == TKind::Save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("Файл настроек(*.ini)"));
    dialog.setDefaultSuffix(QStringLiteral("ini"));
    if (!name.isEmpty()) dialog.selectFile(name);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("Файл настроек (*.ini)"), QStringLiteral("Все файлы (*)")});
  }
  if (dialog.exec() != QDialog::Accepted) return QString();
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

}  // namespace SettingsDialogs
