// The command line on the settings model, end to end against the simulated
// panel: no window, no platform plugin; thresholds and keys exact from panel
// to file to panel; read --out makes a fresh file.
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include "persist/IniFile.h"
#include "tests/app/CliRun.h"
#include "tools/PanelSim.h"

using ostrel::sim::EFault;
using ostrel::sim::TPanelSim;
using ostrel::sim::TPanelState;

namespace {

using TThresholds = std::array<int, 5>;

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

// The binary with no display, no platform plugin asked for and no runtime
// directory: what a service or an ssh session without X gives it.
TRun RunBare(const QStringList& args) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"}) env.remove(name);
  QProcess process;
  process.setProcessEnvironment(env);
  process.start(OSTRELGSM4_BINARY, args);
  TRun run;
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished();
    run.err = "timed out";
    return run;
  }
  run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

QString Hex3(int value) { return QString::number(value, 16).toUpper().rightJustified(3, '0'); }

int Slider(const QString& file, const char* section, int k) {
  TIniFile ini(file);
  if (!ini.Load()) return -2;
  return ini.ReadInteger(section, QStringLiteral("slider%1").arg(k), -1);
}

}  // namespace

class TestCliModel : public QObject {
  Q_OBJECT

 private slots:
  // read, write and diff run without a display and without a word about one.
  void noWindowNeeded() {
    TPanelSim sim;
    sim.Start();
    QTemporaryDir dir;
    const QString file = dir.filePath("panel.ini");
    for (const QStringList& args :
         {QStringList{"read", "--port", Path(sim), "--out", file, "--adc"},
          QStringList{"write", "--port", Path(sim), "--in", file, "--adc", "--verify"},
          QStringList{"diff", "--port", Path(sim), "--in", file, "--adc"}}) {
      const TRun run = RunBare(args);
      QVERIFY2(run.status == 0, qPrintable(args.first() + ": " + run.err));
      for (const char* word : {"QStandardPaths", "XDG_RUNTIME_DIR", "platform plugin", "display", "QWidget"})
        QVERIFY2(!run.err.contains(word, Qt::CaseInsensitive), qPrintable(args.first() + ": " + run.err));
      const TRun quiet = RunBare(args + QStringList{"--quiet"});
      QCOMPARE(quiet.status, 0);
      QCOMPARE(quiet.err, QString());
    }
  }

