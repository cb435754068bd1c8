// TDebugLog: the blocks around each logging period, the lines, and the file.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

#include "persist/DebugLog.h"

namespace {

const QByteArray kRule(81, '=');

QByteArray Block(const char* when, const char* text) {
  return "\r\n" + kRule + "\r\n" + QByteArray(when) + " " + QByteArray(text) + "\r\n" + kRule + "\r\n";
}

QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

}  // namespace

class TestDebugLog : public QObject {
  Q_OBJECT

 private slots:
  void init() { QVERIFY(dir_.isValid()); }

  // Two logging periods appended to a file that already holds text: each is
  // framed by its header and footer, memo texts become CR LF lines (a
  // Windows-1251 reply is stored as UTF-8, a multi-line text spans lines).
  void periodsAppendToTheFile() {
    const QString path = dir_.filePath("log-periods.txt");
    {
      QFile old(path);
      QVERIFY(old.open(QIODevice::WriteOnly));
      old.write("earlier\r\n");
    }
    TDebugLog log(path);
    QDateTime now(QDate(2024, 2, 1), QTime(10, 20, 30));
    log.Now = [&] { return now; };

    log.WriteLine("before logging");  // ignored while off
    QVERIFY(log.SwitchOn());
    QVERIFY(log.IsOn());
    log.WriteLine("01.02.2024 10:20:31 -> +v");
    log.WriteLine("<<<<- \xCE\xCA");  // "ОК" as the panel sends it in Windows-1251
    log.WriteLine("VER 05\r\nOK");
    now = now.addSecs(60);
    QVERIFY(log.SwitchOff());
    QVERIFY(!log.IsOn());
    QVERIFY(log.SwitchOff());  // already off: nothing more written

    now = QDateTime(QDate(2024, 2, 2), QTime(0, 0));
    QVERIFY(log.SwitchOn());
    QVERIFY(log.SwitchOn());  // already on: no second header
    log.WriteLine(" # Поток завершил работу");
    now = now.addSecs(1);
    QVERIFY(log.SwitchOff());

    const QByteArray expected = "earlier\r\n" +
                                Block("01.02.2024 10:20:30", "Начали процесс протоколирования") +
                                "01.02.2024 10:20:31 -> +v\r\n" + "<<<<- ОК\r\n" + "VER 05\r\nOK\r\n" +
                                Block("01.02.2024 10:21:30", "Окончили процесс протоколирования") +
                                Block("02.02.2024", "Начали процесс протоколирования") +
                                " # Поток завершил работу\r\n" +
                                Block("02.02.2024 00:00:01", "Окончили процесс протоколирования");
    QCOMPARE(ReadBytes(path), expected);
  }

  // A log the program creates is its owner's alone, whatever the umask.
  void createdLogIsTheOwnersAlone() {
    const QString path = dir_.filePath("log-mode.txt");
    const mode_t oldMask = ::umask(022);
    TDebugLog log(path);
    const bool on = log.SwitchOn();
    ::umask(oldMask);
    QVERIFY(on);
    QVERIFY(log.SwitchOff());
    QCOMPARE(QFile::permissions(path), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                                           QFileDevice::WriteUser);
  }

  // Every line of the traffic stands on its own line of the file: the panel's
  // bare carriage returns must not make lines overwrite each other.
  void lineBreaksBecomeFileLines_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("lines");
    QTest::newRow("plain") << QByteArray("-> +v") << QByteArray("-> +v\r\n");
    QTest::newRow("bare-cr-inside") << QByteArray(" <<- \rVER 05\rOK\r")
                                    << QByteArray(" <<- \r\nVER 05\r\nOK\r\n");
    QTest::newRow("bare-lf") << QByteArray("a\nb") << QByteArray("a\r\nb\r\n");
    QTest::newRow("cr-lf-kept") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nb\r\n");
    QTest::newRow("lf-cr-pair-is-two-breaks") << QByteArray("a\n\rb") << QByteArray("a\r\n\r\nb\r\n");
    QTest::newRow("only-a-break") << QByteArray("\r") << QByteArray("\r\n");
  }
  void lineBreaksBecomeFileLines() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, lines);
    const QString path = dir_.filePath("log-breaks.txt");
    QFile::remove(path);
    TDebugLog log(path);
    QDateTime now(QDate(2024, 2, 1), QTime(10, 20, 30));
    log.Now = [&] { return now; };
    QVERIFY(log.SwitchOn());
    log.WriteLine(text.toStdString());
    QVERIFY(log.SwitchOff());
    QCOMPARE(ReadBytes(path), Block("01.02.2024 10:20:30", "Начали процесс протоколирования") + lines +
                                  Block("01.02.2024 10:20:30", "Окончили процесс протоколирования"));
  }

  // A log that cannot be opened or written stays off and creates nothing.
  void unusableFileLeavesLoggingOff_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("directory") << QString("DIR");
    QTest::newRow("under-a-plain-file") << QString("FILE/log.txt");
    QTest::newRow("disk-full") << QString("/dev/full");
  }
  void unusableFileLeavesLoggingOff() {
    QFETCH(QString, path);
    QFile plain(dir_.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    path.replace("DIR", dir_.path()).replace("FILE", plain.fileName());
    TDebugLog log(path);
    QVERIFY(!log.SwitchOn());
    QVERIFY(!log.IsOn());
    log.WriteLine("lost");
    QVERIFY(log.SwitchOff());
    QCOMPARE(ReadBytes(plain.fileName()), QByteArray());
  }

 private:
  QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestDebugLog)
#include "tst_DebugLog.moc"
