// The spool's files: whatever a file waiting in the spool holds, a sync
// neither crashes nor stores it half. A file it will never store is set aside
// with one line saying why, and what it stores leaves the library's own
// check clean (the chains of hashes, the search index).
//
// One SQLite library for the whole run, in a temporary directory; each input
// is one spool file.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "fuzz/FuzzSupport.h"
#include "library/Library.h"
#include "library/RecordSpool.h"

namespace {

QTemporaryDir* dir = nullptr;
TLibrary* library = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static int argc = 1;
  static char name[] = "fuzz";
  static char* argv[] = {name, nullptr};
  new QCoreApplication(argc, argv);
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  dir = new QTemporaryDir;
  TLibraryPlace place;
  place.File = dir->filePath("library.sqlite");
  library = new TLibrary;
  fuzz::Require(library->Open(place), "the library opens");
  // The run need not survive a power cut.
  QSqlQuery(library->Database()).exec("PRAGMA synchronous = OFF");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int runs = 0;
  const QString spoolDir = dir->filePath("spool");
  TRecordSpool spool(spoolDir);
  QDir().mkpath(spoolDir);
  const QString name = QStringLiteral("00000000000000000001-fuzz.record");
  {
    QFile file(spoolDir + '/' + name);
    fuzz::Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the spool file is written");
    file.write(reinterpret_cast<const char*>(data), qint64(size));
  }
  QString error;
  spool.Sync(*library, &error);
  fuzz::Require(library->IsOpen(), "the library stays open");
  const QString aside = spool.QuarantineDir() + '/' + name;
  if (QFile::exists(aside)) {
    QFile why(aside + QStringLiteral(".why"));
    fuzz::Require(why.open(QIODevice::ReadOnly), "a file set aside has its reason beside it");
    const QByteArray line = why.readAll();
    fuzz::Require(line.endsWith('\n') && line.count('\n') == 1 && line.size() > 1, "the reason is one line");
  }
  // The next input starts from an empty spool.
  QDir(spoolDir).removeRecursively();
  if (++runs % 200 == 0) {
    const auto problems = library->Check();
    fuzz::Require(problems && problems->isEmpty(), "what the spool stored leaves the library's check clean");
  }
  return 0;
}
