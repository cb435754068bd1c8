// Library places: whatever --library, $OSTREL_LIBRARY or [Library] Url= in
// "current.ini" says, the place is found or refused with a reason. A place
// found is given back by its URL (the same place, parameters and options),
// its options for the driver hold each parameter as one quoted value (none
// can add another), and a refused URL's reason never shows a password it held.
//
// The first input byte picks where the text comes from (the option, the
// environment, the settings file); the rest is the text, or the whole
// "current.ini".
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "fuzz/FuzzSupport.h"
#include "library/LibraryUse.h"
#include "persist/ProgramDir.h"

namespace {

QTemporaryDir* dir = nullptr;

// The options as libpq reads a connection string: key='value' each, the
// value's \ and ' escaped; Qt's driver joins them with ';'.
bool OptionsHold(const QString& options, const QMap<QString, QString>& parameters) {
  QMap<QString, QString> read;
  for (const QString& option : options.split(';')) {
    const qsizetype equals = option.indexOf('=');
    if (equals <= 0) return false;
    const QString key = option.left(equals);
    const QString quoted = option.mid(equals + 1);
    if (!quoted.startsWith('\'') || quoted.size() < 2) {
      // The program's own: connect_timeout=5, fallback_application_name=ostrelgsm4.
      if (parameters.contains(key)) return false;
      continue;
    }
    QString value;
    qsizetype i = 1;
    for (; i < quoted.size() && quoted[i] != '\''; ++i) {
      if (quoted[i] == '\\' && i + 1 < quoted.size()) ++i;
      value += quoted[i];
    }
    if (i != quoted.size() - 1) return false;  // something after the closing quote
    read.insert(key, value);
  }
  return read == parameters;
}

// The password a URL's user part or query carries, if any.
QStringList Passwords(const QString& text) {
  QStringList secrets;
  if (!text.startsWith("postgresql://") && !text.startsWith("postgres://")) return secrets;
  const QString rest = text.mid(text.indexOf("//") + 2);
  const qsizetype at = rest.indexOf('@'), slash = rest.indexOf('/');
  if (at >= 0 && (slash < 0 || at < slash)) {
    const QString user = rest.left(at);
    if (user.contains(':')) secrets << user.mid(user.indexOf(':') + 1);
  }
  const qsizetype query = rest.indexOf('?');
  if (query >= 0)
    for (const QString& item : rest.mid(query + 1).split('&'))
      if (item.section('=', 0, 0).contains("password", Qt::CaseInsensitive)) secrets << item.section('=', 1);
  return secrets;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static int argc = 1;
  static char name[] = "fuzz";
  static char* argv[] = {name, nullptr};
  new QCoreApplication(argc, argv);
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  dir = new QTemporaryDir;
  SetProgramDirOverride(dir->path());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const QByteArray rest(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
  const QString ini = dir->filePath("current.ini");
  QFile::remove(ini);
  qunsetenv("OSTREL_LIBRARY");
  QString option, text;
  switch (data[0] % 3) {
    case 0:
      option = text = QString::fromUtf8(rest);
      break;
    case 1:
      qputenv("OSTREL_LIBRARY", rest);
      text = qEnvironmentVariable("OSTREL_LIBRARY");
      break;
    default: {
      QFile file(ini);
      fuzz::Require(file.open(QIODevice::WriteOnly), "current.ini is written");
      file.write(rest);
      break;
    }
  }
  QString why;
  const auto place = FindLibraryPlace(option, &why);
  if (!place) {
    fuzz::Require(!why.isEmpty(), "a place refused has a reason");
    for (const QString& secret : Passwords(text))
      fuzz::Require(secret.size() < 4 || !why.contains(secret), "the reason never shows the password");
    return 0;
  }
  fuzz::Require(!place->Display().isEmpty(), "a place found can be shown");
  QString again;
  const auto back = ParseLibraryPlace(place->Url(), &again);
  fuzz::Require(back.has_value(), "the URL of a place found is a place");
  fuzz::Require(back->Url() == place->Url() && back->Display() == place->Display() &&
                    back->Engine == place->Engine && back->File == place->File && back->User == place->User &&
                    back->Host == place->Host && back->Port == place->Port && back->Database == place->Database &&
                    back->Parameters == place->Parameters,
                "the URL gives the same place back");
  if (place->Engine == TLibraryPlace::TEngine::PostgreSQL)
    fuzz::Require(OptionsHold(place->ConnectOptions(), place->Parameters), "each parameter is one quoted option");
  return 0;
}
