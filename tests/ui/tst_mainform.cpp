// The main window against the panel simulator on a pseudo-terminal.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <thread>

#include "link/Clock.h"
#include "persist/ProgramDir.h"
#include "tests/ui/GuiFixture.h"
#include "tools/PanelSim.h"
#include "ui/GuiThread.h"
#include "ui/Page.h"
#include "ui/StatusPane.h"
#include "ui/f_common.h"
#include "ui/KeyDialog.h"
#include "ui/f_keys.h"

using ostrel::sim::EFault;
using ostrel::sim::TPanelSim;

class TestMainForm : public QObject {
  Q_OBJECT

 private slots:
  void init() { sandbox.Enter(); }
  void cleanup() { sandbox.Leave(); }

  void startState() {
    TForm1 form;
    QCOMPARE(form.windowTitle(), QString::fromUtf8("Настройка охранной панели \"Ostrel GSM\" v1.012"));
    QCOMPARE(form.Device().GetPage(), std::string("TformCommon"));
    for (TPage* page : form.findChildren<TPage*>())
      QCOMPARE(page->isVisibleTo(&form), page->objectName() == QLatin1String("TformCommon"));
    QVERIFY(!gui::NavItem(form, "Отключиться")->isEnabled());
    QVERIFY(gui::NavItem(form, "Подключиться")->isEnabled());
    QVERIFY(!form.findChild<QWidget*>("RzGroup3")->isVisibleTo(&form));
    QVERIFY(!gui::NavItem(form, "АЦП")->isVisibleTo(&form));
    QVERIFY(!form.findChild<QAction*>("mnuDisconnect")->isEnabled());
  }

  void cancelInPortDialogChangesNothing() {
    TForm1 form;
    QTimer::singleShot(0, &form, [&] { form.ConnectDialog()->reject(); });
    form.Connect();
    QVERIFY(form.Link() == nullptr);
    QVERIFY(!form.IsConnected());
  }

  void connectAndDisconnect() {
    TPanelSim panel;
    panel.Start();
    TForm1 form;
    const QString port = QString::fromStdString(panel.SlavePath());
    gui::Connect(form, port);
    QVERIFY(form.IsConnected());
    QCOMPARE(gui::Panel2Text(form), QString::fromUtf8("СОЕДИНЕНИЕ УСТАНОВЛЕНО"));
    QCOMPARE(form.findChild<TRzStatusPane*>("RzStatusPane1")->Caption(), port);
    QVERIFY(form.findChild<TRzStatusPane*>("RzStatusPane2")->Caption().contains("VER 05"));
    QVERIFY(gui::NavItem(form, "Отключиться")->isEnabled());
    QVERIFY(!gui::NavItem(form, "Подключиться")->isEnabled());
    QVERIFY(form.findChild<QWidget*>("RzGroup3")->isVisibleTo(&form));

    gui::NavItem(form, "Отключиться")->Click();
    QVERIFY(!form.IsConnected());
    QVERIFY(form.Link() == nullptr);
    QVERIFY(!form.findChild<QWidget*>("RzGroup3")->isVisibleTo(&form));
    QCOMPARE(form.findChild<TRzStatusPane*>("RzStatusPane1")->Caption(), port);
    form.TimerTick();
    QVERIFY(gui::MemoLines(form).last().endsWith(QString::fromUtf8(" # Поток завершил работу")));
    QVERIFY(messages.isEmpty());
  }

  // An idle window does not wake: the timer that applies the link's output
  // rests until the link posts, and the link wakes for the panel's unasked
  // words.
  void idleWindowRestsUntilTheLinkPosts() {
    TPanelSim panel;
    panel.Start();
    TForm1 form;
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    QTRY_VERIFY(!form.Timer()->isActive());
    panel.SendUnasked("\r\nNO CARRIER\r\n");
    QTRY_VERIFY(!form.IsConnected());
    QTRY_VERIFY(!messages.isEmpty());
    QVERIFY(gui::MemoLines(form).join('\n').contains(QString::fromUtf8("ОШИБКА!Цифровое соединение разорвано!")));
  }

