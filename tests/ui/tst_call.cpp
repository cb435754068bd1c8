// The window reaching a panel through a GSM modem data call: the simulated
// modem on a pseudo-terminal, in virtual time.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <atomic>
#include <functional>

#include "link/Clock.h"
#include "model/Fields.h"
#include "model/Operation.h"
#include "output/OutElement.h"
#include "ops/PanelSession.h"
#include "persist/IniFile.h"
#include "persist/ProgramDir.h"
#include "serial/XComDrv.h"
#include "tests/ui/GuiFixture.h"
#include "tools/ModemSim.h"
#include "ui/OperationProgress.h"
#include "ui/Provision.h"
#include "ui/f_common.h"

using ostrel::sim::ECpin;
using ostrel::sim::TModemSim;
using ostrel::sim::TPanelState;

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

using TLines = std::vector<std::string>;

const char* const Number = "+79160001122";

// Virtual time that stands still while the modem still owes the window's
// current link an answer (see tests/common/FarEnd.h), whichever link the
// window has started.
// onWait runs on the link thread at each of its waits.
void FollowWindowLinks(TVirtualClock& clock, TForm1& form, TModemSim& modem,
                       std::function<void()> onWait = nullptr) {
  clock.SetFarEndOwes([&form, &modem, onWait] {
    if (onWait) onWait();
    TModem* link = form.Link();
    if (!link) return false;
    try {
      TXComm& port = link->Port();
      if (!port.IsOpen()) return false;
      if (modem.BytesTaken() < port.SentCount()) return true;
      if (modem.OutputQueued()) return true;
      return modem.BytesGiven() > uint64_t{port.ReceivedCount()} + port.QueueCount(0);
    } catch (const std::exception&) {
      return false;
    }
  });
}

// Connect with the modem chosen in the port dialog; cancelWhen as in gui::Connect.
void Call(TForm1& form, const QString& port, const QString& phone, std::function<bool()> cancelWhen = nullptr,
          bool waitForNetwork = true) {
  gui::ConnectWith(
      form,
      [port, phone, waitForNetwork](TdlgConnect& dialog) {
        dialog.ComPorts()->setEditText(port);
        dialog.SetViaModem(true);
        dialog.SetPhone(phone);
        dialog.SetWaitForNetwork(waitForNetwork);
      },
      std::move(cancelWhen), 30000);
}

