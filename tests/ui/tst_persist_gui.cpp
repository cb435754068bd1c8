// The main window's persistence: "current.ini" across runs, the layout file,
// the debug log, the Save and Load actions, errors during the creation and
// destruction sequences, and the shutdown signals.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/stat.h>

#include "persist/IniFile.h"
#include "persist/Layout.h"
#include "persist/ProgramDir.h"
#include "persist/SettingsDialogs.h"
#include "ui/FileNames.h"
#include "persist/ShutdownSignals.h"
#include "persist/WindowShutdown.h"
#include "tests/ui/GuiFixture.h"
#include "ui/RecentFiles.h"
#include "tools/PanelSim.h"
#include "ui/f_common.h"

#include "tests/persist/TestFiles.h"

namespace {

using testfiles::ReadBytes;
using testfiles::WriteBytes;

QString U(const char* text) { return QString::fromUtf8(text); }

QLineEdit* Phone(TForm1& form, int n) {
  return form.CommonPage()->findChild<QLineEdit*>("etPhone" + QString::number(n));
}

QAction* Menu(TForm1& form, const char* name) { return form.findChild<QAction*>(name); }

int SplitterPercent(TForm1& form) {
  return TSplitterShare::Of(form.findChild<QSplitter*>("RzSplitter1"))->Percent();
}

// The window's settings before a Load: every field off its default, so that
// a setting given its default instead of being left alone shows.
TSettings Before() {
  TSettings s;
  s.Groups = TGroups::AllWithAdc();
  for (int i = 0; i < TSettings::kEntries; ++i) {
    s.Phone[i] = "+7000" + std::to_string(i + 1);
    s.React[i] = i % 2 == 0;
    s.Norm[i] = i + 1 >= 9;  // the lower rows
  }
  s.Hours24 = {true, false, true, false};
  s.TimeOut = 200;
  s.TimeOut2 = 99;
  s.FastGuard = true;
  s.WaitSend = true;
  for (int i = 0; i < TSettings::kKeys; ++i) s.Key[i] = "00000000000000A" + std::to_string(i);
  for (int k = 0; k < TSettings::kThresholds; ++k) {
    s.Threshold[0][k] = 10 + 10 * k;
    s.Threshold[1][k] = 15 + 10 * k;
  }
  s.Module = 2;
  s.Ring = 5;
  return s;
}

// What the files give: every field differs from Before().
TSettings Given() {
  TSettings s;
  s.Groups = TGroups::AllWithAdc();
  for (int i = 0; i < TSettings::kEntries; ++i) {
    s.Phone[i] = "+7900" + std::to_string(i + 1);
    s.React[i] = i % 2 == 1;
    s.Norm[i] = i + 1 >= 5 && i + 1 <= 8;  // the upper rows
  }
  s.Hours24 = {false, true, false, true};
  s.TimeOut = 17;
  s.TimeOut2 = 5;
  for (int i = 0; i < TSettings::kKeys; ++i) s.Key[i] = "0123456789ABCDE" + std::to_string(i);
  for (int k = 0; k < TSettings::kThresholds; ++k) {
    s.Threshold[0][k] = 100 + 100 * k;
    s.Threshold[1][k] = 110 + 100 * k;
  }
  s.Module = 1;
  s.Ring = 2;
  return s;
}

// The sections of Given() named (all of them for "*"), in a file's form;
// a "Section/Key=value" in changes gives that key another value.
QByteArray GivenFile(const QStringList& sections, const QStringList& changes = {}) {
  QByteArray text;
  QString open;
  for (const TField& f : Fields()) {
    const QString section = QString::fromStdString(f.Section);
    if (!sections.contains("*") && !sections.contains(section)) continue;
    if (section != open) text += "[" + section.toUtf8() + "]\r\n";
    open = section;
    QString value = QString::fromStdString(FieldText(Given(), f));
    const QString name = section + "/" + QString::fromStdString(f.Key) + "=";
    for (const QString& change : changes)
      if (change.startsWith(name)) value = change.mid(name.size());
    text += QString::fromStdString(f.Key).toUtf8() + "=" + value.toUtf8() + "\r\n";
  }
  return text;
}

// Whether the field is one of those named ("*", "Section" or "Section/Key",
// and "-Section/Key" to leave one out).
bool Named(const TField& f, const QStringList& names) {
  const QString section = QString::fromStdString(f.Section);
  const QString key = section + "/" + QString::fromStdString(f.Key);
  if (names.contains("-" + key)) return false;
  return names.contains("*") || names.contains(section) || names.contains(key);
}

}  // namespace

