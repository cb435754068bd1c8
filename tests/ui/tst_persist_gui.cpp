// The main window's persistence: "current.ini" across runs, the layout file,
// the debug log, the Save and Load actions, errors during the creation and
// destruction sequences, and the shutdown signals.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

#include "persist/IniFile.h"
#include "persist/Layout.h"
#include "persist/ProgramDir.h"
#include "persist/SettingsDialogs.h"
#include "persist/ShutdownSignals.h"
#include "persist/WindowShutdown.h"
#include "tests/ui/GuiFixture.h"
#include "tools/PanelSim.h"
#include "ui/f_common.h"

#include "tests/persist/TestFiles.h"

namespace {

using testfiles::ReadBytes;
using testfiles::WriteBytes;

QLineEdit* Phone(TForm1& form, int n) {
  return form.CommonPage()->findChild<QLineEdit*>("etPhone" + QString::number(n));
}

QAction* Menu(TForm1& form, const char* name) { return form.findChild<QAction*>(name); }

int SplitterPercent(TForm1& form) {
  return TSplitterShare::Of(form.findChild<QSplitter*>("RzSplitter1"))->Percent();
}

}  // namespace

class TestPersistGui : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    messages.clear();
    MessageBox::Hook = [this](const QString& text) { messages << text; };
    chosen.clear();
    SettingsDialogs::Hook = [this](SettingsDialogs::TKind kind, const QString& dir) {
      dialogs << QString("%1 %2").arg(kind == SettingsDialogs::TKind::Save ? "save" : "load", dir);
      return chosen;
    };
    dialogs.clear();
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    SetProgramDirOverride(dir->path());
  }
  void cleanup() {
    MessageBox::Hook = nullptr;
    SettingsDialogs::Hook = nullptr;
    SetProgramDirOverride(QString());
    dir.reset();
  }

  // A first start finds no files: the pages as designed, the splitter at 76
  // percent. Its end writes "current.ini" with every section, and the layout.
  void firstStartAndItsEnd() {
    {
      TForm1 form;
      QCOMPARE(Phone(form, 1)->text(), QString());
      QCOMPARE(SplitterPercent(form), 76);
      QVERIFY(!Menu(form, "mnuLog")->isChecked());
      Phone(form, 7)->setText("+7123");
    }
    QVERIFY(messages.isEmpty());
    TIniFile ini(dir->filePath("current.ini"));
    QVERIFY(ini.Load());
    for (const char* section : {"Connect", "Debug", "Phones", "React", "Norm", "24Hours", "Other", "Keys", "ts1",
                                "ts2", "GSM"})
      QVERIFY2(ini.SectionExists(section), section);
    QCOMPARE(ini.ReadString("Phones", "Phone7", ""), QString("+7123"));
    QCOMPARE(ini.ReadString("GSM", "MODE1", ""), QString("1"));
    TIniFile layout(dir->filePath("Windows.ini"));
    QVERIFY(layout.Load());
    QCOMPARE(layout.ReadSection("Form1"), QStringList({"xForm.Left", "xForm.Top", "xForm.Height", "xForm.Width",
                                                       "RzSplitter1.Percent"}));
    QCOMPARE(layout.ReadInteger("Form1", "RzSplitter1.Percent", 0), 76);
    QVERIFY(!layout.SectionExists("Form1FormState"));  // the window was never closed

    TForm1 again;
    QCOMPARE(Phone(again, 7)->text(), QString("+7123"));
  }

  // The next start puts the window where the last one left it: from the
  // layout section, or from the placement section once the window was closed.
  void layoutRestoredOnNextStart_data() {
    QTest::addColumn<bool>("closed");
    QTest::newRow("destroyed") << false;
    QTest::newRow("closed-then-destroyed") << true;
  }
  void layoutRestoredOnNextStart() {
    QFETCH(bool, closed);
    QRect shown;
    {
      TForm1 form;
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      form.setGeometry(30, 40, 700, 560);
      auto* splitter = form.findChild<QSplitter*>("RzSplitter1");
      QTRY_COMPARE(form.geometry(), QRect(30, 40, 700, 560));
      const QList<int> sizes = splitter->sizes();
      splitter->setSizes({(sizes[0] + sizes[1]) / 2, (sizes[0] + sizes[1]) / 2});
      shown = form.geometry();
      if (closed) form.close();
    }
    QVERIFY(messages.isEmpty());
    TIniFile ini(dir->filePath("Windows.ini"));
    QVERIFY(ini.Load());
    QCOMPARE(ini.ReadBool("Form1FormState", "Saved", false), closed);

    TForm1 again;
    QCOMPARE(SplitterPercent(again), 50);
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QTRY_COMPARE(again.geometry(), shown);
    auto* splitter = again.findChild<QSplitter*>("RzSplitter1");
    QVERIFY(qAbs(splitter->sizes()[0] - splitter->sizes()[1]) <= 1);
  }

  // Logging on, off, on, then the program ends: two periods in "log.txt",
  // every memo text inside them (also those the memo does not show), nothing
  // else. The next start switches logging on again and adds a third period.
  void logAcrossOnOffOnAndRuns() {
    const QString log = dir->filePath("log.txt");
    {
      TForm1 form;
      QAction* mnuLog = Menu(form, "mnuLog");
      mnuLog->trigger();
      QVERIFY(form.IsLogging());
      QVERIFY(mnuLog->isChecked());
      form.Queue().PostMemo("-> +v", true, false);
      form.Queue().PostMemo("<<<<- unasked", false, false);
      form.Queue().PostControlText({"TformCommon", "etPhone1"}, "control text");
      form.TimerTick();
      mnuLog->trigger();
      QVERIFY(!form.IsLogging());
      QVERIFY(!mnuLog->isChecked());
      form.Queue().PostMemo("while off", true, false);
      form.TimerTick();
      mnuLog->trigger();
      form.Queue().PostMemo("second period", true, false);
      form.TimerTick();
    }
    QVERIFY(messages.isEmpty());
    TIniFile ini(dir->filePath("current.ini"));
    QVERIFY(ini.Load());
    QVERIFY(ini.ReadBool("Debug", "Log", false));  // on just before the end
    {
      TForm1 again;
      QVERIFY(again.IsLogging());
      QVERIFY(Menu(again, "mnuLog")->isChecked());
    }
    const QByteArray bytes = ReadBytes(log);
    QCOMPARE(bytes.count("Начали процесс протоколирования"), 3);
    QCOMPARE(bytes.count("Окончили процесс протоколирования"), 3);
    QCOMPARE(bytes.count("\n"), bytes.count("\r\n"));
    const QList<QByteArray> lines = bytes.split('\n');
    QStringList texts;  // the lines between the blocks
    for (const QByteArray& line : lines) {
      const QByteArray text = line.chopped(line.endsWith('\r') ? 1 : 0);
      if (!text.isEmpty() && !text.startsWith('=') && !text.contains("процесс протоколирования"))
        texts << QString::fromUtf8(text);
    }
    QCOMPARE(texts, QStringList({"-> +v", "<<<<- unasked", "second period"}));
    const int firstFooter = bytes.indexOf("Окончили");
    QVERIFY(bytes.indexOf("<<<<- unasked") < firstFooter);
    QVERIFY(bytes.indexOf("second period") > bytes.indexOf("Начали", firstFooter));
  }

  // Save and Load from the menu and from the navigation: the dialogs open in
  // the program's directory; a cancelled dialog does nothing; a failure shows
  // its message and leaves the old file whole.
  void saveAndLoadActions() {
    TForm1 form;
    const QString file = dir->filePath("object.ini");
    Phone(form, 2)->setText("222");
    chosen = file;
    Menu(form, "mnuSave")->trigger();
    QVERIFY(ReadBytes(file).contains("Phone2=222\r\n"));
    Phone(form, 2)->setText("999");
    gui::NavItem(form, "Загрузить")->Click();
    QCOMPARE(Phone(form, 2)->text(), QString("222"));
    Phone(form, 2)->setText("333");
    gui::NavItem(form, "Сохранить")->Click();
    Menu(form, "mnuLoad")->trigger();
    QCOMPARE(Phone(form, 2)->text(), QString("333"));
    const QString programDir = ProgramDir();
    QCOMPARE(dialogs, QStringList({"save " + programDir, "load " + programDir, "save " + programDir,
                                   "load " + programDir}));

    chosen.clear();
    Phone(form, 2)->setText("444");
    Menu(form, "mnuLoad")->trigger();
    QCOMPARE(Phone(form, 2)->text(), QString("444"));

    chosen = file + "/under-a-file.ini";
    Menu(form, "mnuSave")->trigger();
    QCOMPARE(messages, QStringList{QString::fromUtf8("Не удалось записать файл «%1»: часть пути не является каталогом").arg(chosen)});
    QVERIFY(ReadBytes(file).contains("Phone2=333\r\n"));
  }

  // The actions work while a panel is connected.
  void saveWhileConnected() {
    ostrel::sim::TPanelSim panel;
    panel.Start();
    TForm1 form;
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    chosen = dir->filePath("connected.ini");
    gui::NavItem(form, "Сохранить")->Click();
    QVERIFY(ReadBytes(chosen).contains("ComPort=" + QByteArray::fromStdString(panel.SlavePath())));
    gui::NavItem(form, "Отключиться")->Click();
  }

  // An error in one step of the destruction is shown and the later steps
  // still run: an unwritable layout file does not keep "current.ini" from
  // being saved nor the log from being closed. An unreadable "current.ini"
  // is reported at start and at the end, and the old file is never replaced.
  void errorsDoNotStopTheSequence() {
    QVERIFY(QDir().mkdir(dir->filePath("Windows.ini")));
    {
      TForm1 form;
      Menu(form, "mnuLog")->trigger();
      QVERIFY(form.IsLogging());
      Phone(form, 1)->setText("111");
      form.close();
    }
    const QString layout =
        QString::fromUtf8("Не удалось записать файл «%1»: это каталог, а не файл").arg(dir->filePath("Windows.ini"));
    QCOMPARE(messages, QStringList({layout, layout}));  // placement at close, layout at destruction
    QVERIFY(ReadBytes(dir->filePath("current.ini")).contains("Phone1=111\r\n"));
    QVERIFY(ReadBytes(dir->filePath("log.txt")).contains("Окончили процесс протоколирования"));

    messages.clear();
    QVERIFY(QDir(dir->path()).rmdir("Windows.ini"));
    QVERIFY(QFile::remove(dir->filePath("current.ini")));
    QVERIFY(QDir().mkdir(dir->filePath("current.ini")));
    { TForm1 form; }
    QCOMPARE(messages,
             QStringList({QString::fromUtf8("Не удалось прочитать файл «%1»: это каталог, а не файл").arg(dir->filePath("current.ini")),
                          QString::fromUtf8("Не удалось записать файл «%1»: это каталог, а не файл").arg(dir->filePath("current.ini"))}));
    QVERIFY(QFileInfo(dir->filePath("current.ini")).isDir());
  }

  // Without persistence nothing is read or written, while the settings
  // functions still work on the files they are given.
  void persistenceOff() {
    WriteBytes(dir->filePath("current.ini"), "[Phones]\r\nPhone1=555\r\n[Debug]\r\nLog=1\r\n");
    const QString file = dir->filePath("front-end.ini");
    {
      TForm1 form(nullptr, false);
      QCOMPARE(Phone(form, 1)->text(), QString());
      QVERIFY(!form.IsLogging());
      QString error;
      QVERIFY(form.LoadSettings(dir->filePath("current.ini"), &error));
      QCOMPARE(Phone(form, 1)->text(), QString("555"));
      QVERIFY(Menu(form, "mnuLog")->isChecked());  // the mark only: no log file
      QVERIFY(!form.IsLogging());
      QVERIFY(form.SaveSettings(file, &error));
      QVERIFY(!form.SaveSettings(file + "/x.ini", &error));
      QCOMPARE(error, "Unable to write to " + file + "/x.ini");
      form.show();
      form.close();
    }
    QVERIFY(messages.isEmpty());
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList({"current.ini", "front-end.ini"}));
    QVERIFY(ReadBytes(file).contains("[Debug]\r\nLog=1\r\n"));
  }

  // SIGTERM closes the window as the user would, also from inside a modal
  // dialog, so the placement is written; handlers are restored afterwards.
  void signalClosesTheWindow_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("modal");
    QTest::newRow("sigterm") << int(SIGTERM) << false;
    QTest::newRow("sigint-in-port-dialog") << int(SIGINT) << true;
    QTest::newRow("sighup") << int(SIGHUP) << false;
  }
  void signalClosesTheWindow() {
    QFETCH(int, signal);
    QFETCH(bool, modal);
    struct sigaction before = {};
    sigaction(signal, nullptr, &before);
    {
      TForm1 form;
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      TShutdownSignals shutdown(CloseWindowOnSignal(&form));
      QVERIFY(shutdown.IsInstalled());
      if (modal) {
        QTimer::singleShot(0, &form, [&] { raise(signal); });
        form.Connect();  // the port dialog; the signal rejects it
        QVERIFY(form.Link() == nullptr);
      } else {
        raise(signal);
      }
      QTRY_VERIFY(!form.isVisible());
    }
    struct sigaction after = {};
    sigaction(signal, nullptr, &after);
    QVERIFY(after.sa_handler == before.sa_handler);
    TIniFile ini(dir->filePath("Windows.ini"));
    QVERIFY(ini.Load());
    QVERIFY(ini.ReadBool("Form1FormState", "Saved", false));
  }

 private:
  std::unique_ptr<QTemporaryDir> dir;
  QStringList messages;
  QStringList dialogs;
  QString chosen;
};

QTEST_MAIN(TestPersistGui)
#include "tst_persist_gui.moc"
