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
#include <QLabel>
#include <QProgressBar>
#include <algorithm>

#include "ui/OperationProgress.h"
#include <QTest>

#include "persist/IniFile.h"
#include "persist/ProgramDir.h"
#include "tests/ui/GuiFixture.h"
#include "tools/PanelSim.h"
#include "ui/CompareDlg.h"
#include "ui/Provision.h"
#include "ui/Trislider.h"
#include "ui/f_ACP.h"
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
    QCOMPARE(Row(table, 0), (QStringList{U("Общие"), U("Сбой питания: телефон"), "+79161112233", "+79030000003"}));
    QCOMPARE(Row(table, 1), (QStringList{U("Общие"), U("Задержка на вход"), "30", "45"}));
    QCOMPARE(dialog->Summary()->text(), U("Отличаются настройки: 2"));
    QVERIFY(dialog->isModal() || dialog->windowModality() != Qt::NonModal);
    // One progress over the read, counted to its end.
    QCOMPARE(form.Progress()->Total(), 38);
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
    // A disconnect closes it: its rows belong to that connection.
    QVERIFY(dialog->isVisible());
    gui::NavItem(form, "Отключиться")->Click();
    QVERIFY(!dialog->isVisible());
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

    // One progress from 0 to N over backup read, write and read-back.
    QList<int> seen;
    QObject::connect(form.Progress()->Bar(), &QProgressBar::valueChanged, [&](int v) { seen << v; });
    gui::NavItem(form, "Записать всё")->Click();
    QVERIFY(form.Progress()->IsRunning());
    QCOMPARE(form.Progress()->Total(), 38 + 37 + 38);
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy() && !form.Provision()->IsRunning(), 40000);
    QVERIFY(!form.Progress()->IsRunning());
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
    QCOMPARE(seen.last(), 38 + 37 + 38);

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
    // One box, at the end, telling the whole story.
    QCOMPARE(sandbox.messages,
             QStringList{U("Запись выполнена, но панель не сохранила настройки (1):\n"
                           "Общие — Сбой питания: телефон: на панели «+79161112233», записано «89030000003»\n"
                           "Резервная копия панели: ") + backup});
    QVERIFY(form.Memo()->toPlainText().contains("[Phones] Phone3: "));
    QCOMPARE(Phone(form, 3)->text(), QString("89030000003"));
  }

  // The ADC thresholds go panel -> pages -> file -> panel exactly, however
  // close together they lie; a thumb moved by one step with the keyboard
  // changes that one value on the wire and no other.
  void thresholdsTravelExactlyThroughTheWindow_data() {
    QTest::addColumn<QList<int>>("channel1");
    QTest::addColumn<QList<int>>("channel2");
    QTest::newRow("adjacent") << QList<int>{500, 501, 502, 503, 504} << QList<int>{0, 1, 2, 3, 4};
    QTest::newRow("equal-neighbours") << QList<int>{300, 300, 300, 700, 700} << QList<int>{5, 5, 5, 5, 5};
    QTest::newRow("both-ends") << QList<int>{0, 0, 1, 1022, 1023} << QList<int>{0, 1023, 1023, 1023, 1023};
    QTest::newRow("wide") << QList<int>{0, 256, 512, 768, 1023} << QList<int>{100, 105, 110, 115, 120};
  }
  void thresholdsTravelExactlyThroughTheWindow() {
    QFETCH(QList<int>, channel1);
    QFETCH(QList<int>, channel2);
    const QList<int> channels[2] = {channel1, channel2};
    TPanelState state;
    for (int c = 0; c < 2; ++c) {
      for (int k = 0; k < 5; ++k) state.Adc[c].Thresholds[k] = channels[c][k];
    }
    TPanelSim panel;
    panel.SetState(state);
    panel.Start();
    TForm1 form(nullptr, false);
    form.SetAdcItemVisible(true);
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    form.ShowPage(form.ACPPage());
    QVERIFY(form.Read());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QVERIFY2(sandbox.messages.isEmpty(), qPrintable(sandbox.messages.join('|')));
    const auto shown = [&](int c) {
      QList<int> positions;
      for (int k = 0; k < 5; ++k) positions << form.ACPPage()->Slider(c + 1)->GetPosition(k);
      return positions;
    };
    for (int c = 0; c < 2; ++c) QCOMPARE(shown(c), channels[c]);

    QTemporaryDir dir;
    const QString file = dir.filePath("site.ini");
    QVERIFY(form.SaveSettings(file));
    TIniFile ini(file);
    QVERIFY(ini.Load());
    for (int c = 0; c < 2; ++c) {
      for (int k = 0; k < 5; ++k) {
        QCOMPARE(ini.ReadInteger(c == 0 ? "ts1" : "ts2", QString("slider%1").arg(k), -1), channels[c][k]);
      }
    }

    // Written from the pages to a panel that holds other values.
    const auto expectedWire = [](const QList<int> (&values)[2]) {
      std::vector<std::string> wire;
      for (int c = 0; c < 2; ++c) {
        for (int k = 4; k >= 0; --k) {
          const QString hex = QString("%1").arg(values[c][k], 3, 16, QChar('0')).toUpper();
          wire.push_back(QString("+it%1%2=%3").arg(c).arg(k).arg(hex).toStdString());
        }
      }
      return wire;
    };
    // The threshold commands the panel received since the count given.
    const auto wireSince = [&](std::size_t before) {
      const std::vector<std::string> all = panel.Commands();
      std::vector<std::string> wire;
      for (std::size_t i = before; i < all.size(); ++i) {
        if (all[i].rfind("+it", 0) == 0) wire.push_back(all[i]);
      }
      return wire;
    };
    TPanelState other = panel.State();
    for (auto& adc : other.Adc) adc.Thresholds = {7, 8, 9, 10, 11};
    panel.SetState(other);
    std::size_t before = panel.Commands().size();
    QVERIFY(form.Write());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QCOMPARE(wireSince(before), expectedWire(channels));
    QVERIFY2(sandbox.messages.isEmpty(), qPrintable(sandbox.messages.join('|')));
    for (int c = 0; c < 2; ++c) {
      for (int k = 0; k < 5; ++k) QCOMPARE(panel.State().Adc[c].Thresholds[k], channels[c][k]);
    }

    // One step up with the keyboard for the first thumb of channel 1 that
    // has room above it.
    TTrislider* ts = form.ACPPage()->Slider(1);
    int moved = -1;
    for (int k = 0; k < 5 && moved < 0; ++k) {
      const int ceiling = k < 4 ? channel1[k + 1] : 1023;
      if (channel1[k] < ceiling) moved = k;
    }
    QVERIFY(moved >= 0);
    ts->setFocus();
    QTest::keyClick(ts, Qt::Key(Qt::Key_1 + moved));
    QTest::keyClick(ts, Qt::Key_Right);
    QList<int> wanted[2] = {channel1, channel2};
    ++wanted[0][moved];
    QCOMPARE(shown(0), wanted[0]);
    QCOMPARE(shown(1), wanted[1]);
    before = panel.Commands().size();
    QVERIFY(form.Write());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QCOMPARE(wireSince(before), expectedWire(wanted));
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
