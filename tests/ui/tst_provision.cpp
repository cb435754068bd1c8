// Compare with the panel, and the backup and check around Write all, in the
// main window against the panel simulator.
#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "persist/IniFile.h"
#include "persist/ProgramDir.h"
#include "tests/ui/GuiFixture.h"
#include "tools/PanelSim.h"
#include "ui/CompareDlg.h"
#include "ui/Provision.h"
#include "ui/f_common.h"

using ostrel::sim::EFault;
using ostrel::sim::TPanelSim;
using ostrel::sim::TPanelState;

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

TPanelState Configured() {
  TPanelState state;
  state.Phones[2] = "+79161112233";
  state.Phones[3] = "+79161112244";
  state.EntryDelay = 30;
  state.Ring = 3;
  return state;
}

bool AnyWrite(const std::vector<std::string>& commands) {
  return std::any_of(commands.begin(), commands.end(), [](const std::string& c) { return c.rfind("+w", 0) == 0; });
}

QLineEdit* Phone(TForm1& form, int n) { return form.CommonPage()->findChild<QLineEdit*>(QString("etPhone%1").arg(n)); }

QStringList Row(QTableWidget* table, int row) {
  QStringList cells;
  for (int column = 0; column < table->columnCount(); ++column) cells << table->item(row, column)->text();
  return cells;
}

QStringList Backups() {
  return QDir(TProvision::BackupDir()).entryList({"panel-*.ini"}, QDir::Files, QDir::Name);
}

}  // namespace