  void connectionFailures_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("badPort");
    QTest::addColumn<QString>("shown");
    QTest::newRow("wrong-firmware") << "Ostrel GSM VER 04.00" << "" << false
                                    << QString::fromUtf8("ОШИБКА! НЕ верная версия прошивки");
    QTest::newRow("silent-panel") << "" << "+v" << false << QString::fromUtf8("ОШИБКА! Устройство не ответило!");
    QTest::newRow("port-cannot-be-opened")
        << "" << "" << true
        << QString::fromUtf8("Ошибка при открытии COM порта: /nonexistent/ostrel: нет такого файла или устройства");
  }

  void connectionFailures() {
    QFETCH(QString, version);
    QFETCH(QString, fault);
    QFETCH(bool, badPort);
    QFETCH(QString, shown);
    TPanelSim panel;
    if (!version.isEmpty()) panel.SetVersionText(version.toStdString());
    if (!fault.isEmpty()) panel.AddFault({fault.toStdString(), EFault::Silence, false});
    panel.Start();
    TVirtualClock clock;
    TForm1 form;
    form.SetLinkClock(&clock);
    const QString port = badPort ? QString("/nonexistent/ostrel") : QString::fromStdString(panel.SlavePath());
    // The dialog stays up with the failure until the user cancels it.
    QElapsedTimer shownFor;
    gui::Connect(form, port, [&] {
      if (gui::Panel2Text(form) != shown) return false;
      if (!shownFor.isValid()) shownFor.start();
      return shownFor.elapsed() > 300;
    });
    QCOMPARE(gui::Panel2Text(form), shown);
    QVERIFY(!form.IsConnected());
    QVERIFY(gui::NavItem(form, "Подключиться")->isEnabled());
    QVERIFY(form.Link()->IsTerminated());
    QVERIFY(messages.isEmpty());
  }

  // The status pane shows a port name on one line, its control characters escaped.
  void portNameIsShownOnOneLine() {
    TForm1 form;
    gui::Connect(form, "/nonexistent/a\nb\x01", [&] { return !gui::Panel2Text(form).isEmpty(); });
    QCOMPARE(form.findChild<TRzStatusPane*>("RzStatusPane1")->Caption(), QString("/nonexistent/a\\nb\\x01"));
  }

  void cancelWhileTheCheckWaits() {
    TPanelSim panel;
    panel.AddFault({"+v", EFault::Silence, true});
    panel.Start();
    TForm1 form;
    const QString port = QString::fromStdString(panel.SlavePath());
    gui::Connect(form, port, [&] { return panel.Commands().size() >= 1; });
    QVERIFY(!form.IsConnected());
    // The wait ends at the stop request, not at the attempt's time-out.
    const int attemptMs = 4500;
    QElapsedTimer stop;
    stop.start();
    QTRY_VERIFY_WITH_TIMEOUT(form.Link()->Finished(), attemptMs);
    QVERIFY(stop.elapsed() < attemptMs);
    // A second Connect works with a new link thread.
    gui::Connect(form, port);
    QVERIFY(form.IsConnected());
  }

  // The link's end, seen by the notifier on its state descriptor, disconnects
  // the window from inside that notifier's handler; the notifier goes once
  // the handler has returned, and none is left behind.
  void lostLinkReturnsToDisconnected() {
    TPanelSim panel;
    panel.Start();
    TForm1 form;
    const qsizetype notifiers = form.findChildren<QSocketNotifier*>().size();
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    panel.SendUnasked("\r\nNO CARRIER\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsConnected(), 5000);
    QVERIFY(form.Link() == nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(form.findChildren<QSocketNotifier*>().size(), notifiers);
    QVERIFY(gui::MemoLines(form).join('\n').contains(QString::fromUtf8("ОШИБКА!Цифровое соединение разорвано!")));
  }

  void closingWhileConnectedEndsTheLink() {
    TPanelSim panel;
    panel.Start();
    auto form = std::make_unique<TForm1>();
    gui::Connect(*form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form->IsConnected());
    form.reset();  // waits for the link thread; the port is free again
    panel.ClearCommands();
    TForm1 again;
    gui::Connect(again, QString::fromStdString(panel.SlavePath()));
    QVERIFY(again.IsConnected());
  }

  // One operation at a time: "Прочитать всё" and the other actions, Load and
  // Save are refused while "Записать всё" runs, and nothing on the page or
  // the panel changes because of them.
  void secondOperationIsRefusedWhileOneRuns() {
    TPanelSim panel;
    panel.SetReplyDelay(20);
    panel.Start();
    TForm1 form;
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    auto* phone4 = form.CommonPage()->findChild<QLineEdit*>("etPhone4");
    phone4->setText("89035550004");
    form.CommonPage()->findChild<QSpinBox*>("seTimeOut")->setValue(42);

    gui::NavItem(form, "Записать всё")->Click();
    QVERIFY(form.IsBusy());
    // The write reads the page on this thread: wait by serving events.
    QTRY_VERIFY_WITH_TIMEOUT(panel.Commands().size() >= 4, 5000);
    for (const char* item : {"Прочитать всё", "Прочитать", "Записать", "Записать всё", "Загрузить", "Сохранить"}) {
      QVERIFY2(!gui::NavItem(form, item)->isEnabled(), item);
      gui::NavItem(form, item)->Click();
    }
    QVERIFY(!form.ReadAll() && !form.Read() && !form.Write() && !form.WriteAll());
    QCOMPARE(phone4->text(), QString("89035550004"));  // not cleared
    QVERIFY(form.findChild<QLabel*>("lbBusy")->isVisibleTo(&form));

    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QCOMPARE(messages, QStringList{QString::fromUtf8("Запись всех параметров завершена!")});
    QCOMPARE(panel.State().Phones[3], std::string("89035550004"));
    QCOMPARE(panel.State().EntryDelay, 42);
    const auto commands = panel.Commands();
    QVERIFY(std::none_of(commands.begin(), commands.end(), [](const std::string& c) { return c.rfind("+r", 0) == 0; }));
    QVERIFY(gui::NavItem(form, "Прочитать всё")->isEnabled());
    QVERIFY(form.ReadAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
  }

  // A link lost during an operation ends it: the window is disconnected and
  // free for the next connection.
  void linkLostDuringAnOperation() {
    TPanelSim panel;
    panel.AddFault({"+rk3", EFault::CloseLine, false});
    panel.Start();
    TForm1 form;
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.ReadAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsConnected(), 10000);
    QVERIFY(!form.IsBusy());
    QVERIFY(form.Link() == nullptr);
    QVERIFY(!messages.contains(QString::fromUtf8("Чтение всех параметров завершено!")));
  }

  // Widgets refuse to be touched from another thread.
  void widgetsRefuseOtherThreads() {
    TForm1 form;
    auto* phone = form.CommonPage()->findChild<QLineEdit*>("etPhone1");
    std::vector<std::string> caught;
    std::thread other([&] {
      auto attempt = [&](const std::function<void()>& call) {
        try {
          call();
        } catch (const EWrongThread& e) {
          caught.push_back(e.what());
        }
      };
      attempt([&] { form.CommonPage()->ClearPage(); });
      attempt([&] { form.KeysPage()->ClearPage(); });
      attempt([&] { form.Applier().ApplyOutput(form.Queue()); });
      attempt([&] { form.ShowPage(form.KeysPage()); });
    });
    other.join();
    QCOMPARE(int(caught.size()), 4);
    // On the GUI thread the same calls work.
    phone->setText("123");
    form.CommonPage()->ClearPage();
    QCOMPARE(phone->text(), QString());
  }

 private:
  gui::TSandbox sandbox;
  QStringList& messages = sandbox.messages;
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