Q_DECLARE_METATYPE(MessageBox::TKind)

class TestPersistGui : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    messages.clear();
    MessageBox::Hook = [this](const QString& text) { messages << text; };
    boxes.clear();
    MessageBox::KindHook = [this](MessageBox::TKind kind, const QString&) { boxes << kind; };
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
    MessageBox::KindHook = nullptr;
    MessageBox::AskHook = nullptr;
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
  // the user's documents at first, then in the folder of the last file; a
  // cancelled dialog does nothing; a failure shows
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
    QCOMPARE(dialogs, QStringList({"save " + FileNames::DocumentsDir(), "load " + programDir, "save " + programDir,
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

  // Load never invents a setting: from a window whose every setting is off
  // its default, a file changes the settings it gives and no other; one
  // that gives none, or cannot be read, changes nothing and is an error; one
  // that leaves settings out, or gives values that break their rule, says
  // so in one warning. A file is offered again in the menu only once loaded.
  void loadTakesOnlyWhatTheFileGives_data() {
    QTest::addColumn<QString>("kind");       // "file", "missing", "directory", "fifo"
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("taken");  // the fields that take Given()'s values
    QTest::addColumn<QString>("port");       // the port afterwards
    QTest::addColumn<int>("box");            // a MessageBox::TKind, or -1 for none
    QTest::addColumn<QStringList>("said");   // what the box names
    const int none = -1;
    const int error = int(MessageBox::TKind::Error);
    const int warning = int(MessageBox::TKind::Warning);
    const QString before = "COM-before";
    const QStringList nothing;
    // "Объект на ул. Ленина", "Порт 1" in the Windows version's code page.
    const QByteArray cp1251 = "; \xCE\xE1\xFA\xE5\xEA\xF2 \xED\xE0 \xF3\xEB. \xCB\xE5\xED\xE8\xED\xE0\r\n"
                              "[Connect]\r\nComPort=\xCF\xEE\xF0\xF2 1\r\n";

    QTest::newRow("missing") << "missing" << QByteArray() << nothing << before << error << nothing;
    QTest::newRow("directory") << "directory" << QByteArray() << nothing << before << error << nothing;
    QTest::newRow("fifo") << "fifo" << QByteArray() << nothing << before << error << nothing;
    QTest::newRow("over-1-mib") << "file" << GivenFile({"*"}) + QByteArray(1100 * 1024, ';') << nothing << before
                                << error << nothing;
    QTest::newRow("empty") << "file" << QByteArray() << nothing << before << error << nothing;
    QTest::newRow("no-settings-sections") << "file" << QByteArray("[Connect]\r\nComPort=COM-file\r\n[Extra]\r\nx=1\r\n")
                                          << nothing << before << error << nothing;
    QTest::newRow("empty-settings-sections") << "file" << QByteArray("[Phones]\r\n[Keys]\r\n") << nothing << before
                                             << error << nothing;
    QTest::newRow("only-phones") << "file" << GivenFile({"Phones"}) << QStringList{"Phones"} << before << warning
                                 << QStringList{U("Общие: реакции (все), нормальные состояния (все)"),
                                                U("Ключи (все)"), U("GSM (все)")};
    QTest::newRow("only-keys") << "file" << GivenFile({"Keys"}) << QStringList{"Keys"} << before << warning
                               << QStringList{U("Общие (все)"), U("GSM (все)")};
    QTest::newRow("one-row-of-a-loop") << "file" << QByteArray("[Norm]\r\nNorm6=1\r\n")
                                       << QStringList{"Norm/Norm6", "Norm/Norm10"} << before << warning
                                       << QStringList{U("Норм. состояние 5, Норм. состояние 7")};
    QTest::newRow("ring-without-module") << "file" << QByteArray("[GSM]\r\nRING=2\r\n") << QStringList{"GSM/RING"}
                                         << before << warning << QStringList{U("GSM: подключённый GSM модуль")};
    const QStringList withoutTs2 = {"Phones", "React", "Norm", "24Hours", "Other", "Keys", "ts1", "GSM"};
    QTest::newRow("one-threshold-channel") << "file" << GivenFile(withoutTs2) << withoutTs2 << before << warning
                                           << QStringList{U("АЦП: пороги канала 2 (все)")};
    QTest::newRow("refused-values") << "file" << GivenFile({"*"}, {"Phones/Phone3=12ab", "Other/TimeOut=300"})
                                    << QStringList{"*", "-Phones/Phone3", "-Other/TimeOut"} << before << warning
                                    << QStringList{U("Телефон 3 ([Phones] Phone3, строка 4)"), U("Задержка на вход")};
    QTest::newRow("refused-and-absent") << "file" << GivenFile({"Keys"}, {"Keys/Key2=XYZ"})
                                        << QStringList{"Keys", "-Keys/Key2"} << before << warning
                                        << QStringList{U("Ключ 3"), U("Общие (все)")};
    QTest::newRow("windows-1251") << "file" << cp1251 + GivenFile({"*"}) << QStringList{"*"} << U("Порт 1") << none
                                  << nothing;
    QTest::newRow("every-setting") << "file" << GivenFile({"*"}) << QStringList{"*"} << before << none << nothing;
  }
  void loadTakesOnlyWhatTheFileGives() {
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, taken);
    QFETCH(QString, port);
    QFETCH(int, box);
    QFETCH(QStringList, said);
    const QString file = dir->filePath("load.ini");
    if (kind == "file") WriteBytes(file, content);
    if (kind == "directory") QVERIFY(QDir().mkdir(file));
    if (kind == "fifo") QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);

    TForm1 form(nullptr, false);
    form.ShowSettings(Before());
    form.ConnectDialog()->ComPorts()->setCurrentText("COM-before");
    chosen = file;
    Menu(form, "mnuLoad")->trigger();

    QStringList wrong;
    for (const TField& f : Fields()) {
      const std::string expected = FieldText(Named(f, taken) ? Given() : Before(), f);
      const std::string held = FieldText(form.Model()->Settings(), f);
      if (held != expected)
        wrong << QString::fromStdString("[" + f.Section + "] " + f.Key + ": " + held + ", not " + expected);
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("; ")));
    QCOMPARE(gui::PagesAgainstModel(form), QStringList());
    QCOMPARE(form.ConnectDialog()->ComPorts()->currentText(), port);
    QCOMPARE(boxes.size(), box == -1 ? 0 : 1);
    if (box != -1) QCOMPARE(int(boxes.first()), box);
    for (const QString& words : said) QVERIFY2(messages.join('\n').contains(words), qPrintable(messages.join('\n')));
    // Offered again only when it was loaded.
    QCOMPARE(form.RecentFiles()->Files().contains(file), box != int(MessageBox::TKind::Error));
  }

  // A file of the menu of the last files that is gone: the window says so
  // and asks whether to take it off the menu; "Нет" keeps it, "Да" takes it
  // off. Neither changes a setting.
  void recentFileGone() {
    TForm1 form(nullptr, false);
    form.ShowSettings(Before());
    const QString file = dir->filePath("gone.ini");
    chosen = file;
    Menu(form, "mnuSave")->trigger();
    QCOMPARE(form.RecentFiles()->Files(), QStringList{file});
    QVERIFY(QFile::remove(file));
    QAction* entry = form.RecentFiles()->Menu()->actions().first();

    QStringList asked;
    bool answer = false;
    MessageBox::AskHook = [&](const QString& question) {
      asked << question;
      return answer;
    };
    entry->trigger();
    QCOMPARE(boxes, QList<MessageBox::TKind>{MessageBox::TKind::Question});
    QVERIFY2(asked.first().contains(file), qPrintable(asked.first()));
    QCOMPARE(form.RecentFiles()->Files(), QStringList{file});
    answer = true;
    form.RecentFiles()->Menu()->actions().first()->trigger();
    QCOMPARE(form.RecentFiles()->Files(), QStringList());
    QVERIFY(!form.RecentFiles()->Menu()->isEnabled());
    QCOMPARE(form.Model()->Settings(), Before());
    QVERIFY(messages.isEmpty());
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
  QList<MessageBox::TKind> boxes;
  QStringList dialogs;
  QString chosen;
};

QTEST_MAIN(TestPersistGui)
#include "tst_persist_gui.moc"
