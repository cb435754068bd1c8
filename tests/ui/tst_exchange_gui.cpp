// Read all and Write all through the real main window against the panel
// simulator: what the panel holds shows up in the pages, and what the user
// edits in the pages ends up in the panel.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <future>
#include <memory>

#include "model/Fields.h"
#include "persist/ProgramDir.h"
#include "tests/ui/GuiFixture.h"
#include "tools/PanelSim.h"
#include "ui/Provision.h"
#include "ui/KeyDialog.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/f_keys.h"

using ostrel::sim::TPanelSim;
using ostrel::sim::TPanelState;

class TestExchangeGui : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
  void init() { sandbox.Enter(); }
  void cleanup() { sandbox.Leave(); }

  void readAllFillsThePages() {
    TPanelState state;
    state.Phones[2] = "+79160000003";
    state.Phones[10] = "89160000011";
    state.Flags[0] = "100";
    state.Flags[5] = "110";   // entry 6: upper row of loop 2, 24 hours
    state.Flags[10] = "101";  // entry 11: lower row of loop 3 is its normal state
    state.EntryDelay = 30;
    state.ExitDelay = 10;
    state.FastArming = true;
    state.Keys[0] = "0123456789ABCDEF";  // wire order
    state.Keys[9] = "00000000000000A9";
    state.GsmModule = 1;
    state.Ring = 4;
    TPanelSim panel;
    panel.SetState(state);
    panel.Start();
    TForm1 form;
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    // Left over from before: Read all clears it first.
    Find<QLineEdit>(form.CommonPage(), "etPhone1")->setText("555");

    form.ReadAll();
    QTRY_VERIFY_WITH_TIMEOUT(messages.contains(QString::fromUtf8("Чтение всех параметров завершено!")), 20000);
    QCOMPARE(messages.size(), 1);

    TformCommon* common = form.CommonPage();
    QCOMPARE(Find<QLineEdit>(common, "etPhone1")->text(), QString());
    QCOMPARE(Find<QLineEdit>(common, "etPhone3")->text(), QString("+79160000003"));
    QCOMPARE(Find<QLineEdit>(common, "etPhone11")->text(), QString("89160000011"));
    QVERIFY(Find<QCheckBox>(common, "cbReact1")->isChecked());
    QVERIFY(Find<QCheckBox>(common, "cbReact6")->isChecked());
    QVERIFY(Find<QCheckBox>(common, "cbReact11")->isChecked());
    QVERIFY(!Find<QCheckBox>(common, "cbReact2")->isChecked());
    QVERIFY(Find<QCheckBox>(common, "cb242")->isChecked());
    QVERIFY(!Find<QCheckBox>(common, "cb243")->isChecked());
    QVERIFY(Find<QRadioButton>(common, "rbNorm11")->isChecked());
    QVERIFY(!Find<QRadioButton>(common, "rbNorm7")->isChecked());
    QCOMPARE(Find<QSpinBox>(common, "seTimeOut")->value(), 30);
    QCOMPARE(Find<QSpinBox>(common, "seTimeOut2")->value(), 10);
    QVERIFY(Find<QCheckBox>(common, "cbFastGuard")->isChecked());

    QTreeWidget* keys = form.KeysPage()->List();
    QCOMPARE(keys->topLevelItemCount(), 10);
    QCOMPARE(keys->topLevelItem(0)->text(1), QString("EFCDAB8967452301"));
    QCOMPARE(keys->topLevelItem(1)->text(1), QString("0000000000000000"));
    QCOMPARE(keys->topLevelItem(9)->text(1), QString("A900000000000000"));

    QVERIFY(Find<QRadioButton>(form.GSMPage(), "rb2")->isChecked());
    QVERIFY(!Find<QRadioButton>(form.GSMPage(), "rb1")->isChecked());
    QCOMPARE(Find<QComboBox>(form.GSMPage(), "cbRing")->currentText(), QString("4"));
    QCOMPARE(gui::PagesAgainstModel(form), QStringList());
    // The GSM page, read last, is in front.
    QCOMPARE(form.Device().GetPage(), std::string("TformGSM"));
    QVERIFY(form.GSMPage()->isVisibleTo(&form));
  }

  void writeAllSendsTheEdits() {
    TPanelSim panel;
    panel.Start();
    TForm1 form;
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());

    TformCommon* common = form.CommonPage();
    Find<QLineEdit>(common, "etPhone7")->setText("89160000007");
    Find<QCheckBox>(common, "cbReact6")->setChecked(true);
    Find<QCheckBox>(common, "cb242")->setChecked(true);
    Find<QSpinBox>(common, "seTimeOut")->setValue(45);
    Find<QSpinBox>(common, "seTimeOut2")->setValue(255);
    form.KeysPage()->List()->topLevelItem(1)->setText(1, "0123456789ABCDEF");
    Find<QRadioButton>(form.GSMPage(), "rb3")->setChecked(true);
    Find<QComboBox>(form.GSMPage(), "cbRing")->setCurrentIndex(4);

    form.WriteAll();
    QTRY_VERIFY_WITH_TIMEOUT(messages.contains(QString::fromUtf8("Запись всех параметров завершена!")), 20000);
    QCOMPARE(messages.size(), 1);

    const TPanelState state = panel.State();
    QCOMPARE(state.Phones[6], std::string("89160000007"));
    QCOMPARE(state.Flags[5].substr(0, 2), std::string("11"));  // entry 6: reaction, 24 hours
    QCOMPARE(state.Flags[9][1], '1');                          // entry 10: the same loop's 24 hours
    QCOMPARE(state.EntryDelay, 45);
    QCOMPARE(state.ExitDelay, 255);
    QCOMPARE(state.Keys[1], std::string("EFCDAB8967452301"));  // wire order
    QCOMPARE(state.GsmModule, 2);
    QCOMPARE(state.Ring, 5);
  }

  // Write all sends the settings as they were when it started: an edit made
  // while it runs (the panel holds its answer to the first command until the
  // edit is made) stays in the window and goes out with the next write.
  void writeSendsTheSettingsOfItsStart() {
    TPanelSim panel;
    std::promise<void> edited;
    std::shared_future<void> editDone = edited.get_future().share();
    std::atomic<bool> held{false};
    panel.SetCommandHandler([&held, editDone](const std::string& command) {
      if (command.rfind("+wt01", 0) == 0 && !held.exchange(true)) editDone.wait();
    });
    panel.Start();
    TForm1 form;
    // Whatever happens below, the panel answers again before the window goes.
    std::shared_ptr<void> release(nullptr, [&edited, &held](void*) {
      if (held) return;
      held = true;
      edited.set_value();
    });
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    QLineEdit* phone12 = Find<QLineEdit>(form.CommonPage(), "etPhone12");
    phone12->setText("111");

    QVERIFY(form.WriteAll());
    QTRY_VERIFY_WITH_TIMEOUT(held.load(), 20000);
    QVERIFY(form.IsBusy());
    phone12->setText("222");
    Find<QSpinBox>(form.CommonPage(), "seTimeOut")->setValue(77);
    edited.set_value();
    release.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QCOMPARE(messages, QStringList{QString::fromUtf8("Запись всех параметров завершена!")});
    QCOMPARE(panel.State().Phones[11], std::string("111"));
    QCOMPARE(panel.State().EntryDelay, 0);
    QCOMPARE(phone12->text(), QString("222"));
    QCOMPARE(form.PagesSettings(TGroup::Common).Phone[11], std::string("222"));

    QVERIFY(form.WriteAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QCOMPARE(panel.State().Phones[11], std::string("222"));
    QCOMPARE(panel.State().EntryDelay, 77);
  }

  // A read that fails anywhere, loses the link or is stopped leaves every
  // page exactly as it was, also the ones read before the failure: Read all,
  // a page's read, compare, the backup before Write all and the check after
  // it.
  void failedReadLeavesThePages_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<int>("kind");
    QTest::newRow("common-entry-unconfirmed") << "readAll" << "+rt05" << int(ostrel::sim::EFault::NoOk);
    QTest::newRow("key-refused") << "readAll" << "+rk3" << int(ostrel::sim::EFault::Refuse);
    QTest::newRow("ring-error") << "readAll" << "+rh" << int(ostrel::sim::EFault::Error);
    QTest::newRow("line-dropped-at-a-key") << "readAll" << "+rk6" << int(ostrel::sim::EFault::CloseLine);
    QTest::newRow("call-lost-at-gsm") << "readAll" << "+rg" << int(ostrel::sim::EFault::NoCarrier);
    QTest::newRow("disconnect-during-keys") << "readAll" << "+rk4" << -1;
    QTest::newRow("page-read-stopped") << "read" << "+rq03" << -1;
    QTest::newRow("compare-line-dropped") << "compare" << "+rk2" << int(ostrel::sim::EFault::CloseLine);
    QTest::newRow("compare-stopped") << "compare" << "+rt07" << -1;
    QTest::newRow("backup-call-lost") << "backup" << "+rk5" << int(ostrel::sim::EFault::NoCarrier);
    QTest::newRow("backup-stopped") << "backup" << "+rg" << -1;
    QTest::newRow("check-line-dropped") << "verify" << "+rk8" << int(ostrel::sim::EFault::CloseLine);
    QTest::newRow("check-stopped") << "verify" << "+rt02" << -1;
  }
  void failedReadLeavesThePages() {
    QFETCH(QString, operation);
    QFETCH(QString, prefix);
    QFETCH(int, kind);
    TPanelState state;
    for (int n = 0; n < 12; ++n) state.Phones[n] = "8916000000" + std::to_string(n);
    state.Keys[1] = "0123456789ABCDEF";
    state.GsmModule = 2;
    TPanelSim panel;
    panel.SetState(state);
    // Stopped by the user: the panel falls silent at the command, so the stop
    // comes while the operation waits for it, however slow the machine.
    panel.AddFault({prefix.toStdString(), kind >= 0 ? ostrel::sim::EFault(kind) : ostrel::sim::EFault::Silence,
                    false, 0, ""});
    panel.Start();
    TForm1 form(nullptr, false);
    form.Provision()->SetBackupBeforeWrite(operation == "backup");
    form.Provision()->SetVerifyAfterWrite(operation == "verify");
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    Find<QLineEdit>(form.CommonPage(), "etPhone1")->setText("555");
    // The ADC page takes no part in these reads (and its slider still moves
    // thumbs it cannot draw apart).
    const TSettings before = form.PagesSettings(TGroups::All());

    const bool started = operation == "readAll"   ? form.ReadAll()
                         : operation == "read"    ? form.Read()
                         : operation == "compare" ? form.Provision()->Compare()
                                                  : form.Provision()->WriteAll();
    QVERIFY(started);
    // The window disconnects once the command went out.
    if (kind < 0) {
      QTRY_VERIFY_WITH_TIMEOUT(Sent(panel, prefix.toStdString()), 40000);
      form.Disconnect();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy() && !form.Provision()->IsRunning(), 60000);
    QVERIFY(!form.LastResult().Succeeded());
    for (const TDifference& d : Differences(form.PagesSettings(TGroups::All()), before))
      QFAIL(qPrintable(QString::fromStdString(d.Field->Key + ": " + d.Left + " / " + d.Right)));
    QCOMPARE(Find<QLineEdit>(form.CommonPage(), "etPhone1")->text(), QString("555"));
    QCOMPARE(gui::PagesAgainstModel(form), QStringList());
    QVERIFY(!messages.contains(QString::fromUtf8("Чтение всех параметров завершено!")));
    // The backup's read failed: nothing was written.
    if (operation == "backup")
      for (const std::string& command : panel.Commands()) QVERIFY2(command.rfind("+w", 0) != 0, command.c_str());
    // The check's read failed after the write: the panel holds the pages.
    if (operation == "verify") QCOMPARE(panel.State().Phones[0], std::string("555"));
  }

 private:
  static bool Sent(const TPanelSim& panel, const std::string& command) {
    const std::vector<std::string> commands = panel.Commands();
    return std::find(commands.begin(), commands.end(), command) != commands.end();
  }

  template <class T>
  static T* Find(QWidget* page, const char* name) {
    T* control = page->findChild<T*>(QString::fromLatin1(name));
    if (!control) qFatal("no control %s", name);
    return control;
  }

  gui::TSandbox sandbox;
  QStringList& messages = sandbox.messages;
};

QTEST_MAIN(TestExchangeGui)
#include "tst_exchange_gui.moc"