// Nobody holds the port any more: it opens (exclusively) and closes again.
bool PortIsFree(const std::string& path) {
  try {
    TXComm port;
    port.SetDeviceName(path);
    port.Open();
    port.Close();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

TLines Tail(const TLines& lines, size_t n) {
  return lines.size() < n ? lines : TLines(lines.end() - static_cast<std::ptrdiff_t>(n), lines.end());
}

const TLines HangUpLines{"+++", "ATH", "ATZ"};

QString CallLine(TForm1& form) { return form.SplashDialog()->Panel6()->Caption(); }

QLineEdit* Phone(TForm1& form, int n) { return form.CommonPage()->findChild<QLineEdit*>(QString("etPhone%1").arg(n)); }

TPanelState Configured() {
  TPanelState state;
  state.Phones[0] = "89160000001";
  state.Phones[2] = "+79161112233";
  state.EntryDelay = 30;
  state.Keys[1] = "0123456789ABCDEF";
  return state;
}

}  // namespace

class TestCall : public QObject {
  Q_OBJECT

 private slots:
  void init() { sandbox.Enter(); }
  void cleanup() { sandbox.Leave(); }

  // Call, Read all, edit, Write all with its check, Disconnect: the modem
  // hears what the command line's call says to it, the panel gets the same
  // commands, and the call is hung up at the end.
  void callReadEditWriteDisconnect() {
    // The command line's dialogue, for comparison (the system's clock).
    TModemSim reference;
    reference.SetState(Configured());
    reference.Start();
    {
      TPanelSession session;
      QVERIFY(session.Connect(reference.SlavePath(), "+7 (916) 000-11-22").Succeeded());
      QVERIFY(session.Run(Modes::ReadAll, "TformCommon").Succeeded());
      session.Disconnect();
    }

    TModemSim modem;
    modem.SetState(Configured());
    modem.SetCpin(ECpin::Never, 1000);
    modem.Start();
    TVirtualClock clock;
    TForm1 form(nullptr, false);
    form.SetLinkClock(&clock);
    FollowWindowLinks(clock, form, modem);
    const QString port = QString::fromStdString(modem.SlavePath());
    Call(form, port, "+7 (916) 000-11-22");
    QVERIFY(form.IsConnected());
    QCOMPARE(gui::Panel2Text(form), U("СОЕДИНЕНИЕ УСТАНОВЛЕНО"));
    QCOMPARE(CallLine(form), U("Звонок на +79160001122: соединение 9600 бит/с"));
    QVERIFY(form.SplashDialog()->Panel6()->isVisibleTo(form.SplashDialog()));
    QVERIFY(modem.IsCallUp());

    gui::NavItem(form, "Прочитать всё")->Click();
    QVERIFY(form.IsBusy());
    QVERIFY(form.Progress()->Label()->text().endsWith(U(" из 38 (через GSM-модем, 9600 бит/с)")));
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QCOMPARE(sandbox.messages, QStringList{U("Чтение всех параметров завершено!")});
    QCOMPARE(Phone(form, 3)->text(), QString("+79161112233"));
    // The same panel commands as the command line's read, in the same order.
    QCOMPARE(modem.Commands(), reference.Commands());

    sandbox.messages.clear();
    Phone(form, 4)->setText("89030000004");
    form.Provision()->SetVerifyAfterWrite(true);
    form.WriteAllAction();
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy() && !form.Provision()->IsRunning(), 40000);
    QCOMPARE(sandbox.messages.size(), 1);
    QVERIFY2(sandbox.messages[0].startsWith(U("Запись всех параметров завершена и проверена")),
             qPrintable(sandbox.messages[0]));
    QCOMPARE(modem.State().Phones[3], std::string("89030000004"));

    gui::NavItem(form, "Отключиться")->Click();
    QVERIFY(!form.IsConnected());
    QVERIFY(form.Link() == nullptr);
    QVERIFY(!modem.IsCallUp());
    QVERIFY(PortIsFree(modem.SlavePath()));
    QCOMPARE(gui::Panel2Text(form), U("Завершение звонка: +++, ATH, ATZ"));
    // The modem's side: the same call as the command line's, then the hang-up.
    QCOMPARE(modem.ModemCommands(), reference.ModemCommands());
    QCOMPARE(Tail(modem.ModemCommands(), 3), HangUpLines);
    QCOMPARE(sandbox.messages.size(), 1);
  }

  // Calls that fail or are given up: each ends with the port free, the pages
  // as they were, and the call's own words.
  void callFaults_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("connects");
    QTest::addColumn<QString>("panel2");
    QTest::addColumn<QString>("box");
    QTest::newRow("no-registration")
        << "creg" << false << U("Завершение звонка: +++, ATH, ATZ") << QString();
    QTest::newRow("busy-then-connect") << "busy1" << true << U("СОЕДИНЕНИЕ УСТАНОВЛЕНО") << QString();
    QTest::newRow("three-failures")
        << "busy3" << false << U("Завершение звонка: +++, ATH, ATZ")
        << U("Не удалось установить соединение через GSM-модем.\nЭтап: Набор номера: +79160001122\n"
             "Ответ модема: «BUSY»");
    QTest::newRow("dropped-during-read-all")
        << "drop" << true << U("СОЕДИНЕНИЕ УСТАНОВЛЕНО")
        << U("Звонок через GSM-модем прервался.\nЭтап: Цифровое соединение с панелью\nОтвет модема: «NO CARRIER».\n"
             "Операция прервана и не завершена. Подключитесь снова и повторите её.");
    QTest::newRow("cancel-while-dialling")
        << "cancel-dial" << false << U("Завершение звонка: +++, ATH, ATZ") << QString();
  }

  void callFaults() {
    QFETCH(QString, fault);
    QFETCH(bool, connects);
    QFETCH(QString, panel2);
    QFETCH(QString, box);
    TModemSim modem;
    modem.SetState(Configured());
    modem.SetCpin(ECpin::Never, 1000);
    if (fault == "creg") modem.SetCregReply("+CREG: 0,2");
    if (fault == "busy1") {
      // Busy at the first dial, connected at the next.
      modem.SetDialReply("BUSY");
      modem.SetCommandHandler([&modem](const std::string& command) {
        if (command.rfind("ATD", 0) == 0) modem.SetDialReply("CONNECT 9600");
      });
    }
    if (fault == "busy3") modem.SetDialReply("BUSY");
    if (fault == "cancel-dial") modem.SetDialReply("");
    modem.Start();
    TVirtualClock clock;
    // Persistent (in the sandbox's directory): the window's own boxes are shown.
    TForm1 form;
    form.SetLinkClock(&clock);
    // The far end hangs up in the middle of Read all, at the link's first
    // wait after the panel has taken its sixth command of it.
    std::atomic<size_t> dropAfter{0};
    FollowWindowLinks(clock, form, modem, [&] {
      const size_t n = dropAfter.load();
      if (n != 0 && modem.Commands().size() >= n && dropAfter.exchange(0) != 0) modem.DropCall();
    });
    const TSettings before = form.PagesSettings(TGroups::All());

    // Every text the link gave the progress dialog, as the window applied it.
    QStringList panel2Seen;
    QStringList lineSeen;
    form.Applier().Observe = [&, before = form.Applier().Observe](const TOutElement& e) {
      if (e.Kind == okControlText) {
        const auto& c = static_cast<const TControlOut&>(e);
        if (c.Control.Form == "TdlgSplash" && c.Control.Name == "Panel2") panel2Seen << QString::fromStdString(c.Text);
        if (c.Control.Form == "TdlgSplash" && c.Control.Name == "Panel6") lineSeen << QString::fromStdString(c.Text);
      }
      if (before) before(e);
    };
    std::function<bool()> cancelWhen = [&] {
      if (fault == "creg") return gui::Panel2Text(form) == U("Ожидание регистрации в сети: опрос 3");
      if (fault == "cancel-dial") return gui::Panel2Text(form) == U("Набор номера: +79160001122");
      return false;
    };
    Call(form, QString::fromStdString(modem.SlavePath()), Number, cancelWhen);
    QCOMPARE(form.IsConnected(), connects);
    if (fault == "drop") {
      dropAfter.store(modem.Commands().size() + 6);
      QVERIFY(form.ReadAll());
      QTRY_VERIFY_WITH_TIMEOUT(!form.IsConnected() && form.Link() == nullptr, 20000);
      QTRY_VERIFY_WITH_TIMEOUT(!sandbox.messages.isEmpty(), 5000);
    }
    if (connects && fault != "drop") {
      gui::NavItem(form, "Отключиться")->Click();
      QVERIFY(form.Link() == nullptr);
    }
    if (form.Link()) QVERIFY(form.Link()->Finished());
    QVERIFY(PortIsFree(modem.SlavePath()));
    QVERIFY(!modem.IsCallUp());
    QCOMPARE(Tail(modem.ModemCommands(), 3), HangUpLines);
    QVERIFY(!form.SplashDialog()->isVisible());
    if (fault != "drop" && !connects) QCOMPARE(gui::Panel2Text(form), panel2);
    QCOMPARE(sandbox.messages, box.isEmpty() ? QStringList() : QStringList{box});
    const auto changed = Differences(before, form.PagesSettings(TGroups::All()));
    for (const TDifference& d : changed) qWarning("%s: %s -> %s", d.Field->Key.c_str(), d.Left.c_str(), d.Right.c_str());
    QVERIFY(changed.empty());

    const TLines said = modem.ModemCommands();
    const auto dials = std::count(said.begin(), said.end(), "ATD " + std::string(Number));
    if (fault == "creg") {
      QCOMPARE(dials, 0);
      QVERIFY(std::count(said.begin(), said.end(), "AT+CREG?") >= 3);
      QVERIFY2(lineSeen.contains(U("Нет регистрации в сети (опрос 2), ответ модема: +CREG: 0,2")),
               qPrintable(lineSeen.join('|')));
    }
    if (fault == "busy1") {
      QCOMPARE(dials, 2);
      QCOMPARE(std::count(said.begin(), said.end(), "ATZ"), 3);  // two passes, one hang-up
    }
    if (fault == "busy3") {
      QCOMPARE(dials, 3);
      QVERIFY(panel2Seen.contains(U("Не могу дозвониться до : +79160001122")));
    }
    if (fault == "busy1" || fault == "busy3")
      QVERIFY2(lineSeen.contains(U("Звонок на +79160001122: попытка 2 из 3, предыдущая: Набор номера: "
                                   "+79160001122 (BUSY)")),
               qPrintable(lineSeen.join('|')));
    if (fault == "busy1") QCOMPARE(lineSeen.last(), U("Звонок на +79160001122: соединение 9600 бит/с"));
    if (fault == "cancel-dial") QCOMPARE(dials, 1);
  }

  // Closing the window hangs the call up while the window still shows it.
  void closingTheWindowHangsUp() {
    TModemSim modem;
    modem.SetCpin(ECpin::Never, 1000);
    modem.Start();
    TVirtualClock clock;
    TForm1 form(nullptr, false);
    form.SetLinkClock(&clock);
    FollowWindowLinks(clock, form, modem);
    form.show();
    Call(form, QString::fromStdString(modem.SlavePath()), Number, nullptr, false);
    QVERIFY(form.IsConnected());
    QVERIFY(modem.IsCallUp());
    QStringList shown;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &form, [&] {
      if (form.SplashDialog()->isVisible()) shown << gui::Panel2Text(form);
    });
    watch.start(10);
    QVERIFY(form.close());
    QVERIFY(form.Link()->Finished());
    QVERIFY(!modem.IsCallUp());
    QCOMPARE(Tail(modem.ModemCommands(), 3), HangUpLines);
    QVERIFY(PortIsFree(modem.SlavePath()));
    QVERIFY(shown.contains(U("Завершение звонка: +++, ATH, ATZ")));
    QVERIFY(sandbox.messages.isEmpty());
  }

  // The dialog: a call needs a number that leaves something to dial, and
  // Cancel gives back the way of connecting it opened with.
  void dialogRefusesANumberWithNothingToDial() {
    TForm1 form(nullptr, false);
    TdlgConnect* dialog = form.ConnectDialog();
    QVERIFY(!dialog->ViaModem());
    QVERIFY(!dialog->PhoneBox()->isEnabled());
    dialog->show();
    dialog->SetViaModem(true);
    QVERIFY(dialog->PhoneBox()->isEnabled());
    for (const char* phone : {"", "+"}) {
      dialog->SetPhone(phone);
      dialog->accept();
      QVERIFY(dialog->isVisible());
      QVERIFY(dialog->NoteLabel()->isVisibleTo(dialog));
    }
    // Typed text passes the pages' phone filter.
    dialog->PhoneBox()->lineEdit()->clear();
    QTest::keyClicks(dialog->PhoneBox()->lineEdit(), "8a9-1");
    QCOMPARE(dialog->Phone(), QString("891"));
    dialog->accept();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(dialog->RecentPhones(), QStringList{"891"});

    dialog->show();
    dialog->SetViaModem(false);
    dialog->SetPhone("5");
    dialog->reject();
    QVERIFY(dialog->ViaModem());
    QCOMPARE(dialog->Phone(), QString("891"));
  }

  // "current.ini" keeps the way of connecting in keys of its own beside
  // ComPort; a file written before them loads as a direct link, unchanged.
  void currentIniKeepsTheCall() {
    const QString file = ProgramDir() + "current.ini";
    {
      TIniFile old(file);
      QVERIFY(old.LoadEmpty());
      old.WriteString("Connect", "ComPort", "/dev/ttyUSB3");
      old.WriteString("Phones", "Phone1", "89160000001");
      old.WriteBool("Debug", "Log", false);
      QVERIFY(old.Save());
    }
    {
      TForm1 form;
      QVERIFY(!form.ConnectDialog()->ViaModem());
      QCOMPARE(form.ConnectDialog()->ComPorts()->currentText(), QString("/dev/ttyUSB3"));
      QCOMPARE(Phone(form, 1)->text(), QString("89160000001"));
      QVERIFY(form.ConnectDialog()->WaitForNetwork());
      form.ConnectDialog()->SetViaModem(true);
      form.ConnectDialog()->SetRecentPhones({"222", "111"});
      form.ConnectDialog()->SetPhone("+7916");
      form.ConnectDialog()->SetWaitForNetwork(false);
    }
    TIniFile saved(file);
    QVERIFY(saved.Load());
    // What the earlier version reads is as it was.
    QCOMPARE(saved.ReadString("Connect", "ComPort", ""), QString("/dev/ttyUSB3"));
    QCOMPARE(saved.ReadString("Phones", "Phone1", ""), QString("89160000001"));
    QCOMPARE(saved.ReadString("Connect", "Modem", ""), QString("1"));
    QCOMPARE(saved.ReadString("Connect", "Phone", ""), QString("+7916"));
    QCOMPARE(saved.ReadString("Connect", "WaitForNetwork", ""), QString("0"));
    QCOMPARE(saved.ReadString("Connect", "LastPhone1", ""), QString("222"));
    QCOMPARE(saved.ReadString("Connect", "LastPhone2", ""), QString("111"));
    {
      TForm1 form;
      QVERIFY(form.ConnectDialog()->ViaModem());
      QCOMPARE(form.ConnectDialog()->Phone(), QString("+7916"));
      QVERIFY(!form.ConnectDialog()->WaitForNetwork());
      QCOMPARE(form.ConnectDialog()->RecentPhones(), (QStringList{"222", "111"}));
    }
    // A modem call without a number to dial opens as a direct link.
    {
      TIniFile edited(file);
      QVERIFY(edited.Load());
      edited.WriteString("Connect", "Phone", "+");
      QVERIFY(edited.Save());
    }
    TForm1 form;
    QVERIFY(!form.ConnectDialog()->ViaModem());
  }

 private:
  gui::TSandbox sandbox;
};

QTEST_MAIN(TestCall)
#include "tst_call.moc"
