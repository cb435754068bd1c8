// The file dialogs of the Save and Load actions.
//
// Save: filter "Файл настроек(*.ini)", default extension "ini", asks before
// overwriting an existing file. Load: filters "Файл настроек (*.ini)" and
// "Все файлы (*)". Both open in the directory they are given. GUI thread only.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace SettingsDialogs {

enum class TKind { Save, Load };

// Shows the dialog modally; the chosen file name, or empty when cancelled.
// name, when given, is the file name the dialog suggests.
QString Choose(TKind kind, QWidget* parent, const QString& dir, const QString& name = QString());

// When set, answers in place of the dialog (tests).
extern std::function<QString(TKind kind, const QString& dir)> Hook;
// The same with the suggested name; asked before Hook.
extern std::function<QString(TKind kind, const QString& dir, const QString& name)> NamedHook;

}  // namespace SettingsDialogs