class TestProvision : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
  void init() {
    sandbox.Enter();
    QDir(TProvision::BackupDir()).removeRecursively();
  }
  void cleanup() {
    QDir(TProvision::BackupDir()).removeRecursively();
    sandbox.Leave();
  }

  // The panel read into the pages, then edited by the user: the comparison
  // lists exactly the edits and leaves the pages, the page shown and the
  // panel as they were.
  void compareShowsTheDifferencesAndKeepsTheEdits() {
    TPanelSim panel;
    panel.SetState(Configured());
    panel.Start();
    TForm1 form(nullptr, false);
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.ReadAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    sandbox.messages.clear();
    form.ShowPage(form.CommonPage());
    Phone(form, 3)->setText("+79030000003");
    form.CommonPage()->findChild<QSpinBox*>("seTimeOut")->setValue(45);

    QAction* compare = form.findChild<QAction*>("mnuCompare");
    QVERIFY(compare && compare->isEnabled());
    QVERIFY(gui::NavItem(form, "Сравнить с панелью")->isVisibleTo(&form));
    compare->trigger();
    QVERIFY(form.IsBusy());
    QVERIFY(!compare->isEnabled());
    QVERIFY(!form.Provision()->Compare());  // one operation at a time
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);

    TdlgCompare* dialog = form.Provision()->CompareDialog();
    QVERIFY(dialog && dialog->isVisible());
    QTableWidget* table = dialog->Table();
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(Row(table, 0), (QStringList{"Phones", "Phone3", "+79161112233", "+79030000003"}));
    QCOMPARE(Row(table, 1), (QStringList{"Other", "TimeOut", "30", "45"}));
    QCOMPARE(Phone(form, 3)->text(), QString("+79030000003"));
    QCOMPARE(Phone(form, 4)->text(), QString("+79161112244"));
    QCOMPARE(form.Device().GetPage(), std::string("TformCommon"));
    QVERIFY(form.CommonPage()->isVisibleTo(&form));
    QVERIFY(sandbox.messages.isEmpty());
    QVERIFY(!AnyWrite(panel.Commands()));
    QVERIFY(compare->isEnabled());

    // The pages take the panel's values again: nothing differs.
    Phone(form, 3)->setText("+79161112233");
    form.CommonPage()->findChild<QSpinBox*>("seTimeOut")->setValue(30);
    gui::NavItem(form, "Сравнить с панелью")->Click();
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QCOMPARE(dialog->Table()->rowCount(), 0);
    QVERIFY(gui::MemoLines(form).last().contains(U("совпадают")));
  }

  void compareReportsAFailedRead() {
    TPanelSim panel;
    panel.AddFault({"+rk4", EFault::NoOk, false, 0, ""});
    panel.Start();
    TForm1 form(nullptr, false);
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    Phone(form, 1)->setText("+70000000001");
    QVERIFY(form.Provision()->Compare());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QCOMPARE(sandbox.messages, QStringList{U("Сравнение не выполнено: ОШИБКА при чтении ключей!")});
    QCOMPARE(Phone(form, 1)->text(), QString("+70000000001"));
  }

  // Backups go by age, not by name: names dated in the future (a clock set
  // wrong once) never push out the backup just written.
  void pruningKeepsTheNewestByTime() {
    QTemporaryDir dir;
    const QDateTime now = QDateTime::currentDateTime();
    auto make = [&](const QString& name, const QDateTime& modified) {
      QFile file(dir.filePath(name));
      QVERIFY(file.open(QIODevice::WriteOnly));
      QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    };
    for (int i = 0; i < 5; ++i) make(QString("panel-2099010%1-000000-000.ini").arg(i), now.addDays(-10 + i));
    make("panel-20200101-000000-000.ini", now);  // the one just written
    make("notes.ini", now.addDays(-100));
    TProvision::PruneBackups(dir.path(), dir.filePath("panel-20200101-000000-000.ini"), 3);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
             (QStringList{"notes.ini", "panel-20200101-000000-000.ini", "panel-20990103-000000-000.ini",
                          "panel-20990104-000000-000.ini"}));
  }

  // With both options on, Write all first saves the panel into a new backup
  // (the oldest beyond fifty go), writes, reads back and names the phone that
  // the panel confirmed but kept.
  void writeAllWithBackupAndCheck() {
    TPanelSim panel;
    panel.SetState(Configured());
    panel.AddFault({"+wt03", EFault::Keep, false, 0, ""});
    panel.Start();
    QVERIFY(QDir().mkpath(TProvision::BackupDir()));
    for (int i = 0; i < TProvision::kBackupsKept; ++i) {
      QFile old(TProvision::BackupDir() + QString("/panel-20200101-0000%1-000.ini").arg(i, 2, 10, QChar('0')));
      QVERIFY(old.open(QIODevice::WriteOnly));
      QVERIFY(old.setFileTime(QDateTime::currentDateTime().addSecs(-100 + i), QFileDevice::FileModificationTime));
    }
    TForm1 form(nullptr, false);
    form.Provision()->SetBackupBeforeWrite(true);
    form.Provision()->SetVerifyAfterWrite(true);
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.ReadAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    sandbox.messages.clear();
    Phone(form, 3)->setText("89030000003");
    Phone(form, 4)->setText("89030000004");

    gui::NavItem(form, "Записать всё")->Click();
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy() && !form.Provision()->IsRunning(), 40000);

    const QString backup = form.Provision()->LastBackup();
    QVERIFY(!backup.isEmpty());
    QVERIFY(form.Memo()->toPlainText().contains(U("Резервная копия панели: ") + backup));
    TIniFile ini(backup);
    QVERIFY(ini.Load());
    QCOMPARE(ini.ReadString("Phones", "Phone3", ""), QString("+79161112233"));
    QCOMPARE(ini.ReadInteger("Other", "TimeOut", -1), 30);
    const QStringList kept = Backups();
    QCOMPARE(kept.size(), TProvision::kBackupsKept);
    QVERIFY(!kept.contains("panel-20200101-000000-000.ini"));
    QCOMPARE(kept.last(), QFileInfo(backup).fileName());

    QCOMPARE(panel.State().Phones[3], std::string("89030000004"));
    QCOMPARE(panel.State().Phones[2], std::string("+79161112233"));
    QCOMPARE(sandbox.messages.size(), 2);
    QCOMPARE(sandbox.messages[0], U("Запись всех параметров завершена!"));
    QCOMPARE(sandbox.messages[1],
             U("Панель не сохранила настроек: 1\n[Phones] Phone3: на панели '+79161112233' записано '89030000003'"));
    QVERIFY(gui::MemoLines(form).last().contains("[Phones] Phone3"));
    QCOMPARE(Phone(form, 3)->text(), QString("89030000003"));
  }

  void failedBackupWritesNothing() {
    TPanelSim panel;
    panel.AddFault({"+rk4", EFault::NoOk, false, 0, ""});
    panel.Start();
    TForm1 form(nullptr, false);
    form.Provision()->SetBackupBeforeWrite(true);
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    form.WriteAllAction();
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy() && !form.Provision()->IsRunning(), 20000);
    QCOMPARE(sandbox.messages,
             QStringList{U("Резервная копия не создана, запись отменена: ОШИБКА при чтении ключей!")});
    QVERIFY(!AnyWrite(panel.Commands()));
    QVERIFY(Backups().isEmpty());
  }

  void optionsAreOffByDefaultAndRemembered() {
    {
      TForm1 form;
      QAction* backup = form.findChild<QAction*>("mnuBackup");
      QAction* verify = form.findChild<QAction*>("mnuVerify");
      QVERIFY(backup && verify && backup->isCheckable() && verify->isCheckable());
      QVERIFY(!backup->isChecked() && !verify->isChecked());
      backup->trigger();
    }
    {
      TForm1 form;
      QVERIFY(form.Provision()->BackupBeforeWrite());
      QVERIFY(!form.Provision()->VerifyAfterWrite());
      form.findChild<QAction*>("mnuVerify")->trigger();
      form.findChild<QAction*>("mnuBackup")->trigger();
    }
    TIniFile ini(ProgramDir() + "current.ini");
    QVERIFY(ini.Load());
    QCOMPARE(ini.ReadString("Options", "Backup", ""), QString("0"));
    QCOMPARE(ini.ReadString("Options", "Verify", ""), QString("1"));
    QVERIFY(ini.SectionExists("Phones"));
    TForm1 form;
    QVERIFY(!form.Provision()->BackupBeforeWrite());
    QVERIFY(form.Provision()->VerifyAfterWrite());
  }

 private:
  gui::TSandbox sandbox;
};

QTEST_MAIN(TestProvision)
#include "tst_provision.moc"