  // With --quiet a failure leaves one line on standard error: the final one.
  void quietFailureLeavesOnlyTheFinalLine() {
    TPanelSim sim;
    sim.AddFault({"+rk4", EFault::NoOk, false, 0, ""});
    sim.Start();
    QTemporaryDir dir;
    const TRun run = RunBare({"read", "--port", Path(sim), "--out", dir.filePath("a.ini"), "--quiet"});
    QCOMPARE(run.status, 3);
    const QStringList lines = run.err.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].startsWith("ostrelgsm4: reading the panel failed: ") && lines[0].contains("+rk4"),
             qPrintable(run.err));
    QVERIFY(!QFile::exists(dir.filePath("a.ini")));
  }

  // Thresholds go panel -> file -> panel exactly, whatever their spacing;
  // diff tells a file from the panel it came from by one step of one value.
  void thresholdsTravelExactly_data() {
    QTest::addColumn<TThresholds>("ch1");
    QTest::addColumn<TThresholds>("ch2");
    QTest::newRow("adjacent") << TThresholds{500, 501, 502, 503, 504} << TThresholds{0, 1, 2, 3, 4};
    QTest::newRow("equal-neighbours") << TThresholds{300, 300, 300, 301, 301} << TThresholds{7, 7, 7, 7, 7};
    QTest::newRow("ends-of-the-scale") << TThresholds{0, 0, 512, 1023, 1023} << TThresholds{1019, 1020, 1021, 1022, 1023};
    QTest::newRow("wide") << TThresholds{0, 256, 512, 768, 1023} << TThresholds{10, 200, 400, 800, 1000};
  }
  void thresholdsTravelExactly() {
    QFETCH(TThresholds, ch1);
    QFETCH(TThresholds, ch2);
    const TThresholds channels[2] = {ch1, ch2};
    TPanelState state;
    state.Adc[0].Thresholds = ch1;
    state.Adc[1].Thresholds = ch2;
    TPanelSim sim;
    sim.SetState(state);
    sim.Start();
    QTemporaryDir dir;
    const QString file = dir.filePath("panel.ini");
    TRun run = Run({"read", "--port", Path(sim), "--out", file, "--adc", "--quiet"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    for (int c = 0; c < 2; ++c)
      for (int k = 0; k < 5; ++k) QCOMPARE(Slider(file, c == 0 ? "ts1" : "ts2", k), channels[c][k]);

    // Written to a panel that holds other thresholds: every value on the wire
    // as three hexadecimal digits, and kept.
    sim.SetState(TPanelState());
    sim.ClearCommands();
    run = Run({"write", "--port", Path(sim), "--in", file, "--adc", "--verify", "--quiet"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    for (int c = 0; c < 2; ++c)
      for (int k = 0; k < 5; ++k) {
        const std::string command = QStringLiteral("+it%1%2=%3").arg(c).arg(k).arg(Hex3(channels[c][k])).toStdString();
        QVERIFY2(Contains(sim.Commands(), command), command.c_str());
      }
    QCOMPARE(sim.State().Adc[0].Thresholds, ch1);
    QCOMPARE(sim.State().Adc[1].Thresholds, ch2);

    run = Run({"diff", "--port", Path(sim), "--in", file, "--adc", "--quiet"});
    QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
    // One threshold one step off, where the order of the channel allows it.
    for (int c = 0; c < 2; ++c) {
      const char* section = c == 0 ? "ts1" : "ts2";
      const TThresholds& t = channels[c];
      int k = -1, other = -1;
      for (int i = 0; i < 5 && k < 0; ++i) {
        if (t[i] < 1023 && (i == 4 || t[i] + 1 <= t[i + 1])) k = i, other = t[i] + 1;
        else if (t[i] > 0 && (i == 0 || t[i] - 1 >= t[i - 1])) k = i, other = t[i] - 1;
      }
      QVERIFY(k >= 0);
      const QString edited = dir.filePath(QStringLiteral("edited%1.ini").arg(c));
      QVERIFY(QFile::copy(file, edited));
      TIniFile ini(edited);
      QVERIFY(ini.Load());
      ini.WriteInteger(section, QStringLiteral("slider%1").arg(k), other);
      QVERIFY(ini.Save());
      run = Run({"diff", "--port", Path(sim), "--in", edited, "--adc", "--quiet"});
      QCOMPARE(run.status, 4);
      QCOMPARE(run.out.trimmed(),
               QStringLiteral("[%1] slider%2: panel '%3' file '%4'").arg(section).arg(k).arg(t[k]).arg(other));
    }
  }

  // read --out over an existing file gives what a read into a new file gives,
  // and write takes it; without --adc it holds no thresholds.
  void readOutReplacesTheOldFile() {
    TPanelState state;
    state.Phones[2] = "+79031234567";
    state.Keys[3] = "0123456789ABCDEF";
    TPanelSim sim;
    sim.SetState(state);
    sim.Start();
    QTemporaryDir dir;
    const QString fresh = dir.filePath("fresh.ini");
    const QString old = dir.filePath("old.ini");
    WriteFile(old,
              "[Foreign]\r\nanswer=42\r\n[Phones]\r\nPhone1=111\r\n[PHONES]\r\nphone1=222\r\n"
              "[ts1]\r\nslider0=900\r\nslider1=10\r\n[Keys]\r\nKey0=XYZ\r\n");
    TRun run = Run({"read", "--port", Path(sim), "--out", fresh, "--quiet"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    run = Run({"read", "--port", Path(sim), "--out", old, "--quiet"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(ReadFile(old), ReadFile(fresh));
    QVERIFY(!ReadFile(old).contains("[ts"));
    run = Run({"write", "--port", Path(sim), "--in", old, "--quiet"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    // A write of the thresholds names the section the file lacks, before the port is opened.
    sim.ClearCommands();
    run = Run({"write", "--port", Path(sim), "--in", old, "--adc", "--quiet"});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains("[ts1] slider0: missing"), qPrintable(run.err));
    QVERIFY(sim.Commands().empty());
  }

  // Keys of 1 to 16 digits, in either case, survive a write with its check
  // and a diff.
  void shortKeysSurvive() {
    TPanelSim sim;
    sim.Start();
    QTemporaryDir dir;
    const QString digits = "a1B2c3D4e5F6a7B8";
    for (int first : {1, 7}) {
      const QString file = dir.filePath(QStringLiteral("keys%1.ini").arg(first));
      TRun run = Run({"read", "--port", Path(sim), "--out", file, "--quiet"});
      QVERIFY2(run.status == 0, qPrintable(run.err));
      TIniFile ini(file);
      QVERIFY(ini.Load());
      for (int i = 0; i < 10; ++i) {
        const int length = std::min(first + i, 16);
        ini.WriteString("Keys", QStringLiteral("Key%1").arg(i), i % 2 ? digits.left(length).toLower() : digits.left(length));
      }
      QVERIFY(ini.Save());
      run = Run({"write", "--port", Path(sim), "--in", file, "--verify", "--quiet"});
      QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
      run = Run({"diff", "--port", Path(sim), "--in", file, "--quiet"});
      QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
    }
  }

  // The backup is refused when it names the input under another name: the
  // same device and inode.
  void backupNamingTheInputIsRefused() {
    QTemporaryDir dir;
    const QString in = dir.filePath("in.ini");
    WriteFile(in, "[Phones]\r\nPhone1=1\r\n");
    const QString link = dir.filePath("link.ini");
    QVERIFY(QFile::link(in, link));
    QVERIFY(QFile::copy(in, dir.filePath("copy.ini")));
    TRun run = Run({"write", "--port", "/dev/null", "--in", in, "--backup", link});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains("--backup names the file to write"), qPrintable(run.err));
    QCOMPARE(ReadFile(in), QByteArray("[Phones]\r\nPhone1=1\r\n"));
  }
};

QTEST_GUILESS_MAIN(TestCliModel)
#include "tst_cli_model.moc"
