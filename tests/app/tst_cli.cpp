// The command line end to end: the real binary against the simulators.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "persist/IniFile.h"
#include "tests/common/SettingsText.h"
#include "tests/app/CliRun.h"
#include "tools/ModemSim.h"
#include "tools/PanelSim.h"

using ostrel::sim::EFault;
using ostrel::sim::TModemSim;
using ostrel::sim::TPanelSim;


class TestCli : public QObject {
  Q_OBJECT

 private slots:
  void helpAndVersion() {
    TRun help = Run({"--help"});
    QCOMPARE(help.status, 0);
    QVERIFY(help.out.contains("read") && help.out.contains("--port"));
    TRun version = Run({"--version"});
    QCOMPARE(version.status, 0);
    QVERIFY(version.out.contains("1.012"));
  }

  void usageErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown-command") << QStringList{"fetch"};
    QTest::newRow("read-without-port") << QStringList{"read", "--out", "/tmp/x.ini"};
    QTest::newRow("read-without-out") << QStringList{"read", "--port", "/dev/null"};
    QTest::newRow("unknown-option") << QStringList{"read", "--colour"};
    QTest::newRow("write-missing-file") << QStringList{"write", "--port", "/dev/null", "--in", "/nonexistent/a.ini"};
    // Nothing to dial would quietly become a direct link.
    QTest::newRow("phone-without-digits")
        << QStringList{"read", "--port", "/dev/null", "--out", "/tmp/x.ini", "--phone", "abc"};
    QTest::newRow("phone-empty") << QStringList{"read", "--port", "/dev/null", "--out", "/tmp/x.ini", "--phone", ""};
    QTest::newRow("phone-plus-and-pauses")
        << QStringList{"read", "--port", "/dev/null", "--out", "/tmp/x.ini", "--phone", "+W,;"};
    QTest::newRow("out-on-write") << QStringList{"write", "--port", "/dev/null", "--in", "/tmp/x.ini", "--out", "y"};
    QTest::newRow("port-on-ports") << QStringList{"ports", "--port", "/dev/null"};
  }
  void usageErrors() {
    QFETCH(QStringList, args);
    TRun run = Run(args);
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.trimmed().split('\n').last().startsWith("ostrelgsm4: "), qPrintable(run.err));
  }

  // The final line stays one line whatever the port's name holds, and it is
  // the last line also when no display is found.
  void finalLineIsOneLineAndTheLast() {
    TRun run = Run({"read", "--port", "/nonexistent/a\nb\tc", "--out", "/tmp/never-written.ini", "--quiet"});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.endsWith('\n') && !run.err.isEmpty(), qPrintable(run.err));
    const QString last = run.err.trimmed().split('\n').last();
    QVERIFY2(last.startsWith("ostrelgsm4: ") && last.contains("a\\nb\\tc"), qPrintable(run.err));

    QProcess window;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    window.setProcessEnvironment(env);
    window.start(OSTRELGSM4_BINARY, {});
    QVERIFY(window.waitForFinished(60000));
    QCOMPARE(window.exitCode(), 1);
    const QString err = QString::fromUtf8(window.readAllStandardError()).trimmed();
    QVERIFY2(err.split('\n').last().startsWith("ostrelgsm4: no display"), qPrintable(err));
  }

  // The command line loads no GUI library; without its window's program
  // beside it or installed, the window's arguments end in one clear line.
  void commandLineStandsWithoutTheWindow() {
    QProcess ldd;
    ldd.start("ldd", {OSTRELGSM4_BINARY});
    if (!ldd.waitForFinished(60000) || ldd.exitCode() != 0) QSKIP("ldd is not available");
    const QString libs = QString::fromUtf8(ldd.readAllStandardOutput());
    QVERIFY2(libs.contains("libQt6Core") && !libs.contains("libQt6Gui") && !libs.contains("libQt6Widgets"),
             qPrintable(libs));

    QTemporaryDir dir;
    const QString alone = dir.filePath("ostrelgsm4");
    QVERIFY(QFile::copy(OSTRELGSM4_BINARY, alone));
    QProcess window;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    window.setProcessEnvironment(env);
    window.start(alone, {"--port", "/dev/null"});
    QVERIFY(window.waitForFinished(60000));
    QCOMPARE(window.exitCode(), 1);
    const QString err = QString::fromUtf8(window.readAllStandardError());
    QVERIFY2(err.count('\n') == 1 && err.startsWith("ostrelgsm4: the window's program is not installed") &&
                 err.contains(dir.filePath("ostrelgsm4-window")),
             qPrintable(err));
  }

  void readBacksUpThePanel() {
    TPanelSim sim;
    ostrel::sim::TPanelState state = sim.State();
    state.Phones[6] = "+79161234567";
    sim.SetState(state);
    sim.Start();
    QTemporaryDir dir;
    const QString out = dir.filePath("panel.ini");
    TRun run = Run({"read", "--port", Path(sim), "--out", out});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY(run.err.contains("-> +rt07"));
    TIniFile ini(out);
    QVERIFY(ini.Load());
    QCOMPARE(ini.ReadString("Phones", "Phone7", ""), QString("+79161234567"));
    QCOMPARE(ini.ReadString("Connect", "ComPort", ""), Path(sim));
    const auto commands = sim.Commands();
    QCOMPARE(commands.front(), std::string("+v"));
    QVERIFY(Contains(commands, "+rk9") || Contains(commands, "+rk0"));
    QVERIFY(Contains(commands, "+rh"));
    QVERIFY(!Contains(commands, "+c=0"));
  }

  void readWithAdcAndQuiet() {
    TPanelSim sim;
    sim.Start();
    QTemporaryDir dir;
    const QString out = dir.filePath("panel.ini");
    TRun run = Run({"read", "--port", Path(sim), "--out", out, "--adc", "--quiet"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(!run.err.contains("-> +v") && !run.err.contains("<<-"), qPrintable(run.err));
    QVERIFY(Contains(sim.Commands(), "+c=0"));
    QVERIFY(QFile::exists(out));
  }

  void writeRestoresAFile() {
    TPanelSim sim;
    sim.Start();
    QTemporaryDir dir;
    const QString file = dir.filePath("edited.ini");
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(CompleteSettings().replace("Phone3=\r\n", "Phone3=89035550011\r\n").replace("TimeOut=0", "TimeOut=30"));
    f.close();
    TRun run = Run({"write", "--port", Path(sim), "--in", file});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(sim.State().Phones[2], std::string("89035550011"));
    QCOMPARE(sim.State().EntryDelay, 30);
    QVERIFY(Contains(sim.Commands(), "+wt03=89035550011"));
  }

  void connectionFailuresLeaveTheFileAlone_data() {
    QTest::addColumn<bool>("badPort");
    QTest::newRow("port-does-not-exist") << true;
    QTest::newRow("wrong-firmware") << false;
  }
  void connectionFailuresLeaveTheFileAlone() {
    QFETCH(bool, badPort);
    TPanelSim sim;
    sim.SetVersionText("Ostrel GSM VER 04.00");
    sim.Start();
    QTemporaryDir dir;
    const QString out = dir.filePath("panel.ini");
    TRun run = Run({"read", "--port", badPort ? QString("/nonexistent/tty") : Path(sim), "--out", out});
    QCOMPARE(run.status, 2);
    QVERIFY(run.err.trimmed().split('\n').last().startsWith("ostrelgsm4: connection failed: "));
    QVERIFY(!QFile::exists(out));
  }

  void exchangeFailureLeavesTheFileUnchanged() {
    TPanelSim sim;
    sim.AddFault({"+rk4", EFault::NoOk, false, 0, ""});
    sim.Start();
    QTemporaryDir dir;
    const QString out = dir.filePath("panel.ini");
    QFile f(out);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Phones]\r\nPhone1=old\r\n");
    f.close();
    TRun run = Run({"read", "--port", Path(sim), "--out", out, "--quiet"});
    QCOMPARE(run.status, 3);
    QVERIFY(run.err.contains(QString::fromUtf8("ОШИБКА при чтении ключей!")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("[Phones]\r\nPhone1=old\r\n"));
  }

  void readThroughAModemCall() {
    TModemSim modem;
    modem.Start();
    QTemporaryDir dir;
    const QString out = dir.filePath("panel.ini");
    TRun run = Run({"read", "--port", QString::fromStdString(modem.SlavePath()), "--out", out, "--phone",
                    "+7 916 000-11-22"});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY(run.err.contains("-> ATZ"));
    const auto modemCommands = modem.ModemCommands();
    QVERIFY(Contains(modemCommands, "ATD +79160001122"));
    QVERIFY(Contains(modemCommands, "ATH"));
    QVERIFY(Contains(modem.Commands(), "+v"));
  }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
