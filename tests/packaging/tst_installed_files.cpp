// Where the program keeps its files, end to end: the real binary copied into
// an installed layout (<prefix>/bin), into a directory of another user and
// into its build tree (the window's program beside it, or in
// <prefix>/lib/ostrelgsm4 when installed), each run with a home of its own
// and closed by SIGTERM as a user closes the window.
#include <sys/stat.h>
#include <csignal>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "persist/IniFile.h"

namespace {

// The caught-signal mask of a process, from /proc: SIGTERM in it means the
// window's shutdown handler is in place.
bool CatchesSigterm(qint64 pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("SigCgt:")) return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
  return false;
}

int Mode(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return -1;
  return int(st.st_mode & 07777);
}

QStringList Entries(const QString& dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

class TestInstalledFiles : public QObject {
  Q_OBJECT

 private:
  // Opens the window of the program at binary and closes it with SIGTERM once it is up.
  void RunWindow(const QString& binary, const QProcessEnvironment& env, const QString& cwd) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(cwd);
    process.start(binary, {});
    QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(CatchesSigterm(process.processId()) || process.state() == QProcess::NotRunning, 60000);
    QCOMPARE(process.state(), QProcess::Running);
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(60000));
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             process.readAllStandardError().constData());
  }

 private slots:
  void filesGoWhereTheCopyBelongs_data() {
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("xdgSet");
    QTest::newRow("installed") << "installed" << false;
    QTest::newRow("installed-xdg") << "installed" << true;
    QTest::newRow("other-owner") << "other-owner" << false;
    QTest::newRow("build-tree") << "build-tree" << false;
  }
  // The files appear where the layout says, owner-only (0600) in private
  // directories, and nowhere else: not beside an installed binary, not in
  // the working directory.
  void filesGoWhereTheCopyBelongs() {
    QFETCH(QString, layout);
    QFETCH(bool, xdgSet);
    if (layout == "other-owner" && ::geteuid() != 0) QSKIP("handing a directory to another user needs root");

    QTemporaryDir scratch;
    QTemporaryDir buildTreeDir(QStringLiteral(OSTREL_TEST_BUILD_DIR "/installed-files-XXXXXX"));
    QVERIFY(scratch.isValid() && buildTreeDir.isValid());
    const QString home = scratch.filePath("home");
    const QString cwd = scratch.filePath("cwd");
    QVERIFY(QDir().mkpath(home) && QDir().mkpath(cwd));
    const QString bin = layout == "installed" ? scratch.filePath("usr/bin") : buildTreeDir.filePath("bin");
    QVERIFY(QDir().mkpath(bin));
    const QString binary = bin + "/ostrelgsm4";
    QVERIFY(QFile::copy(OSTRELGSM4_BINARY, binary));
    const QString windowDir = layout == "installed" ? scratch.filePath("usr/lib/ostrelgsm4") : bin;
    QVERIFY(QDir().mkpath(windowDir));
    QVERIFY(QFile::copy(OSTRELGSM4_WINDOW_BINARY, windowDir + "/ostrelgsm4-window"));
    if (layout == "other-owner") QCOMPARE(::chown(QFile::encodeName(bin).constData(), 65534, 65534), 0);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("XDG_CONFIG_HOME");
    env.remove("XDG_DATA_HOME");
    QString configDir = home + "/.config/OstrelGSM4";
    QString dataDir = home + "/.local/share/OstrelGSM4";
    if (xdgSet) {
      env.insert("XDG_CONFIG_HOME", scratch.filePath("xdg-config"));
      env.insert("XDG_DATA_HOME", scratch.filePath("xdg-data"));
      configDir = scratch.filePath("xdg-config/OstrelGSM4");
      dataDir = scratch.filePath("xdg-data/OstrelGSM4");
    }
    if (layout == "build-tree") configDir = dataDir = bin;

    RunWindow(binary, env, cwd);
    if (QTest::currentTestFailed()) return;
    for (const char* name : {"current.ini", "Windows.ini"}) {
      QVERIFY2(QFileInfo::exists(configDir + "/" + name), qPrintable(configDir + "/" + name));
      QCOMPARE(Mode(configDir + "/" + name), 0600);
    }
    // The debug log, switched on through the settings of the last run.
    TIniFile ini(configDir + "/current.ini");
    QVERIFY(ini.Load());
    ini.WriteBool("Debug", "Log", true);
    QVERIFY(ini.Save());
    RunWindow(binary, env, cwd);
    if (QTest::currentTestFailed()) return;
    QVERIFY2(QFileInfo::exists(dataDir + "/log.txt"), qPrintable(dataDir));
    QCOMPARE(Mode(dataDir + "/log.txt"), 0600);

    QCOMPARE(Entries(cwd), QStringList());
    if (layout == "build-tree") {
      QCOMPARE(Entries(bin), (QStringList{"Windows.ini", "current.ini", "log.txt", "ostrelgsm4", "ostrelgsm4-window"}));
      QCOMPARE(Entries(home), QStringList());
    } else {
      if (layout == "installed") {
        QCOMPARE(Entries(bin), QStringList{"ostrelgsm4"});
        QCOMPARE(Entries(windowDir), QStringList{"ostrelgsm4-window"});
      } else {
        QCOMPARE(Entries(bin), (QStringList{"ostrelgsm4", "ostrelgsm4-window"}));
      }
      QCOMPARE(Mode(configDir), 0700);
      QCOMPARE(Mode(dataDir), 0700);
    }
  }
};

QTEST_GUILESS_MAIN(TestInstalledFiles)
#include "tst_installed_files.moc"
