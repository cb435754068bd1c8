// Where the program keeps its files, end to end: the real binary copied into
// an installed layout (<prefix>/bin), into a directory of another user and
// into its build tree (the window's program beside it, or in
// <prefix>/lib/ostrelgsm4 when installed), each run with a home of its own
// and closed by SIGTERM as a user closes the window.
#include <sched.h>
#include <sys/mount.h>
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

// The process sees file (which must outlive its start) as /etc/passwd: a
// private mount namespace (root only) binds it there. The mounts are made private before one is added, so
// nothing reaches the system's own /etc/passwd; a child that cannot do it
// ends with 77 before it runs anything.
void ShowAsPasswd(QProcess& process, const QByteArray& file) {
  process.setChildProcessModifier([file = file.constData()] {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(file, "/etc/passwd", nullptr, MS_BIND, nullptr) != 0)
      ::_exit(77);
  });
}

// A password database whose only entry is the effective user's, with home
// as the home directory; empty when no process here can be shown one.
QByteArray PasswdWithHome(const QString& dir, const QString& home) {
  const QString name = dir + "/passwd";
  QFile passwd(name);
  if (!passwd.open(QIODevice::WriteOnly)) return {};
  passwd.write(QStringLiteral("user:x:%1:%2:user:%3:/bin/sh\n").arg(::geteuid()).arg(::getegid()).arg(home).toUtf8());
  passwd.close();
  const QByteArray file = QFile::encodeName(name);
  QProcess probe;
  ShowAsPasswd(probe, file);
  probe.start("/bin/true", {});
  if (!probe.waitForFinished(60000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) return {};
  return file;
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
  void RunWindow(const QString& binary, const QProcessEnvironment& env, const QString& cwd,
                 const QByteArray& passwd = QByteArray()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(cwd);
    if (!passwd.isEmpty()) ShowAsPasswd(process, passwd);
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
    QTest::addColumn<QString>("environment");
    QTest::newRow("installed") << "installed" << "home";
    QTest::newRow("installed-xdg") << "installed" << "xdg";
    // Started without an environment (env -i): the home from the password
    // database, never /.config or /.local/share.
    QTest::newRow("installed-no-home") << "installed" << "no-home";
    // Relative XDG paths are ignored, not taken from the working directory.
    QTest::newRow("installed-relative-xdg") << "installed" << "relative-xdg";
    QTest::newRow("other-owner") << "other-owner" << "home";
    QTest::newRow("build-tree") << "build-tree" << "home";
  }
  // The files appear where the layout says, owner-only (0600) in private
  // directories, and nowhere else: not beside an installed binary, not in
  // the working directory.
  void filesGoWhereTheCopyBelongs() {
    QFETCH(QString, layout);
    QFETCH(QString, environment);
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
    if (environment == "xdg") {
      env.insert("XDG_CONFIG_HOME", scratch.filePath("xdg-config"));
      env.insert("XDG_DATA_HOME", scratch.filePath("xdg-data"));
      configDir = scratch.filePath("xdg-config/OstrelGSM4");
      dataDir = scratch.filePath("xdg-data/OstrelGSM4");
    } else if (environment == "relative-xdg") {
      env.insert("XDG_CONFIG_HOME", "xdg-config");
      env.insert("XDG_DATA_HOME", "./xdg-data");
    } else if (environment == "no-home") {
      env.remove("HOME");
    }
    if (layout == "build-tree") configDir = dataDir = bin;
    // Without HOME the window learns its home from the password database.
    QByteArray passwd;
    if (environment == "no-home") {
      passwd = PasswdWithHome(scratch.path(), home);
      if (passwd.isEmpty()) QSKIP("no private mount namespace here to show the window a password database");
    }

    RunWindow(binary, env, cwd, passwd);
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
    RunWindow(binary, env, cwd, passwd);
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

  // SIGTERM while the configuration folder can no longer be written: the
  // window ends without waiting for a box (no one is there to answer it);
  // each failure to save is said on standard error and, while logging is
  // on, in the debug log.
  void signalStopNeverWaitsForABox() {
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString bin = scratch.filePath("usr/bin"), windowDir = scratch.filePath("usr/lib/ostrelgsm4");
    QVERIFY(QDir().mkpath(bin) && QDir().mkpath(windowDir) && QDir().mkpath(scratch.filePath("home")));
    QVERIFY(QFile::copy(OSTRELGSM4_BINARY, bin + "/ostrelgsm4"));
    QVERIFY(QFile::copy(OSTRELGSM4_WINDOW_BINARY, windowDir + "/ostrelgsm4-window"));
    const QString config = scratch.filePath("config"), data = scratch.filePath("data");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", scratch.filePath("home"));
    env.insert("XDG_CONFIG_HOME", config);
    env.insert("XDG_DATA_HOME", data);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    // A first run leaves the settings of the last run; logging on in them.
    RunWindow(bin + "/ostrelgsm4", env, scratch.path());
    if (QTest::currentTestFailed()) return;
    TIniFile ini(config + "/OstrelGSM4/current.ini");
    QVERIFY(ini.Load());
    ini.WriteBool("Debug", "Log", true);
    QVERIFY(ini.Save());

    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(scratch.path());
    process.start(bin + "/ostrelgsm4", {});
    QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(CatchesSigterm(process.processId()) || process.state() == QProcess::NotRunning, 60000);
    QCOMPARE(process.state(), QProcess::Running);
    // The folder goes away and a file takes its place: every save meets
    // ENOTDIR, for root too.
    QVERIFY(QDir().rename(config, config + "-gone"));
    QFile blocker(config);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    ::kill(pid_t(process.processId()), SIGTERM);
    // A box would wait for ever; the deadline is no measure of speed.
    QVERIFY2(process.waitForFinished(30000), "the window waits for someone to answer a box");
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    for (const char* file : {"/OstrelGSM4/Windows.ini", "/OstrelGSM4/current.ini"}) {
      const QString path = config + QLatin1String(file);
      bool said = false;
      for (const QString& line : errors.split(u'\n'))
        said = said || (line.startsWith("ostrelgsm4: ") && line.contains(path));
      QVERIFY2(said, qPrintable(errors));
    }
    // The layout is saved while the log is still open; "current.ini" after it is closed.
    QFile log(data + "/OstrelGSM4/log.txt");
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(log.readAll()).contains(config + "/OstrelGSM4/Windows.ini"));
  }
};

QTEST_GUILESS_MAIN(TestInstalledFiles)
#include "tst_installed_files.moc"
