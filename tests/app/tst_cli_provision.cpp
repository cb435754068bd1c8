// diff, write --backup and write --verify end to end: the real binary against
// the simulated panel.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "tests/common/SettingsText.h"
#include "tests/app/CliRun.h"
#include "tools/PanelSim.h"

using ostrel::sim::EFault;
using ostrel::sim::TPanelSim;
using ostrel::sim::TPanelState;

namespace {

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool AnyWrite(const std::vector<std::string>& commands) {
  return std::any_of(commands.begin(), commands.end(), [](const std::string& c) { return c.rfind("+w", 0) == 0; });
}

// A panel with something in every group of settings.
TPanelState Configured() {
  TPanelState state;
  state.Phones[0] = "+79160000001";
  state.Phones[6] = "+79160000007";
  state.Flags[6] = "101";
  state.EntryDelay = 30;
  state.ExitDelay = 45;
  state.Keys[1] = "1122334455667788";
  state.GsmModule = 1;
  state.Ring = 3;
  state.Adc[1].Thresholds = {50, 250, 450, 650, 850};
  return state;
}

}  // namespace

class TestCliProvision : public QObject {
  Q_OBJECT

 private slots:
  void usageErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("diff-without-in") << QStringList{"diff", "--port", "/dev/null"};
    QTest::newRow("diff-missing-file") << QStringList{"diff", "--port", "/dev/null", "--in", "/nonexistent/a.ini"};
    QTest::newRow("verify-on-read") << QStringList{"read", "--port", "/dev/null", "--out", "/tmp/x.ini", "--verify"};
    QTest::newRow("backup-is-the-input") << QStringList{"write", "--port", "/dev/null", "--in", "/tmp/x.ini",
                                                        "--backup", "/tmp/../tmp/x.ini"};
    QTest::newRow("backup-on-diff") << QStringList{"diff", "--port", "/dev/null", "--in", "/tmp/x.ini", "--backup",
                                                   "/tmp/b.ini"};
    // The actions of site and library, and the options each action takes.
    QTest::newRow("rename-on-site-add") << QStringList{"site", "add", "A", "--rename", "B"};
    QTest::newRow("address-on-site-archive") << QStringList{"site", "archive", "A", "--address", "B"};
    QTest::newRow("unknown-site-action") << QStringList{"site", "remove", "A"};
    QTest::newRow("site-add-without-name") << QStringList{"site", "add"};
    QTest::newRow("unknown-library-action") << QStringList{"library", "vacuum"};
    QTest::newRow("library-import-without-dir") << QStringList{"library", "import"};
    QTest::newRow("library-sync-with-a-word") << QStringList{"library", "sync", "now"};
  }
  void usageErrors() {
    QFETCH(QStringList, args);
    TRun run = Run(args);
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.trimmed().split('\n').last().startsWith("ostrelgsm4: "), qPrintable(run.err));
  }

  void helpDescribesTheNewCommands() {
    const TRun help = Run({"--help"});
    QCOMPARE(help.status, 0);
    for (const char* word : {"diff", "--backup", "--verify"}) QVERIFY2(help.out.contains(word), word);
  }

  // A file read from the panel matches it; then a changed phone, key and
  // threshold are exactly the differences (the threshold only with --adc).
  void diffFindsExactlyTheChangedSettings() {
    TPanelSim sim;
    sim.SetState(Configured());
    sim.Start();
    QTemporaryDir dir;
    const QString file = dir.filePath("panel.ini");
    TRun run = Run({"read", "--port", Path(sim), "--out", file, "--adc", "--quiet"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    run = Run({"diff", "--port", Path(sim), "--in", file, "--adc", "--quiet"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(run.out, QString());
    QVERIFY(!AnyWrite(sim.Commands()));

    TPanelState changed = Configured();
    changed.Phones[2] = "+79161112233";
    changed.Keys[4] = "0123456789ABCDEF";
    changed.Adc[0].Thresholds[2] = 512;
    sim.SetState(changed);
    run = Run({"diff", "--port", Path(sim), "--in", file, "--adc", "--quiet"});
    QCOMPARE(run.status, 4);
    QStringList lines = run.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QString("[Phones] Phone3: panel '+79161112233' file ''"));
    QVERIFY2(lines[1].startsWith("[Keys] Key4: panel '") && lines[1].endsWith("' file '0000000000000000'"),
             qPrintable(lines[1]));
    QVERIFY2(lines[2].startsWith("[ts1] slider") && lines[2].contains("panel '512' file '500'"), qPrintable(lines[2]));
    QVERIFY(run.err.trimmed().split('\n').last().startsWith("ostrelgsm4: 3 settings differ"));

    run = Run({"diff", "--port", Path(sim), "--in", file, "--quiet"});
    QCOMPARE(run.status, 4);
    QCOMPARE(run.out.trimmed().split('\n').size(), 2);
    QVERIFY(!AnyWrite(sim.Commands()));
  }

  // "diff ... | head -1": the closed pipe ends the run with its own final
  // line and status, not a silent death by SIGPIPE; --help the same.
  void closedOutputEndsTheRunWithItsOwnLine() {
    TPanelSim sim;
    sim.SetState(Configured());
    sim.Start();
    QTemporaryDir dir;
    const QString file = dir.filePath("panel.ini");
    TRun run = Run({"read", "--port", Path(sim), "--out", file, "--quiet"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    TPanelState changed = Configured();
    changed.Phones[2] = "+79161112233";
    changed.Phones[3] = "+79161112244";
    sim.SetState(changed);
    for (const QStringList& args : {QStringList{"diff", "--port", Path(sim), "--in", file, "--quiet"},
                                    QStringList{"--help"}}) {
      run = Run(args, 60000, true);
      QCOMPARE(run.status, 141);
      QCOMPARE(run.err.trimmed().split('\n').last(),
               QString("ostrelgsm4: standard output was closed before the output ended"));
    }
  }

  void diffReportsAFailedReadAsForRead() {
    TPanelSim sim;
    sim.AddFault({"+rk4", EFault::NoOk, false, 0, ""});
    sim.Start();
    QTemporaryDir dir;
    const QString file = dir.filePath("panel.ini");
    WriteFile(file, CompleteSettings());
    const TRun run = Run({"diff", "--port", Path(sim), "--in", file, "--quiet"});
    QCOMPARE(run.status, 3);
    QCOMPARE(run.out, QString());
  }

  // The panel confirms the write of entry 3's phone but keeps the old one.
  void verifyNamesWhatThePanelDidNotKeep_data() {
    QTest::addColumn<bool>("keep");
    QTest::newRow("panel-keeps-old-phone") << true;
    QTest::newRow("panel-takes-everything") << false;
  }
  void verifyNamesWhatThePanelDidNotKeep() {
    QFETCH(bool, keep);
    TPanelSim sim;
    if (keep) sim.AddFault({"+wt03", EFault::Keep, false, 0, ""});
    sim.Start();
    QTemporaryDir dir;
    const QString file = dir.filePath("edited.ini");
    WriteFile(file, CompleteSettings()
                        .replace("Phone3=\r\n", "Phone3=89035550011\r\n")
                        .replace("Phone4=\r\n", "Phone4=89035550044\r\n")
                        .replace("TimeOut=0", "TimeOut=30"));
    const TRun run = Run({"write", "--port", Path(sim), "--in", file, "--verify", "--quiet"});
    QCOMPARE(sim.State().Phones[3], std::string("89035550044"));
    if (!keep) {
      QVERIFY2(run.status == 0, qPrintable(run.err));
      QCOMPARE(run.out, QString());
      return;
    }
    QCOMPARE(run.status, 3);
    QCOMPARE(run.out, QString("[Phones] Phone3: panel '' file '89035550011'\n"));
    const QString last = run.err.trimmed().split('\n').last();
    QVERIFY2(last.startsWith("ostrelgsm4: ") && last.endsWith("[Phones] Phone3"), qPrintable(last));
  }

  // The backup holds the panel as it was: writing it back restores the
  // panel, and a read of the restored panel gives the same bytes.
  void backupRestoresThePanel() {
    TPanelSim sim;
    sim.SetState(Configured());
    sim.Start();
    QTemporaryDir dir;
    const QString edited = dir.filePath("edited.ini");
    const QString backup = dir.filePath("backup.ini");
    WriteFile(edited, CompleteSettings()
                          .replace("Phone1=\r\n", "Phone1=89035550011\r\n")
                          .replace("Key1=0000000000000000", "Key1=AAAAAAAAAAAAAAAA")
                          .replace("[ts2]\r\nslider0=100", "[ts2]\r\nslider0=7"));
    TRun run = Run({"write", "--port", Path(sim), "--in", edited, "--backup", backup, "--adc", "--quiet"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(sim.State().Phones[0], std::string("89035550011"));
    QVERIFY(sim.State() != Configured());

    run = Run({"write", "--port", Path(sim), "--in", backup, "--adc", "--quiet"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY(sim.State() == Configured());
    const QString reread = dir.filePath("reread.ini");
    run = Run({"read", "--port", Path(sim), "--out", reread, "--adc", "--quiet"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(ReadFile(reread), ReadFile(backup));
  }

  void failedBackupWritesNothing_data() {
    QTest::addColumn<bool>("readFails");
    QTest::newRow("backup-read-fails") << true;
    QTest::newRow("backup-file-unwritable") << false;
  }
  void failedBackupWritesNothing() {
    QFETCH(bool, readFails);
    TPanelSim sim;
    if (readFails) sim.AddFault({"+rk4", EFault::NoOk, false, 0, ""});
    sim.Start();
    QTemporaryDir dir;
    const QString edited = dir.filePath("edited.ini");
    WriteFile(edited, CompleteSettings().replace("Phone1=\r\n", "Phone1=89035550011\r\n"));
    const QString backup = readFails ? dir.filePath("backup.ini") : dir.filePath("missing/backup.ini");
    const TRun run = Run({"write", "--port", Path(sim), "--in", edited, "--backup", backup, "--quiet"});
    QCOMPARE(run.status, readFails ? 3 : 1);
    QVERIFY(!QFile::exists(backup));
    QVERIFY(!AnyWrite(sim.Commands()));
    QVERIFY(sim.State() == TPanelState());
  }
};

QTEST_GUILESS_MAIN(TestCliProvision)
#include "tst_cli_provision.moc"
