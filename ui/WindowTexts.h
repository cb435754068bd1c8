// The window's own words: Russian names of the settings as the pages show
// them, and Russian texts for the failures of files and of the link.
//
// The names come from one table keyed by the settings file's section and key
// ("Phones", "Phone2" -> "Телефон 2"). GUI thread only.
#pragma once

#include <QString>
#include <string>

struct TDecodedSettings;

namespace WindowTexts {

// The setting as the pages name it: "Телефон 2", "Реакция 3", "Ключ 4",
// "Порог 2 канала 1"; the section and key themselves for one not in the table.
QString SettingName(const QString& section, const QString& key);
// The page that shows the section: "Общие", "Ключи", "АЦП", "GSM".
QString PageName(const QString& section);
// What a value of the setting may be, in words ("цифры и «+», не более 20").
QString SettingRule(const QString& section, const QString& key);

// "«file»: <reason>" for a file that could not be read or written, the reason
// in Russian as the system gives it (looked up again for the file).
QString ReadFailure(const QString& fileName);
QString WriteFailure(const QString& fileName);
// Why loading a settings file left values out, one line a value, Russian;
// empty when it did not. Reads the file again to say so.
QString LoadFailure(const QString& fileName);

// What the user's Load takes settings from, as its boxes name it.
struct TLoadSource {
  QString From;   // "файла «…»", "записи 3 объекта «…»"
  QString In;     // "файле «…»", "записи 3 объекта «…»"
  QString Short;  // "файле", "записи"
};
TLoadSource FileSource(const QString& fileName);
TLoadSource RecordSource(int number, const QString& site);
// The box of a Load that took values but left some out, in one text: the
// values refused, one line each, then the settings absent, one line a page
// (a whole page or section named once: "Ключи (все)"). Empty when nothing
// was left out.
QString LoadLeftOut(const TLoadSource& source, const TDecodedSettings& loaded);
// The box of a file the user loads that changed nothing: missing,
// unreadable, or without settings.
QString LoadRefused(const QString& fileName, const TDecodedSettings& loaded);
// The question when a file of the menu "Последние файлы" is gone.
QString RecentFileGone(const QString& fileName);

// The message box of a link lost while connected.
QString LinkLost(int systemError, bool duringOperation);
// The message box of a modem call that could not be made: the stage it
// failed at (as the progress dialog showed it) and, when the modem was asked,
// its words (empty: it did not answer).
QString CallFailed(const QString& stage, const std::string* modemWords);
// The message box of a modem call that went down while connected.
QString CallLost(const QString& stage, const QString& modemWords, bool duringOperation);

}  // namespace WindowTexts
