// The command line end to end: the real binary against the simulators.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>

#include "persist/IniFile.h"
#include "tests/common/SettingsText.h"
#include "tests/app/CliRun.h"
#include "tools/ModemSim.h"
#include "tools/PanelSim.h"

using ostrel::sim::EFault;
using ostrel::sim::TModemSim;
using ostrel::sim::TPanelSim;

namespace {

// The first character of text a terminal could take as a command: a C0
// control other than a line end ("\n", "\r\n") or, in columns, the tab
// between them, DEL, a C1 control, or a byte that was not UTF-8 (read back
// as U+FFFD); -1 when there is none.
qsizetype RawControl(const QString& text, bool columns = false) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    const bool lineEnd = c == u'\n' || (c == u'\r' && text.mid(i + 1, 1) == "\n");
    if ((c < 0x20 && !lineEnd && !(columns && c == u'\t')) || c == 0x7f || (c >= 0x80 && c < 0xa0) || c == 0xfffd)
      return i;
  }
  return -1;
}

QString Around(const QString& text, qsizetype at) {
  if (at < 0) return QString();
  return text.mid(std::max<qsizetype>(0, at - 60), 120).toHtmlEscaped() + QString(" (U+%1)").arg(
             unsigned(text[at].unicode()), 4, 16, QChar('0'));
}

}  // namespace

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

  // A panel, or whoever answers a call, may send anything: a reply holding
  // "ESC ] 0 ; ... BEL" would retitle the terminal. Every line printed, the
  // traffic, the message box, the final line and the library's lines on
  // standard output, shows control characters escaped and Cyrillic as it is.
  void linesShowNoControlCharacters_data() {
    QTest::addColumn<bool>("call");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("shown");  // as the escaped traffic must show it
    const QString phone = "+rt05:reply=+rt05\\r+rt05%1\\rOK\\r\\n";
    QTest::newRow("version") << false
                             << "+v:reply=+v\\rOstrel GSM VER 05.01 \\x1b]0;pwned\\x07\\xc2\\x9b2J "
                                "\\xd0\\x9f\\x7f\\rOK\\r\\n"
                             << 0 << "VER 05.01 \\x1b]0;pwned\\x07\\x9b2J П\\x7f";
    QTest::newRow("phone") << false << phone.arg("\\x1b]0;pwned\\x07") << 3 << "+rt05\\x1b]0;pwned\\x07";
    // Not UTF-8: read as Windows-1251, as everywhere, the controls escaped.
    QTest::newRow("not-utf8") << false << phone.arg("\\xcf\\x1b[2J\\x9b") << 3 << "+rt05П\\x1b[2J›";
    QTest::newRow("through-a-call") << true << phone.arg("\\x1b]0;pwned\\x07") << 3 << "+rt05\\x1b]0;pwned\\x07";
  }
  void linesShowNoControlCharacters() {
    QFETCH(bool, call);
    QFETCH(QString, fault);
    QFETCH(int, status);
    QFETCH(QString, shown);
    std::string error;
    const auto parsed = ostrel::sim::ParseFault(fault.toStdString(), error);
    QVERIFY2(parsed, error.c_str());
    std::unique_ptr<ostrel::sim::TSimServer> sim;
    if (call)
      sim = std::make_unique<TModemSim>();
    else
      sim = std::make_unique<TPanelSim>();
    sim->AddFault(*parsed);
    sim->Start();
    QTemporaryDir dir;
    const QString library = dir.filePath("library.sqlite");
    QStringList args{"read", "--port", QString::fromStdString(sim->SlavePath()), "--out", dir.filePath("panel.ini"),
                     "--site", "Склад", "--library", library};
    if (call) args << "--phone" << "+79160001122";
    const TRun read = Run(args);
    QVERIFY2(read.status == status, qPrintable(read.err));
    QVERIFY2(read.err.contains(shown), qPrintable(read.err));
    if (status != 0) QVERIFY2(read.err.contains("message: "), qPrintable(read.err));
    // The record keeps the text as it came: the library's lines show it
    // escaped, the JSON for scripts gives it back exactly.
    const TRun history = Run({"history", "Склад", "--library", library});
    const TRun json = Run({"history", "Склад", "--library", library, "--json"});
    const TRun show = Run({"show", "Склад", "--library", library});
    for (const TRun* run : {&read, &history, &json, &show}) {
      for (const QString* text : {&run->out, &run->err}) {
        const qsizetype at = RawControl(*text, text == &history.out);
        QVERIFY2(at < 0, qPrintable(Around(*text, at)));
      }
    }
    if (QTest::currentDataTag() != QString("version")) return;
    QVERIFY2(history.out.contains(shown), qPrintable(history.out));
    QJsonParseError parseError;
    const QJsonDocument records = QJsonDocument::fromJson(json.out.toUtf8(), &parseError);
    QVERIFY2(parseError.error == QJsonParseError::NoError, qPrintable(json.out));
    QCOMPARE(records.array().first().toObject().value("firmware").toString(),
             QString::fromUtf8("Ostrel GSM VER 05.01 \x1b]0;pwned\x07\xc2\x9b" "2J \xd0\x9f\x7f"));
    QVERIFY2(show.out.contains("[Phones]\r\n"), qPrintable(show.out));
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
