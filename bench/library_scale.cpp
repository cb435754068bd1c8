// The site library at scale: fills a library with SITES sites of RECORDS
// records each (10 000 x 50 by default, settings texts of a real size), then
// reports the median time of a search to the first 50 matches (a phone
// number of a latest record, a word of every site's name, short texts, a
// text found nowhere), of one site's history, and of recording one
// operation, and the size per record (the file, or the server's tables).
//   bench_library_scale [SITES] [RECORDS] [FILE | postgresql://...] [reuse] [check]
// "reuse" measures a library a run before filled (and left) at FILE or URL;
// "check" ends with the library's check (every chain of hashes verified).
// A PostgreSQL library is emptied first: give it a database of its own
// (scripts/pg_scratch.sh start STATE writes one's URL into STATE).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "library/Library.h"
#include "library/LibrarySql.h"

namespace {

// About the size of a settings file read from a panel.
QByteArray Settings(int site, int record) {
  QByteArray text = "[Connect]\r\nComPort=/dev/ttyUSB0\r\n[Debug]\r\nLog=0\r\n[Phones]\r\n";
  for (int i = 1; i <= 12; ++i)
    text += "Phone" + QByteArray::number(i) + "=+7916" + QByteArray::number(site * 100 + i).rightJustified(7, '0') + "\r\n";
  text += "[React]\r\n";
  for (int i = 1; i <= 12; ++i) text += "React" + QByteArray::number(i) + "=" + QByteArray::number((i + record) % 2) + "\r\n";
  text += "[Norm]\r\n";
  for (int i = 5; i <= 12; ++i) text += "Norm" + QByteArray::number(i) + "=" + QByteArray::number(i % 2) + "\r\n";
  text += "[24Hours]\r\n24-1=0\r\n24-2=0\r\n24-3=1\r\n24-4=0\r\n[Other]\r\nFastGuard=1\r\nTimeOut=30\r\nWaitSend=0\r\nTimeOut2=" +
          QByteArray::number(record % 256) + "\r\n[Keys]\r\n";
  for (int i = 0; i < 10; ++i)
    text += "Key" + QByteArray::number(i) + "=" + QByteArray::number(qulonglong(site) * 1000 + i, 16).toUpper().rightJustified(16, '0') + "\r\n";
  text += "[GSM]\r\nMODE1=1\r\nMODE2=0\r\nMODE3=0\r\nRING=2\r\n";
  return text;
}

// A record of the filling.
TRecord Filler(int site, int record) {
  TRecord rec;
  rec.Operator = "bench";
  rec.Host = "bench";
  rec.Outcome = TRecordOutcome::Success;
  rec.Firmware = "Ostrel GSM VER 05.01";
  rec.Port = "/dev/ttyUSB0";
  rec.Settings = Settings(site, record);
  return rec;
}

int Failed(const QString& why) {
  std::fprintf(stderr, "%s\n", qPrintable(why));
  return 1;
}

// This process's CPU time: on a busy machine the time taken is mostly waiting.
double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

QByteArray LoadAverage() {
  QFile file("/proc/loadavg");
  return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').mid(0, 3).join(' ') : QByteArray("unknown");
}

double Median(std::vector<double> v);

// The floor of a durable commit here: writing 4 KiB beside the library and
// waiting for the disk to keep it (a SQLite commit waits for one such sync).
double SyncMs(const QString& dir) {
  QFile file(dir + "/bench-sync.tmp");
  if (!file.open(QIODevice::WriteOnly)) return -1;
  std::vector<double> times;
  const QByteArray block(4096, 'x');
  for (int i = 0; i < 21; ++i) {
    file.write(block);
    file.flush();
    QElapsedTimer t;
    t.start();
    fdatasync(file.handle());
    times.push_back(t.nsecsElapsed() / 1e6);
  }
  file.remove();
  return Median(times);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int sites = argc > 1 ? atoi(argv[1]) : 10000;
  const int records = argc > 2 ? atoi(argv[2]) : 50;
  QTemporaryDir dir;
  QString why;
  const auto parsed = ParseLibraryPlace(argc > 3 ? QString::fromLocal8Bit(argv[3]) : dir.filePath("library.sqlite"), &why);
  if (!parsed) {
    std::fprintf(stderr, "%s\n", qPrintable(why));
    return 1;
  }
  const TLibraryPlace place = *parsed;
  const bool sqlite = place.Engine == TLibraryPlace::TEngine::SQLite;
  bool reuse = false, check = false;
  for (int i = 4; i < argc; ++i) {
    reuse = reuse || QLatin1String(argv[i]) == QLatin1String("reuse");
    check = check || QLatin1String(argv[i]) == QLatin1String("check");
  }
  if (!sqlite && !reuse) {
    TLibrary cleaner;
    if (!cleaner.Open(place)) {
      std::fprintf(stderr, "%s\n", qPrintable(cleaner.Error()));
      return 1;
    }
    QSqlQuery(cleaner.Database()).exec("DROP TABLE IF EXISTS site_grams, site_terms, records, sites, schema_version");
  }
  TLibrary library;
  if (!library.Open(place)) {
    std::fprintf(stderr, "%s\n", qPrintable(library.Error()));
    return 1;
  }
  QElapsedTimer fill;
  fill.start();
  QSqlDatabase db = library.Database();
  // Filling need not survive a power cut; the measurements below run with
  // the library's own setting again.
  if (sqlite) QSqlQuery(db).exec("PRAGMA synchronous = OFF");
  else QSqlQuery(db).exec("SET synchronous_commit = off");
  for (int s = 0; s < sites && !reuse; ++s) {
    TSite site;
    site.Name = QStringLiteral("Объект %1").arg(s, 5, 10, QLatin1Char('0'));
    site.Address = QStringLiteral("ул. Лесная, %1").arg(s);
    if (!library.AddSite(site)) {
      std::fprintf(stderr, "%s\n", qPrintable(library.Error()));
      return 1;
    }
  }
  if (!reuse) std::printf("added %d sites in %.1f s\n", sites, fill.elapsed() / 1000.0);
  // The filling, not the measured recording: each site's records but the
  // last in one statement, the rows AddRecord would write (the chain of
  // hashes with them), a transaction per kSitesPerCommit sites; the last
  // record through AddRecord, which chains onto them and indexes its
  // numbers and keys. "check" at the end verifies every chain.
  constexpr int kSitesPerCommit = 100;
  const QString at = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
  for (int first = 0; first < sites && !reuse; first += kSitesPerCommit) {
    if (!db.transaction()) return Failed(db.lastError().text());
    for (int s = first; s < std::min(sites, first + kSitesPerCommit) && records > 1; ++s) {
      const QString name = QStringLiteral("Объект %1").arg(s, 5, 10, QLatin1Char('0'));
      const auto site = library.FindSite(name);
      if (!site) return Failed(library.Error());
      QSqlQuery insert(db);
      insert.prepare("INSERT INTO records (uid, site_id, number, at, operator, host, kind, outcome, firmware, port, "
                     "settings, code, detail, previous, hash) VALUES " +
                     LibrarySql::Placeholders(records - 1, "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
      QString previous = "";
      for (int r = 0; r < records - 1; ++r) {
        const TRecord rec = Filler(s, r);
        const QStringList content{QString::number(site->Id), QString::number(r + 1), at,           rec.Operator,
                                  rec.Host,                  KindName(rec.Kind),     QString(),    rec.Firmware,
                                  rec.Port,                  QString::fromUtf8(rec.Settings),
                                  OutcomeCode(rec.Outcome),  rec.Detail};
        const QString hash = LibrarySql::RecordHash(content, previous);
        insert.addBindValue(QUuid::createUuid().toString(QUuid::WithoutBraces));
        insert.addBindValue(site->Id);
        insert.addBindValue(r + 1);
        for (int i = 2; i < content.size(); ++i) insert.addBindValue(content[i]);
        insert.addBindValue(previous);
        insert.addBindValue(hash);
        previous = hash;
      }
      if (!insert.exec()) return Failed(insert.lastError().text());
    }
    if (!db.commit()) return Failed(db.lastError().text());
    for (int s = first; s < std::min(sites, first + kSitesPerCommit) && records > 0; ++s) {
      TRecord rec = Filler(s, records - 1);
      if (!library.AddRecord(QStringLiteral("Объект %1").arg(s, 5, 10, QLatin1Char('0')), &rec))
        return Failed(library.Error());
    }
  }
  std::printf("filled %d sites x %d records in %.1f s\n", sites, records, fill.elapsed() / 1000.0);
  if (sqlite) {
    QSqlQuery(db).exec("PRAGMA wal_checkpoint(TRUNCATE)");
    QSqlQuery(db).exec("PRAGMA synchronous = FULL");
  } else {
    QSqlQuery(db).exec("SET synchronous_commit = on");
    QSqlQuery(db).exec("VACUUM ANALYZE");
  }

  // Texts besides the phone numbers: a word of every name, one and two
  // characters, and texts found nowhere (the whole library looked through).
  const QStringList others{QStringLiteral("объект"), QStringLiteral("7"), QStringLiteral("ле"),
                           QStringLiteral("ж"), QStringLiteral("жз"), QStringLiteral("нигде нет")};
  std::vector<std::vector<double>> other(others.size());
  std::vector<double> search, history, record, recordCpu;
  for (int i = 0; i < 50; ++i) {
    const int s = (i * 7919) % sites;
    QElapsedTimer t;
    t.start();
    const auto found = library.Search(QStringLiteral("7916%1").arg(s * 100 + 3, 7, 10, QLatin1Char('0')), 50);
    search.push_back(t.nsecsElapsed() / 1e6);
    if (found.empty()) std::fprintf(stderr, "search found nothing\n");
    if (i < 11) {
      for (int k = 0; k < others.size(); ++k) {
        t.restart();
        library.Search(others[k], 50);
        other[k].push_back(t.nsecsElapsed() / 1e6);
      }
    }
    const QString name = QStringLiteral("Объект %1").arg(s, 5, 10, QLatin1Char('0'));
    t.restart();
    const auto h = library.History(name);
    history.push_back(t.nsecsElapsed() / 1e6);
    TRecord rec;
    rec.Operator = "bench";
    rec.Outcome = TRecordOutcome::Success;
    rec.Settings = Settings(s, records + i);
    const double cpu = CpuMs();
    t.restart();
    library.AddRecord(name, &rec);
    record.push_back(t.nsecsElapsed() / 1e6);
    recordCpu.push_back(CpuMs() - cpu);
  }
  qint64 bytes = 0;
  if (sqlite) {
    bytes = QFileInfo(place.File).size() + QFileInfo(place.File + "-wal").size();
  } else {
    QSqlQuery q(db);
    for (const char* table : {"sites", "records", "site_terms", "site_grams", "schema_version"}) {
      if (q.exec(QStringLiteral("SELECT pg_total_relation_size('%1')").arg(table)) && q.next())
        bytes += q.value(0).toLongLong();
    }
  }
  std::printf("%s library\n", sqlite ? "SQLite" : "PostgreSQL");
  std::printf("search to the first 50 matches: %.2f ms (median of 50)\n", Median(search));
  for (int k = 0; k < others.size(); ++k)
    std::printf("  search \"%s\": %.2f ms (median of 11)\n", qPrintable(others[k]), Median(other[k]));
  std::printf("one site's history (%d records): %.2f ms\n", records, Median(history));
  std::printf("recording one operation: %.2f ms (this program's CPU %.2f ms; load average %s)\n", Median(record),
              Median(recordCpu), LoadAverage().constData());
  if (sqlite)
    std::printf("  the disk's sync of 4 KiB beside the library: %.2f ms (median of 21)\n",
                SyncMs(QFileInfo(place.File).absolutePath()));
  std::printf("size per record: %.0f bytes (%lld bytes for %lld records)\n",
              double(bytes) / (double(sites) * records), qlonglong(bytes), qlonglong(sites) * records);
  if (check) {
    QElapsedTimer t;
    t.start();
    const auto problems = library.Check();
    if (!problems) return Failed(library.Error());
    std::printf("library check: %s (%.1f s)\n", problems->isEmpty() ? "no problems" : qPrintable(problems->join("; ")),
                t.elapsed() / 1000.0);
    if (!problems->isEmpty()) return 1;
  }
  return 0;
}
