// "write" runs unattended: every mistaken or hostile settings file is refused
// before the port is opened (the panel receives nothing, not even "+v"),
// with exit status 1 and a last line naming the file and the value.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

#include "tests/app/CliRun.h"
#include "tests/common/SettingsText.h"
#include "tools/PanelSim.h"

using ostrel::sim::TPanelSim;

namespace {

TRun Write(const QString& port, const QString& file) {
  return Run({"write", "--port", port, "--in", file, "--adc"}, 30000);
}

QString WriteFile(const QTemporaryDir& dir, const QByteArray& bytes) {
  const QString file = dir.filePath("settings.ini");
  QFile f(file);
  if (f.open(QIODevice::WriteOnly)) f.write(bytes);
  return file;
}

QString LastLine(const TRun& run) { return run.err.trimmed().split('\n').last(); }

}  // namespace

class TestCliInput : public QObject {
  Q_OBJECT

 private slots:
  void hostileFileSendsNothing_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("named");
    for (const THostileFile& f : HostileFiles()) QTest::newRow(f.Name) << f.Bytes << QString::fromUtf8(f.Named);
  }
  void hostileFileSendsNothing() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, named);
    TPanelSim sim;
    sim.Start();
    QTemporaryDir dir;
    const QString file = WriteFile(dir, bytes);
    const TRun run = Write(QString::fromStdString(sim.SlavePath()), file);
    QCOMPARE(run.status, 1);
    const QString last = LastLine(run);
    QVERIFY2(last.startsWith("ostrelgsm4: " + file + ": ") && last.contains(named), qPrintable(run.err));
    sim.Stop();
    QVERIFY(sim.Commands().empty());
  }

  // Neither a FIFO nor a device is opened as a settings file.
  void specialFileIsRefusedAtOnce_data() {
    QTest::addColumn<bool>("fifo");
    QTest::newRow("fifo") << true;
    QTest::newRow("dev-zero") << false;
  }
  void specialFileIsRefusedAtOnce() {
    QFETCH(bool, fifo);
    TPanelSim sim;
    sim.Start();
    QTemporaryDir dir;
    QString file = "/dev/zero";
    if (fifo) {
      file = dir.filePath("pipe.ini");
      QCOMPARE(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    }
    const TRun run = Write(QString::fromStdString(sim.SlavePath()), file);
    QCOMPARE(run.status, 1);
    QVERIFY2(LastLine(run).startsWith("ostrelgsm4: " + file + ": cannot read the settings file"), qPrintable(run.err));
    sim.Stop();
    QVERIFY(sim.Commands().empty());
  }

  // The same file without the hostile value goes out exactly as written.
  void knownFileIsWrittenAsWritten() {
    TPanelSim sim;
    sim.Start();
    QTemporaryDir dir;
    const QString file = WriteFile(dir, KnownSettings().replace("Key1=0000000000000000", "Key1=abc"));
    const TRun run = Write(QString::fromStdString(sim.SlavePath()), file);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    sim.Stop();
    const auto commands = sim.Commands();
    for (const char* sent : {"+wt01=555", "+wq02=100", "+wp=070000", "+wk0=EFCDAB8967452301",
                             "+wk1=BC0A000000000000", "+wg=1", "+wh=4", "+it10=032", "+it14=384"})
      QVERIFY2(std::find(commands.begin(), commands.end(), sent) != commands.end(), sent);
  }
};

QTEST_GUILESS_MAIN(TestCliInput)
#include "tst_cli_input.moc"
