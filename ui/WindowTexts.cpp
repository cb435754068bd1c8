#include "ui/WindowTexts.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "persist/IniFile.h"
#include "persist/SettingsCodec.h"
#include "serial/PortDiagnosis.h"

namespace WindowTexts {
namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

// One section of the settings file: its keys are a stem and a number, the
// name on the page a stem and the number shifted by Offset.
struct TSectionRow {
  const char* Section;
  const char* KeyStem;  // "Phone" for Phone1..Phone12; empty: whole keys below
  const char* NameStem;
  int Offset;
  const char* Page;
  const char* Rule;
};

const TSectionRow kSections[] = {
    {"Phones", "Phone", "Телефон %1", 0, "Общие", "цифры и «+», не более 20"},
    {"React", "React", "Реакция %1", 0, "Общие", "0 или 1"},
    {"Norm", "Norm", "Норм. состояние %1", 0, "Общие", "0 или 1, у шлейфа одно нормальное состояние"},
    {"24Hours", "24-", "24 часа, шлейф %1", 0, "Общие", "0 или 1"},
    {"Keys", "Key", "Ключ %1", 1, "Ключи", "от 1 до 16 шестнадцатеричных цифр"},
    {"ts1", "slider", "Порог %1 канала 1", 1, "АЦП", "целое от 0 до 1023, пороги по возрастанию"},
    {"ts2", "slider", "Порог %1 канала 2", 1, "АЦП", "целое от 0 до 1023, пороги по возрастанию"},
    {"GSM", "MODE", "GSM модуль %1", 0, "GSM", "0 или 1, выбран ровно один модуль"},
};

const struct {
  const char* Section;
  const char* Key;
  const char* Name;
  const char* Rule;
} kKeys[] = {
    {"Other", "FastGuard", "Быстрая постановка на охрану", "0 или 1"},
    {"Other", "TimeOut", "Задержка на вход", "целое от 0 до 255"},
    {"Other", "WaitSend", "Дожидаться отправки", "0 или 1"},
    {"Other", "TimeOut2", "Задержка на выход", "целое от 0 до 255"},
    {"GSM", "RING", "Длительность звонка", "целое от 0 до 5 (звонок 1..6)"},
    {"GSM", "MODE1", "GSM модуль Siemens 35", "0 или 1, выбран ровно один модуль"},
    {"GSM", "MODE2", "GSM модуль Siemens 45", "0 или 1, выбран ровно один модуль"},
    {"GSM", "MODE3", "GSM модуль «Модем»", "0 или 1, выбран ровно один модуль"},
};

const TSectionRow* FindSection(const QString& section, const QString& key, int* number) {
  for (const TSectionRow& row : kSections) {
    if (section.compare(QLatin1String(row.Section), Qt::CaseInsensitive) != 0) continue;
    const QString stem = QLatin1String(row.KeyStem);
    if (!key.startsWith(stem, Qt::CaseInsensitive)) continue;
    bool ok = false;
    const int n = key.mid(stem.size()).toInt(&ok);
    if (!ok) continue;
    *number = n + row.Offset;
    return &row;
  }
  return nullptr;
}

int Probe(const QString& fileName, int flags) {
  const int fd = ::open(QFile::encodeName(fileName).constData(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

QString Quoted(const QString& fileName) { return U("«") + QDir::toNativeSeparators(fileName) + U("»"); }

QString Reason(int err) {
  return err == 0 ? U("неизвестная ошибка") : QString::fromStdString(SystemErrorTextRu(err));
}

// One line a value refused: its name, where the file gives it, its rule.
QStringList RefusedLines(const TDecodedSettings& decoded) {
  QStringList lines;
  for (const TSettingsProblem& p : decoded.Problems) {
    const QString rule = SettingRule(p.Section, p.Key);
    QStringList at;
    for (const int line : p.Lines) at << QString::number(line);
    const QString where = at.isEmpty() ? QString() : (at.size() == 1 ? U(", строка ") : U(", строки ")) + at.join(U(", "));
    lines << U("• ") + SettingName(p.Section, p.Key) + QStringLiteral(" ([%1] %2%3)").arg(p.Section, p.Key, where) +
                 (rule.isEmpty() ? QString() : U(": ") + rule);
  }
  return lines;
}

// Sections named as a whole when every setting of them is absent; the
// others are named setting by setting.
const struct {
  const char* Section;
  const char* Whole;
} kWholeSections[] = {
    {"Phones", "телефоны (все)"},
    {"React", "реакции (все)"},
    {"Norm", "нормальные состояния (все)"},
    {"24Hours", "24 часа (все шлейфы)"},
    {"ts1", "пороги канала 1 (все)"},
    {"ts2", "пороги канала 2 (все)"},
};

const char* WholeName(const std::string& section) {
  for (const auto& w : kWholeSections)
    if (section == w.Section) return w.Whole;
  return nullptr;
}

// One line a page: "• Ключи (все)", "• Общие: телефоны (все), Задержка на выход".
QStringList AbsentLines(const std::vector<const TField*>& absent) {
  const auto isAbsent = [&](const TField& f) { return std::find(absent.begin(), absent.end(), &f) != absent.end(); };
  const auto all = [&](auto same) {
    return std::all_of(Fields().begin(), Fields().end(), [&](const TField& f) { return !same(f) || isAbsent(f); });
  };
  QStringList lines;
  for (const TGroup group : {TGroup::Common, TGroup::Keys, TGroup::Adc, TGroup::Gsm}) {
    QString page;
    QStringList names;
    bool module = false;
    std::string lastSection;
    for (const TField* f : absent) {
      if (f->Group != group) continue;
      page = PageName(QString::fromStdString(f->Section));
      if (f->Rule == TRule::ModuleFlag) {
        // Three keys, one setting.
        if (!module) names << U("подключённый GSM модуль");
        module = true;
        continue;
      }
      const char* whole = WholeName(f->Section);
      if (whole && all([&](const TField& g) { return g.Section == f->Section; })) {
        if (f->Section != lastSection) names << U(whole);
      } else {
        names << SettingName(QString::fromStdString(f->Section), QString::fromStdString(f->Key));
      }
      lastSection = f->Section;
    }
    if (names.isEmpty()) continue;
    const bool wholePage = all([&](const TField& g) { return g.Group == group; });
    lines << U("• ") + page + (wholePage ? U(" (все)") : U(": ") + names.join(U(", ")));
  }
  return lines;
}

}  // namespace

QString SettingName(const QString& section, const QString& key) {
  for (const auto& k : kKeys)
    if (section.compare(QLatin1String(k.Section), Qt::CaseInsensitive) == 0 &&
        key.compare(QLatin1String(k.Key), Qt::CaseInsensitive) == 0)
      return U(k.Name);
  int n = 0;
  if (const TSectionRow* row = FindSection(section, key, &n)) return U(row->NameStem).arg(n);
  return QStringLiteral("[%1] %2").arg(section, key);
}

QString PageName(const QString& section) {
  if (section.compare(QLatin1String("Other"), Qt::CaseInsensitive) == 0) return U("Общие");
  for (const TSectionRow& row : kSections)
    if (section.compare(QLatin1String(row.Section), Qt::CaseInsensitive) == 0) return U(row.Page);
  return section;
}

QString SettingRule(const QString& section, const QString& key) {
  for (const auto& k : kKeys)
    if (section.compare(QLatin1String(k.Section), Qt::CaseInsensitive) == 0 &&
        key.compare(QLatin1String(k.Key), Qt::CaseInsensitive) == 0)
      return U(k.Rule);
  int n = 0;
  if (const TSectionRow* row = FindSection(section, key, &n)) return U(row->Rule);
  return QString();
}

QString ReadFailure(const QString& fileName) {
  int err = QFileInfo(fileName).isDir() ? EISDIR : Probe(fileName, O_RDONLY);
  if (err == 0 && !QFileInfo(fileName).isFile()) err = EINVAL;  // a device or a pipe: not a settings file
  QString text = U("Не удалось прочитать файл ") + Quoted(fileName) + U(": ") + Reason(err);
  if (err == EINVAL || err == 0) text = U("Не удалось прочитать файл ") + Quoted(fileName) +
                                        U(": это не файл настроек (нужен обычный файл не больше 1 МиБ)");
  return text;
}

QString WriteFailure(const QString& fileName) {
  const QFileInfo info(fileName);
  int err = 0;
  if (info.isDir())
    err = EISDIR;
  else if (QFileInfo(info.absolutePath()).exists() && !QFileInfo(info.absolutePath()).isDir())
    err = ENOTDIR;
  else if (!info.dir().exists())
    err = ENOENT;
  else if (info.exists())
    err = Probe(fileName, O_WRONLY);
  if (err == 0) err = ::access(QFile::encodeName(info.absolutePath()).constData(), W_OK | X_OK) == 0 ? 0 : errno;
  return U("Не удалось записать файл ") + Quoted(fileName) + U(": ") + Reason(err);
}

QString LoadFailure(const QString& fileName) {
  TIniFile ini(fileName);
  if (!ini.Load()) return ReadFailure(fileName);
  const TDecodedSettings check = DecodeSettings(ini, TSettings{}, TGroups::AllWithAdc());
  if (QFileInfo(fileName).isFile() && !check.HasSettings)
    return U("В файле ") + Quoted(fileName) + U(" нет настроек панели: ничего не загружено");
  if (check.Problems.empty()) return QString();
  return U("Из файла ") + Quoted(fileName) + U(" не загружены значения, они остались прежними:\n") +
         RefusedLines(check).join(u'\n');
}

TLoadSource FileSource(const QString& fileName) {
  return {U("файла ") + Quoted(fileName), U("файле ") + Quoted(fileName), U("файле")};
}

TLoadSource RecordSource(int number, const QString& site) {
  const QString record = U("записи %1 объекта «%2»").arg(number).arg(site);
  return {record, record, U("записи")};
}

QString LoadLeftOut(const TLoadSource& source, const TDecodedSettings& loaded) {
  QStringList parts;
  if (!loaded.Problems.empty())
    parts << U("Из ") + source.From + U(" не загружены значения, они остались прежними:\n") +
                 RefusedLines(loaded).join(u'\n');
  if (!loaded.Absent.empty())
    parts << (parts.isEmpty() ? U("В ") + source.In + U(" нет этих настроек, они остались прежними:\n")
                              : U("Нет в ") + source.Short + U(", остались прежними:\n")) +
                 AbsentLines(loaded.Absent).join(u'\n');
  return parts.join(u'\n');
}

QString LoadRefused(const QString& fileName, const TDecodedSettings& loaded) {
  QString why;
  switch (loaded.Read) {
    case TFileRead::Missing:
      why = U("Файл ") + Quoted(fileName) + U(" не найден.");
      break;
    case TFileRead::Refused:
      why = ReadFailure(fileName) + u'.';
      break;
    case TFileRead::Ok:
      why = U("В файле ") + Quoted(fileName) + U(" нет настроек панели.");
      break;
  }
  return why + U("\nНичего не загружено, страницы не изменились.");
}

QString RecentFileGone(const QString& fileName) {
  return U("Файла ") + Quoted(fileName) + U(" больше нет. Убрать его из списка последних файлов?");
}

QString LinkLost(int systemError, bool duringOperation) {
  QString text = U("Связь с панелью потеряна: ") +
                 (systemError != 0 ? QString::fromStdString(SystemErrorTextRu(systemError))
                                   : U("порт закрыт или соединение разорвано"));
  text += duringOperation ? U(".\nОперация прервана и не завершена. Подключитесь снова и повторите её.")
                          : U(".\nПодключитесь снова.");
  return text;
}

namespace {

QString Said(const QString& words) { return words.isEmpty() ? U("модем не ответил") : U("«") + words + U("»"); }

}  // namespace

QString CallFailed(const QString& stage, const std::string* modemWords) {
  QString text = U("Не удалось установить соединение через GSM-модем.\nЭтап: ") + stage;
  if (modemWords) text += U("\nОтвет модема: ") + Said(QString::fromStdString(*modemWords));
  return text;
}

QString CallLost(const QString& stage, const QString& modemWords, bool duringOperation) {
  QString text = U("Звонок через GSM-модем прервался");
  if (!stage.isEmpty()) text += U(".\nЭтап: ") + stage + U("\nОтвет модема: ") + Said(modemWords);
  text += duringOperation ? U(".\nОперация прервана и не завершена. Подключитесь снова и повторите её.")
                          : U(".\nПодключитесь снова.");
  return text;
}

}  // namespace WindowTexts
