// The window's "Объекты" group against the panel and modem simulators, with a
// SQLite site library in the test's own directory: finding a site, comparing
// and loading its records, recording every operation, the offer to attach a
// read, "Позвонить", and a library that cannot be opened.
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTreeWidget>
#include <QListWidget>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QCheckBox>
#include <QDir>
#include <QRegularExpression>
#include <QSet>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "library/LibraryUse.h"
#include "library/RecordSpool.h"
#include "persist/ProgramDir.h"
#include "link/Clock.h"
#include "serial/XComDrv.h"
#include "persist/SettingsCodec.h"
#include "persist/SettingsDialogs.h"
#include "tests/ui/GuiFixture.h"
#include "tools/ModemSim.h"
#include "tools/PanelSim.h"
#include "ui/CompareDlg.h"
#include "ui/Provision.h"
#include "ui/SiteDialogs.h"
#include "ui/SiteLibrary.h"
#include "ui/Sites.h"
#include "ui/StatusPane.h"
#include "ui/f_common.h"

using ostrel::sim::EFault;
using ostrel::sim::TModemSim;
using ostrel::sim::TPanelSim;
using ostrel::sim::TPanelState;

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

QLineEdit* Phone(TForm1& form, int n) { return form.CommonPage()->findChild<QLineEdit*>(QString("etPhone%1").arg(n)); }

TSettings Settings(const char* phone3, int entryDelay, const char* phone4 = "") {
  TSettings s;
  s.Groups = TGroups::All();
  s.Phone[2] = phone3;
  s.Phone[3] = phone4;
  s.TimeOut = entryDelay;
  return s;
}

// A record of a site made through the library itself.
void AddRecord(TLibrary& library, const QString& site, TRecordKind kind, const TSettings& settings) {
  TRecord r;
  r.Operator = "anna";
  r.Host = "laptop";
  r.Kind = kind;
  r.Outcome = "success";
  r.Port = "/dev/ttyUSB0";
  r.Firmware = "Ostrel GSM VER 05.01";
  r.Settings = RecordSettingsText(settings, r.Port);
  QVERIFY(library.AddRecord(site, &r));
}

// A record whose settings are the text given, as a library may hold one.
// The settings a record holds in the table of loadRecordTakesOnlyWhatItGives.
TSettings Recorded() {
  TSettings s;
  s.Groups = TGroups::All();
  for (int i = 0; i < TSettings::kEntries; ++i) s.Phone[i] = "+7900" + std::to_string(i + 1);
  for (int i = 0; i < TSettings::kKeys; ++i) s.Key[i] = "0123456789ABCDE" + std::to_string(i);
  s.TimeOut = 17;
  s.Module = 1;
  s.Ring = 2;
  return s;
}

void AddRecordText(TLibrary& library, const QString& site, const QByteArray& text) {
  TRecord r;
  r.Operator = "anna";
  r.Kind = TRecordKind::Read;
  r.Outcome = "success";
  r.Settings = text;
  QVERIFY(library.AddRecord(site, &r));
}

void AddSite(TLibrary& library, const QString& name, const QString& address = QString(),
             const QString& number = QString()) {
  TSite site;
  site.Name = name;
  site.Address = address;
  site.DataNumber = number;
  QVERIFY2(library.AddSite(site), qPrintable(library.Error()));
}

QStringList Column(QTreeWidget* list, int column) {
  QStringList texts;
  for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(column);
  return texts;
}

QStringList Row(QTableWidget* table, int row) {
  QStringList cells;
  for (int column = 0; column < table->columnCount(); ++column) cells << table->item(row, column)->text();
  return cells;
}

// Chooses the history rows of the record numbers given.
void ChooseRecords(TSites& sites, std::initializer_list<int> numbers) {
  QTreeWidget* history = sites.Page()->History();
  history->clearSelection();
  for (int i = 0; i < history->topLevelItemCount(); ++i)
    for (int n : numbers)
      if (history->topLevelItem(i)->text(0) == QString::number(n)) history->topLevelItem(i)->setSelected(true);
}

void Click(TSites& sites, const char* button) {
  QPushButton* b = sites.Page()->Button(button);
  QVERIFY2(b->isEnabled(), button);
  b->click();
}

}  // namespace

class TestSites : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    sandbox.Enter();
    dir = std::make_unique<QTemporaryDir>();
    place.File = dir->filePath("library.sqlite");
    library = std::make_unique<TLibrary>();
    QVERIFY(library->Open(place));
  }
  void cleanup() {
    library.reset();
    dir.reset();
    sandbox.Leave();
  }

  // Two records compared in the window list what history --diff lists: a
  // record of one page's read against a whole one shows the groups only one
  // holds as "(пусто)" on the other side; a loop recorded with both rows as
  // its normal state reads as the lower row on both paths.
  void comparingTwoRecordsListsWhatHistoryDiffLists() {
    AddSite(*library, U("Склад 7"));
    TSettings page = Settings("+79161112233", 30);
    page.Groups = TGroup::Common;
    AddRecord(*library, U("Склад 7"), TRecordKind::Read, page);
    TSettings whole = Settings("+79161112233", 45);
    whole.Key[0] = "0123456789ABCDEF";
    whole.Module = 2;
    TRecord old;
    old.Operator = "anna";
    old.Kind = TRecordKind::Read;
    old.Outcome = "success";
    old.Settings = RecordSettingsText(whole, QString()).replace("Norm11=0", "Norm11=1").replace("Norm7=0", "Norm7=1");
    QVERIFY(library->AddRecord(U("Склад 7"), &old));
    const auto a = library->Record(U("Склад 7"), 1);
    const auto b = library->Record(U("Склад 7"), 2);
    QVERIFY(a && b);
    const TSettings right = RecordSettings(b->Settings);
    QVERIFY(!right.Norm[6] && right.Norm[10]);
    const std::vector<TDifference> expected = Differences(RecordSettings(a->Settings), right);

    TForm1 form(nullptr, false);
    TSites& sites = *form.Sites();
    sites.OpenLibrary(place);
    QVERIFY(sites.Library()->WaitIdle());
    form.ShowPage(sites.Page());
    QTest::keyClicks(sites.Page()->Search(), "9161112233");
    QTRY_COMPARE(Column(sites.Page()->SitesList(), 0), QStringList{U("Склад 7")});
    QTRY_COMPARE(Column(sites.Page()->History(), 0), (QStringList{"2", "1"}));
    ChooseRecords(sites, {1, 2});
    Click(sites, "btCompareRecords");
    QTRY_VERIFY(sites.CompareDialog() && sites.CompareDialog()->isVisible());
    QTableWidget* table = sites.CompareDialog()->Table();
    QStringList shown, listed;
    for (int row = 0; row < table->rowCount(); ++row) {
      const auto cell = [&](int column) { return table->item(row, column)->text(); };
      shown << table->item(row, 0)->toolTip() + ": " + cell(2) + " / " + cell(3);
    }
    const auto value = [](const std::string& v) { return v.empty() ? U("(пусто)") : QString::fromStdString(v); };
    for (const TDifference& d : expected) listed << FieldName(*d.Field) + ": " + value(d.Left) + " / " + value(d.Right);
    QCOMPARE(shown, listed);
    // The keys and the GSM page, which only the whole record holds, are there.
    QVERIFY(listed.contains(U("[Keys] Key0: (пусто) / 0123456789ABCDEF")));
    QVERIFY(listed.contains(U("[Other] TimeOut: 30 / 45")));
    QVERIFY(listed.contains(U("[Norm] Norm11: 0 / 1")));
  }

  // Find a site by a phone number typed in the search, compare two of its
  // records, load one into the pages, write it all to the panel, and see
  // the new record appear in the history.
  void findCompareLoadWriteAndSeeTheRecord() {
    AddSite(*library, U("Склад 7"), U("ул. Лесная, 3"));
    AddRecord(*library, U("Склад 7"), TRecordKind::Read, Settings("+79161112233", 30));
    AddRecord(*library, U("Склад 7"), TRecordKind::Write, Settings("+79161112233", 45, "+79035550044"));
    AddSite(*library, U("Офис"), U("пр. Мира, 1"));
    AddRecord(*library, U("Офис"), TRecordKind::Read, Settings("+74950000000", 10));

    TPanelSim panel;
    panel.Start();
    TForm1 form(nullptr, false);
    TSites& sites = *form.Sites();
    sites.OpenLibrary(place);
    QVERIFY(sites.Library()->WaitIdle());
    QVERIFY(sites.Library()->IsOpen());
    QCOMPARE(Column(sites.Page()->SitesList(), 0), (QStringList{U("Офис"), U("Склад 7")}));
    // The library works on its own thread, never on the window's.
    bool elsewhere = false;
    sites.Library()->Run<bool>([](TLibrary&) { return QThread::currentThread() != qApp->thread(); },
                               [&](bool b) { elsewhere = b; });
    QVERIFY(sites.Library()->WaitIdle());
    QVERIFY(elsewhere);

    form.ShowPage(sites.Page());
    // A number as installers type it; one that no site holds is said so.
    QLineEdit* search = sites.Page()->Search();
    QTest::keyClicks(search, "8 (916) 111-22-99");
    QTRY_VERIFY(!sites.Page()->NothingFound()->isHidden());
    QCOMPARE(sites.Page()->NothingFound()->text(), U("Ничего не найдено"));
    QVERIFY(Column(sites.Page()->SitesList(), 0).isEmpty());
    search->clear();
    QTest::keyClicks(search, "+7 916 111-22-33");
    QTRY_COMPARE(Column(sites.Page()->SitesList(), 0), QStringList{U("Склад 7")});
    QVERIFY(sites.Page()->NothingFound()->isHidden());
    search->clear();
    QTest::keyClicks(sites.Page()->Search(), "9161112233");
    QTRY_COMPARE(Column(sites.Page()->SitesList(), 0), QStringList{U("Склад 7")});
    QTRY_COMPARE(Column(sites.Page()->History(), 0), (QStringList{"2", "1"}));
    QCOMPARE(Column(sites.Page()->History(), TformSites::kKind), (QStringList{U("Запись"), U("Чтение")}));
    QCOMPARE(Column(sites.Page()->History(), TformSites::kOutcome), (QStringList{U("успешно"), U("успешно")}));

    ChooseRecords(sites, {1, 2});
    Click(sites, "btCompareRecords");
    QTRY_VERIFY(sites.CompareDialog() && sites.CompareDialog()->isVisible());
    QTableWidget* table = sites.CompareDialog()->Table();
    QCOMPARE(table->horizontalHeaderItem(2)->text(), U("Запись 1"));
    QCOMPARE(table->horizontalHeaderItem(3)->text(), U("Запись 2"));
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(Row(table, 0), (QStringList{U("Общие"), U("Телефон 4"), U("(пусто)"), "+79035550044"}));
    QCOMPARE(Row(table, 1), (QStringList{U("Общие"), U("Задержка на вход"), "30", "45"}));
    sites.CompareDialog()->reject();

    ChooseRecords(sites, {2});
    Click(sites, "btLoadRecord");
    QTRY_COMPARE(Phone(form, 4)->text(), QString("+79035550044"));
    QCOMPARE(form.CommonPage()->findChild<QSpinBox*>("seTimeOut")->value(), 45);
    // One record against the pages it was loaded into: nothing differs.
    Click(sites, "btCompareRecords");
    QTRY_COMPARE(sites.CompareDialog()->Summary()->text(), U("Запись и страницы совпадают."));
    sites.CompareDialog()->reject();

    Click(sites, "btCurrentSite");
    QCOMPARE(sites.CurrentSite(), U("Склад 7"));
    auto* pane = form.findChild<TRzStatusPane*>("pSite");
    QVERIFY(pane->isVisibleTo(&form));
    QCOMPARE(pane->Caption(), U("Объект: Склад 7"));

    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    form.WriteAllAction();
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QCOMPARE(sandbox.messages, QStringList{U("Запись всех параметров завершена!")});
    QCOMPARE(panel.State().Phones[3], std::string("+79035550044"));
    QCOMPARE(panel.State().EntryDelay, 45);

    QTRY_COMPARE(Column(sites.Page()->History(), 0), (QStringList{"3", "2", "1"}));
    QCOMPARE(sites.Page()->History()->topLevelItem(0)->text(TformSites::kKind), U("Запись"));
    QCOMPARE(sites.Page()->History()->topLevelItem(0)->text(TformSites::kOutcome), U("успешно"));
    const auto written = library->Record(U("Склад 7"), 3);
    QVERIFY(written);
    QCOMPARE(written->Kind, TRecordKind::Write);
    QCOMPARE(written->Outcome, QString("success"));
    QCOMPARE(written->Port, QString::fromStdString(panel.SlavePath()));
    QCOMPARE(written->Operator, SystemUser());
    QVERIFY(written->Firmware.contains("VER 05"));
    // The record is a settings file that write takes: what was sent.
    const TSettings sent = RecordSettings(written->Settings);
    QCOMPARE(sent.Groups, TGroups::All());
    QCOMPARE(sent.Phone[3], std::string("+79035550044"));
    QCOMPARE(sent.TimeOut, 45);
  }

  // "Загрузить в страницы" takes a record as Load takes a file: the groups
  // the record holds (a read of one page holds that page's), and of them
  // what it gives; what it lacks stays as it was and is named in a warning.
  // A record without settings changes nothing and is an error.
  void loadRecordTakesOnlyWhatItGives_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("taken");  // the sections that take the record's values
    QTest::addColumn<int>("box");            // a MessageBox::TKind, or -1 for none
    TSettings keys = Recorded();
    keys.Groups = TGroup::Keys;
    QByteArray phones = "[Phones]\r\n";
    for (int n = 1; n <= TSettings::kEntries; ++n)
      phones += "Phone" + QByteArray::number(n) + "=+7900" + QByteArray::number(n) + "\r\n";
    QTest::newRow("keys-page-read") << RecordSettingsText(keys, "/dev/ttyUSB0") << QStringList{"Keys"} << -1;
    QTest::newRow("whole-read") << RecordSettingsText(Recorded(), "/dev/ttyUSB0")
                                << QStringList{"Phones", "Other", "Keys", "GSM"} << -1;
    QTest::newRow("common-with-phones-only") << phones << QStringList{"Phones"} << int(MessageBox::TKind::Warning);
    QTest::newRow("no-settings") << QByteArray("[Connect]\r\nComPort=/dev/ttyUSB0\r\n") << QStringList{}
                                 << int(MessageBox::TKind::Error);
  }
  void loadRecordTakesOnlyWhatItGives() {
    QFETCH(QByteArray, text);
    QFETCH(QStringList, taken);
    QFETCH(int, box);
    AddSite(*library, U("Склад"));
    AddRecordText(*library, U("Склад"), text);
    TForm1 form(nullptr, false);
    TSettings before;
    before.Groups = TGroups::AllWithAdc();
    for (int i = 0; i < TSettings::kEntries; ++i) before.Phone[i] = "+7000" + std::to_string(i + 1);
    for (int i = 0; i < TSettings::kKeys; ++i) before.Key[i] = "00000000000000A" + std::to_string(i);
    before.TimeOut = 200;
    before.Module = 2;
    before.Ring = 5;
    form.ShowSettings(before);
    TSites& sites = *form.Sites();
    sites.OpenLibrary(place);
    QVERIFY(sites.Library()->WaitIdle());
    QTRY_COMPARE(Column(sites.Page()->History(), 0), QStringList{"1"});
    ChooseRecords(sites, {1});
    Click(sites, "btLoadRecord");
    QTRY_VERIFY(!sandbox.kinds.isEmpty() || form.Memo()->toPlainText().contains(U("Загружена в страницы")));

    QStringList wrong;
    for (const TField& f : Fields()) {
      const std::string expected = FieldText(taken.contains(QString::fromStdString(f.Section)) ? Recorded() : before, f);
      if (FieldText(form.Model()->Settings(), f) != expected) wrong << QString::fromStdString(f.Section + " " + f.Key);
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(", ")));
    QCOMPARE(sandbox.kinds.size(), box == -1 ? 0 : 1);
    if (box != -1) QCOMPARE(int(sandbox.kinds.first()), box);
  }

  // Every operation of the window with a current site is recorded with its
  // own kind and outcome, the port and the firmware.
  void everyOperationIsRecorded_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("records");  // "kind outcome", in order
    QTest::newRow("read") << "read" << "" << QStringList{"read success"};
    QTest::newRow("read-refused") << "read" << "+rk" << QStringList{"read the panel refused"};
    QTest::newRow("read-page") << "read-page" << "" << QStringList{"read success"};
    QTest::newRow("write") << "write" << "" << QStringList{"write success"};
    QTest::newRow("write-refused") << "write" << "+wk" << QStringList{"write the panel refused"};
    QTest::newRow("backup-write-verify")
        << "backup-write-verify" << "" << QStringList{"backup success", "write success", "verify success"};
    QTest::newRow("verify-not-kept") << "backup-write-verify" << "+wt04"
                                     << QStringList{"backup success", "write success",
                                                    "verify the panel did not keep: [Phones] Phone4"};
    QTest::newRow("compare") << "compare" << "" << QStringList{"compare 1 settings differ from the pages"};
    QTest::newRow("compare-refused") << "compare" << "+rk" << QStringList{"compare the panel refused"};
  }

  void everyOperationIsRecorded() {
    QFETCH(QString, operation);
    QFETCH(QString, fault);
    QFETCH(QStringList, records);
    AddSite(*library, U("Дом"));
    TPanelSim panel;
    if (fault == "+wt04") panel.AddFault({"+wt04", EFault::Keep, false, 0, ""});
    else if (!fault.isEmpty()) panel.AddFault({fault.toStdString(), EFault::Error, false, 0, ""});
    panel.Start();
    TForm1 form(nullptr, false);
    TSites& sites = *form.Sites();
    sites.OpenLibrary(place);
    QVERIFY(sites.Library()->WaitIdle());
    sites.SetCurrentSite(U("Дом"));
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());

    Phone(form, 4)->setText("+79990000004");
    if (operation == "read") QVERIFY(form.ReadAll());
    if (operation == "read-page") QVERIFY(form.Read());
    if (operation == "write") QVERIFY(form.WriteAll());
    if (operation == "compare") QVERIFY(form.Provision()->Compare());
    if (operation == "backup-write-verify") {
      form.Provision()->SetBackupBeforeWrite(true);
      form.Provision()->SetVerifyAfterWrite(true);
      form.WriteAllAction();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy() && !form.Provision()->IsRunning(), 40000);
    QVERIFY(sites.Library()->WaitIdle());

    QStringList got;
    for (const TRecord& r : library->History(U("Дом"))) {
      got << KindName(r.Kind) + ' ' + r.Outcome;
      QCOMPARE(r.Port, QString::fromStdString(panel.SlavePath()));
      QVERIFY2(r.Firmware.contains("VER 05"), qPrintable(r.Firmware));
    }
    QCOMPARE(got, records);
    // A read records the panel as read: here its fourth phone is empty.
    if (operation == "read" && fault.isEmpty())
      QCOMPARE(RecordSettings(library->Record(U("Дом"), 1)->Settings).Phone[3], std::string());
  }

  // After a whole read with no current site the window offers the sites
  // that share the panel's phone numbers; attaching records the read there
  // and makes the site current. Declining is not asked again on this
  // connection.
  void readOffersTheSitesSharingAPhone() {
    AddSite(*library, U("Дача"));
    AddRecord(*library, U("Дача"), TRecordKind::Read, Settings("+79161112233", 30));
    AddSite(*library, U("Гараж"));
    AddRecord(*library, U("Гараж"), TRecordKind::Read, Settings("+79030000000", 30));
    TPanelSim panel;
    TForm1 form(nullptr, false);
    TSites& sites = *form.Sites();
    ConnectWithLibrary(form, panel, "+79161112233");
    const QString port = QString::fromStdString(panel.SlavePath());

    QVERIFY(form.ReadAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QVERIFY(sites.OfferBar()->isVisibleTo(&form));
    QVERIFY(sites.Library()->WaitIdle());
    sites.OfferBar()->findChild<QPushButton*>("btAttachOffer")->click();
    TdlgAttach* offer = sites.AttachDialog();
    QVERIFY(offer && offer->isVisible());
    // Every site, the one sharing the panel's phone first and marked so.
    QCOMPARE(offer->Shown(), (QStringList{U("Дача"), U("Гараж")}));
    QVERIFY(offer->List()->topLevelItem(0)->data(0, TdlgAttach::kSharingRole).toBool());
    QVERIFY(offer->List()->topLevelItem(0)->font(0).bold());
    QVERIFY(!offer->List()->topLevelItem(1)->data(0, TdlgAttach::kSharingRole).toBool());
    // The search narrows the list by name or address; nothing found is said.
    offer->SearchEdit()->insert(U("ГАР"));
    QCOMPARE(offer->Shown(), QStringList{U("Гараж")});
    QTest::keyClicks(offer->SearchEdit(), "zz");
    QVERIFY(offer->Shown().isEmpty());
    QVERIFY(!offer->findChild<QLabel*>("lbAttachNothing")->isHidden());
    QVERIFY(!offer->AttachButton()->isEnabled());
    offer->SearchEdit()->clear();
    QCOMPARE(offer->List()->currentItem()->data(0, TdlgAttach::kNameRole).toString(), U("Дача"));
    offer->AttachButton()->click();
    QCOMPARE(sites.CurrentSite(), U("Дача"));
    QVERIFY(!sites.OfferBar()->isVisibleTo(&form));
    QVERIFY(sites.Library()->WaitIdle());
    auto history = library->History(U("Дача"));
    QCOMPARE(int(history.size()), 2);
    QCOMPARE(history.back().Kind, TRecordKind::Read);
    QCOMPARE(history.back().Port, port);

    // Declined: the next reads of this connection are not offered.
    sites.SetCurrentSite(QString());
    QVERIFY(form.ReadAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QVERIFY(sites.OfferBar()->isVisibleTo(&form));
    sites.OfferBar()->findChild<QPushButton*>("btDeclineOffer")->click();
    QVERIFY(!sites.OfferBar()->isVisibleTo(&form));
    QVERIFY(form.ReadAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QVERIFY(!sites.OfferBar()->isVisibleTo(&form));
    QVERIFY(sites.Library()->WaitIdle());
    QCOMPARE(int(library->History(U("Дача")).size()), 2);
  }

  // A read whose phones no site shares: "Новый объект…" makes the site from
  // its card, stores the read there and makes it current. A card that is
  // cancelled makes nothing and leaves the offer standing.
  void readAttachedToANewSite() {
    AddSite(*library, U("Гараж"));
    AddRecord(*library, U("Гараж"), TRecordKind::Read, Settings("+79030000000", 30));
    TPanelSim panel;
    TForm1 form(nullptr, false);
    TSites& sites = *form.Sites();
    ConnectWithLibrary(form, panel, "+79165554433");
    // The card's dialog answers as card says; the real one comes back after.
    struct TRestore {
      decltype(TSites::EditCard) saved = TSites::EditCard;
      ~TRestore() { TSites::EditCard = saved; }
    } restore;
    std::optional<TSite> card;
    TSites::EditCard = [&card](const TSite&, const QString&, QWidget*) { return card; };
    auto offerNewSite = [&](const QStringList& listed) {
      QVERIFY(form.ReadAll());
      QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
      QVERIFY(sites.Library()->WaitIdle());
      QVERIFY(sites.OfferBar()->isVisibleTo(&form));
      sites.OfferBar()->findChild<QPushButton*>("btAttachOffer")->click();
      TdlgAttach* offer = sites.AttachDialog();
      QVERIFY(offer && offer->isVisible());
      QCOMPARE(offer->Shown(), listed);
      QVERIFY(offer->AttachButton()->isEnabled());
      offer->NewButton()->click();
      QVERIFY(!offer->isVisible());
    };

    card = TSite();
    card->Name = U("Склад");
    card->Address = U("ул. Полевая, 3");
    offerNewSite({U("Гараж")});
    if (QTest::currentTestFailed()) return;
    QVERIFY(sites.Library()->WaitIdle());
    QCOMPARE(sites.CurrentSite(), U("Склад"));
    QVERIFY(!sites.OfferBar()->isVisibleTo(&form));
    const auto history = library->History(U("Склад"));
    QCOMPARE(int(history.size()), 1);
    QCOMPARE(history.front().Kind, TRecordKind::Read);
    QCOMPARE(RecordSettings(library->Record(U("Склад"), 1)->Settings).Phone[2], std::string("+79165554433"));
    QCOMPARE(int(library->History(U("Гараж")).size()), 1);

    // No current site again (the new site shares the phone now), and the card
    // cancelled: nothing is made, and the offer stands until it is declined.
    sites.SetCurrentSite(QString());
    card.reset();
    offerNewSite({U("Склад"), U("Гараж")});
    if (QTest::currentTestFailed()) return;
    QVERIFY(sites.Library()->WaitIdle());
    QCOMPARE(sites.CurrentSite(), QString());
    QVERIFY(sites.OfferBar()->isVisibleTo(&form));
    sites.OfferBar()->findChild<QPushButton*>("btDeclineOffer")->click();
    QVERIFY(!sites.OfferBar()->isVisibleTo(&form));
    QVERIFY(form.ReadAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QVERIFY(sites.Library()->WaitIdle());
    QVERIFY(!sites.OfferBar()->isVisibleTo(&form));
    QCOMPARE(int(library->History(U("Склад")).size()), 1);
  }

  // "Позвонить": the modem on the port of the port dialog dials the site's
  // number, the site becomes current and its records carry the number.
  void callDialsTheSitesNumber() {
    AddSite(*library, U("Удалённый объект"), QString(), "+79160001122");
    AddSite(*library, U("Без модема"));
    TModemSim modem;
    modem.Start();
    TVirtualClock clock;
    TForm1 form(nullptr, false);
    form.SetLinkClock(&clock);
    clock.SetFarEndOwes([&form, &modem] {
      TModem* link = form.Link();
      if (!link) return false;
      try {
        TXComm& port = link->Port();
        if (!port.IsOpen()) return false;
        if (modem.BytesTaken() < port.SentCount() || modem.OutputQueued()) return true;
        return modem.BytesGiven() > uint64_t{port.ReceivedCount()} + port.QueueCount(0);
      } catch (const std::exception&) {
        return false;
      }
    });
    TSites& sites = *form.Sites();
    sites.OpenLibrary(place);
    QVERIFY(sites.Library()->WaitIdle());
    QTreeWidget* list = sites.Page()->SitesList();
    QCOMPARE(Column(list, 0), (QStringList{U("Без модема"), U("Удалённый объект")}));
    list->setCurrentItem(list->topLevelItem(0));
    QVERIFY(!sites.Page()->Button("btCallSite")->isEnabled());
    list->setCurrentItem(list->topLevelItem(1));
    form.ConnectDialog()->ComPorts()->setEditText(QString::fromStdString(modem.SlavePath()));
    QVERIFY(sites.Library()->WaitIdle());
    Click(sites, "btCallSite");  // returns once the progress dialog has closed
    QVERIFY(form.IsConnected());
    QCOMPARE(sites.CurrentSite(), U("Удалённый объект"));
    const auto said = modem.ModemCommands();
    QVERIFY(std::count(said.begin(), said.end(), "ATD +79160001122") == 1);

    QVERIFY(form.ReadAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QVERIFY(sites.Library()->WaitIdle());
    const auto history = library->History(U("Удалённый объект"));
    QCOMPARE(int(history.size()), 1);
    QCOMPARE(history[0].Port, QString("+79160001122"));
    QCOMPARE(history[0].Outcome, QString("success"));
    gui::NavItem(form, "Отключиться")->Click();
    QVERIFY(!modem.IsCallUp());
  }

  // The window's default library is created when the page is first shown,
  // not at every start.
  void defaultLibraryIsMadeAtFirstUse() {
    const QString file = DataDir() + "library.sqlite";
    TForm1 form;
    QVERIFY(form.Sites()->Library()->WaitIdle());
    QVERIFY(!QFile::exists(file));
    QVERIFY(gui::NavItem(form, "Новый объект")->isEnabled());
    gui::NavItem(form, "Объекты")->Click();
    QVERIFY(form.Sites()->Page()->isVisibleTo(&form));
    QVERIFY(form.Sites()->Library()->WaitIdle());
    QVERIFY(form.Sites()->Library()->IsOpen());
    QVERIFY(QFile::exists(file));
    QCOMPARE(QFile::permissions(file) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
  }

  // A library that cannot be opened is said once; the panel works as
  // before, its records wait in the spool and go in when the library opens.
  void unusableLibraryLeavesTheWindowWorking() {
    TLibraryPlace corrupt;
    corrupt.File = dir->filePath("corrupt.sqlite");
    {
      QFile file(corrupt.File);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(QByteArray(8192, 'x'));
    }
    TPanelSim panel;
    panel.Start();
    TForm1 form(nullptr, false);
    TSites& sites = *form.Sites();
    sites.OpenLibrary(corrupt);
    QVERIFY(sites.Library()->WaitIdle());
    QVERIFY(!sites.Library()->IsOpen());
    QLabel* said = sites.Page()->LibraryLabel();
    QVERIFY(said->isVisibleTo(sites.Page()));
    QVERIFY2(said->text().startsWith(U("Библиотека объектов недоступна: ")), qPrintable(said->text()));
    QCOMPARE(gui::MemoLines(form).filter(U("Библиотека объектов недоступна")).size(), 1);
    QVERIFY(!sites.Page()->Button("btNewSite")->isEnabled());

    sites.SetCurrentSite(U("Склад"));
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.ReadAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QCOMPARE(sandbox.messages, QStringList{U("Чтение всех параметров завершено!")});
    QVERIFY(sites.Library()->WaitIdle());
    QCOMPARE(TRecordSpool(LibrarySpoolDir()).Count(), 1);

    // The file is fixed: the next record opens the library, the waiting one
    // goes in first.
    QVERIFY(QFile::remove(corrupt.File));
    QVERIFY(form.Write());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QVERIFY(sites.Library()->WaitIdle());
    QVERIFY(sites.Library()->IsOpen());
    QVERIFY(!said->isVisibleTo(sites.Page()));
    QCOMPARE(TRecordSpool(LibrarySpoolDir()).Count(), 0);
    TLibrary fixed;
    QVERIFY(fixed.Open(corrupt));
    QStringList kinds;
    for (const TRecord& r : fixed.History(U("Склад"))) kinds << KindName(r.Kind);
    QCOMPARE(kinds, (QStringList{"read", "write"}));
  }

  // A site's card that the library refuses comes back as the user filled it
  // in, with a Russian note saying why; a name held by an archived site
  // offers to restore that site instead.
  void refusedCardKeepsTheForm_data() {
    QTest::addColumn<QString>("editing");     // the site edited, or "" for a new one
    QTest::addColumn<QString>("name");        // the name typed
    QTest::addColumn<bool>("restore");        // the answer to the restore question
    QTest::addColumn<QString>("note");        // a part of the note of the card shown again, or ""
    QTest::addColumn<QStringList>("listed");  // the sites then, archived ones aside
    QTest::newRow("new-name-taken") << "" << U("Склад") << false << U("уже есть")
                                    << QStringList{U("Склад"), U("Офис")};
    QTest::newRow("rename-to-taken") << U("Офис") << U("Склад") << false << U("уже есть")
                                     << QStringList{U("Склад"), U("Офис")};
    QTest::newRow("archived-name-kept") << "" << U("Гараж") << false << U("занято объектом из архива")
                                        << QStringList{U("Склад"), U("Офис")};
    QTest::newRow("archived-name-restored") << "" << U("Гараж") << true << ""
                                            << QStringList{U("Гараж"), U("Склад"), U("Офис")};
    QTest::newRow("rename-to-archived") << U("Офис") << U("Гараж") << true << U("занято объектом из архива")
                                        << QStringList{U("Склад"), U("Офис")};
    // The database refuses every new site (a trigger stands in for a failing server).
    QTest::newRow("database-refuses") << "" << U("Новый") << false << U("не сохранила")
                                      << QStringList{U("Склад"), U("Офис")};
  }
  void refusedCardKeepsTheForm() {
    QFETCH(QString, editing);
    QFETCH(QString, name);
    QFETCH(bool, restore);
    QFETCH(QString, note);
    QFETCH(QStringList, listed);
    AddSite(*library, U("Склад"));
    AddSite(*library, U("Офис"), U("пр. Мира, 1"));
    AddSite(*library, U("Гараж"), U("старый адрес"));
    QVERIFY(library->ArchiveSite(U("Гараж")));
    if (QByteArray(QTest::currentDataTag()) == "database-refuses") {
      QSqlQuery trap(library->Database());
      QVERIFY(trap.exec("CREATE TRIGGER refuse_sites BEFORE INSERT ON sites BEGIN SELECT RAISE(ABORT, 'disk I/O "
                        "error'); END"));
    }
    TForm1 form(nullptr, false);
    TSites& sites = *form.Sites();
    sites.OpenLibrary(place);
    QVERIFY(sites.Library()->WaitIdle());

    struct TRestore {
      decltype(TSites::EditCard) card = TSites::EditCard;
      decltype(TSites::Confirm) confirm = TSites::Confirm;
      ~TRestore() {
        TSites::EditCard = card;
        TSites::Confirm = confirm;
      }
    } hooks;
    // The first card is filled in; the one shown again is cancelled.
    QList<std::pair<TSite, QString>> cards;
    TSites::EditCard = [&](const TSite& start, const QString& shownNote, QWidget*) -> std::optional<TSite> {
      cards.append({start, shownNote});
      if (cards.size() > 1) return std::nullopt;
      TSite filled = start;
      filled.Name = name;
      filled.Address = U("ул. Новая, 5");
      filled.DataNumber = "+79160000001";
      return filled;
    };
    QStringList questions;
    TSites::Confirm = [&](const QString& question, QWidget*) {
      questions << question;
      return restore;
    };
    if (editing.isEmpty()) {
      sites.NewSite();
    } else {
      QTreeWidget* list = sites.Page()->SitesList();
      for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == editing) list->setCurrentItem(list->topLevelItem(i));
      QVERIFY(sites.Library()->WaitIdle());
      Click(sites, "btEditSite");
    }
    QVERIFY(sites.Library()->WaitIdle());
    QCOMPARE(questions.size(), name == U("Гараж") && editing.isEmpty() ? 1 : 0);
    if (note.isEmpty()) {
      QCOMPARE(cards.size(), 1);
    } else {
      QCOMPARE(cards.size(), 2);
      const TSite& again = cards[1].first;
      QCOMPARE(again.Name, name);
      QCOMPARE(again.Address, U("ул. Новая, 5"));
      QCOMPARE(again.DataNumber, QString("+79160000001"));
      QVERIFY2(cards[1].second.contains(note), qPrintable(cards[1].second));
      // Said in Russian: the library's own words do not reach the card.
      QVERIFY2(!cards[1].second.contains(QRegularExpression("[A-Za-z]")), qPrintable(cards[1].second));
    }
    QVERIFY(sandbox.messages.isEmpty());
    // The database's own words are kept for whoever looks into it.
    if (QByteArray(QTest::currentDataTag()) == "database-refuses")
      QCOMPARE(gui::MemoLines(form).filter("disk I/O error").size(), 1);
    QStringList names;
    for (const TSite& site : library->Search(QString(), 50)) names << site.Name;
    QCOMPARE(QSet<QString>(names.begin(), names.end()), QSet<QString>(listed.begin(), listed.end()));
    // Nothing was changed behind the user's back: the sites keep their addresses.
    QCOMPARE(library->FindSite(U("Офис"))->Address, U("пр. Мира, 1"));
    QCOMPARE(library->FindSite(U("Гараж"))->Address, U("старый адрес"));
  }

  // Archived sites are listed on request, marked, and can be restored;
  // the current site leaves when it goes to the archive.
  void archivedSitesShownAndRestored() {
    AddSite(*library, U("Склад"));
    AddSite(*library, U("Гараж"));
    TForm1 form(nullptr, false);
    TSites& sites = *form.Sites();
    sites.OpenLibrary(place);
    QVERIFY(sites.Library()->WaitIdle());
    struct TRestore {
      decltype(TSites::Confirm) saved = TSites::Confirm;
      ~TRestore() { TSites::Confirm = saved; }
    } restore;
    TSites::Confirm = [](const QString&, QWidget*) { return true; };
    QTreeWidget* list = sites.Page()->SitesList();
    QCOMPARE(Column(list, 0), (QStringList{U("Гараж"), U("Склад")}));
    QVERIFY(sites.Page()->Button("btRestoreSite")->isHidden());
    sites.SetCurrentSite(U("Гараж"));
    list->setCurrentItem(list->topLevelItem(0));
    Click(sites, "btArchiveSite");
    QVERIFY(sites.Library()->WaitIdle());
    QCOMPARE(Column(list, 0), QStringList{U("Склад")});
    QCOMPARE(sites.CurrentSite(), QString());

    sites.Page()->ShowArchived()->setChecked(true);
    QVERIFY(sites.Library()->WaitIdle());
    QCOMPARE(Column(list, 0), (QStringList{U("Гараж"), U("Склад")}));
    const auto mark = [&](int row) { return TformSites::TMark(list->topLevelItem(row)->data(0, TformSites::kMarkRole).toInt()); };
    QCOMPARE(mark(0), TformSites::TMark::Archived);
    QCOMPARE(mark(1), TformSites::TMark::None);
    QVERIFY(list->topLevelItem(0)->font(0).italic());
    QVERIFY(list->topLevelItem(0)->toolTip(0).contains(U("в архиве")));
    // An archived site is restored, not edited, archived or made current.
    list->setCurrentItem(list->topLevelItem(0));
    QVERIFY(sites.Library()->WaitIdle());
    for (const char* button : {"btEditSite", "btArchiveSite", "btCurrentSite"})
      QVERIFY2(!sites.Page()->Button(button)->isEnabled(), button);
    QVERIFY(!sites.Page()->Button("btRestoreSite")->isHidden());
    Click(sites, "btRestoreSite");
    QVERIFY(sites.Library()->WaitIdle());
    QVERIFY(!library->FindSite(U("Гараж"))->Archived);
    QCOMPARE(mark(0), TformSites::TMark::None);
    QVERIFY(sites.Page()->Button("btEditSite")->isEnabled());
    sites.Page()->ShowArchived()->setChecked(false);
    QVERIFY(sites.Library()->WaitIdle());
    QCOMPARE(Column(list, 0), QStringList{U("Гараж")});  // the search holds its name
  }

  // The history's columns: firmware, port or number, and how many settings
  // each record changed against the previous one with settings (over the
  // groups both hold); every column sorts.
  void historyShowsWhatChanged() {
    AddSite(*library, U("Склад"), U("ул. Лесная, 3"));
    const auto add = [&](const TSettings& settings, const char* firmware, const char* port) {
      TRecord r;
      r.Operator = "anna";
      r.Kind = TRecordKind::Read;
      r.Outcome = "success";
      r.Firmware = firmware;
      r.Port = port;
      r.Settings = RecordSettingsText(settings, r.Port);
      QVERIFY(library->AddRecord(U("Склад"), &r));
    };
    TSettings first = Settings("+79161112233", 30);
    TSettings second = Settings("+79161112299", 31, "+79035550044");  // three settings differ
    TSettings page = second;                                          // one page's read
    page.Groups = TGroup::Common;
    page.TimeOut = 40;
    add(first, "VER 05", "/dev/ttyUSB0");
    add(second, "VER 05", "/dev/ttyUSB1");
    add(TSettings(), "VER 06", "+79160001122");  // a failed operation holds no settings
    add(page, "VER 06", "+79160001122");
    second.Key[0] = "0123456789ABCDEF";
    add(second, "VER 06", "/dev/ttyUSB0");  // against the page's read only its settings count: the delay

    TForm1 form(nullptr, false);
    TSites& sites = *form.Sites();
    sites.OpenLibrary(place);
    QVERIFY(sites.Library()->WaitIdle());
    QTreeWidget* history = sites.Page()->History();
    QTRY_COMPARE(Column(history, TformSites::kNumber), (QStringList{"5", "4", "3", "2", "1"}));
    QCOMPARE(Column(history, TformSites::kChanged), (QStringList{"1", "1", U("—"), "3", U("—")}));
    QCOMPARE(Column(history, TformSites::kFirmware),
             (QStringList{"VER 06", "VER 06", "VER 06", "VER 05", "VER 05"}));
    QCOMPARE(Column(history, TformSites::kPort), (QStringList{"/dev/ttyUSB0", "+79160001122", "+79160001122",
                                                              "/dev/ttyUSB1", "/dev/ttyUSB0"}));
    QVERIFY2(history->topLevelItem(3)->toolTip(TformSites::kChanged).contains("[Phones] Phone3"),
             qPrintable(history->topLevelItem(3)->toolTip(TformSites::kChanged)));
    // Sorted by a header: numbers as numbers, the dashes before the counts.
    history->sortByColumn(TformSites::kChanged, Qt::AscendingOrder);
    QCOMPARE(Column(history, TformSites::kChanged), (QStringList{U("—"), U("—"), "1", "1", "3"}));
    history->sortByColumn(TformSites::kNumber, Qt::AscendingOrder);
    QCOMPARE(Column(history, TformSites::kNumber), (QStringList{"1", "2", "3", "4", "5"}));

    // The sites sort by either column; a long name is elided in the
    // middle, whole in its tooltip, and leaves the address in view.
    const QString longName = QString(U("Очень длинное название объекта ")).repeated(6) + U("конец");
    AddSite(*library, longName, U("адрес А"));
    form.resize(1000, 700);
    form.ShowPage(sites.Page());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    sites.Page()->Search()->setText(U("а"));
    QVERIFY(sites.Library()->WaitIdle());
    QTRY_COMPARE(Column(sites.Page()->SitesList(), 0).size(), 2);
    QTreeWidget* list = sites.Page()->SitesList();
    list->sortByColumn(1, Qt::AscendingOrder);
    QCOMPARE(Column(list, 1), (QStringList{U("адрес А"), U("ул. Лесная, 3")}));
    list->sortByColumn(0, Qt::DescendingOrder);
    QCOMPARE(Column(list, 0), (QStringList{U("Склад"), longName}));
    QCOMPARE(list->textElideMode(), Qt::ElideMiddle);
    QVERIFY(list->columnWidth(0) < list->viewport()->width() * 2 / 3);
    QVERIFY(list->topLevelItem(1)->toolTip(0).startsWith(longName));
  }

  // The current site is marked in the list and comes back at the next
  // start, unless the library no longer lists it.
  void currentSiteMarkedAndRestored_data() {
    QTest::addColumn<QString>("then");  // what happens to the site between the two runs
    QTest::addColumn<bool>("restored");
    QTest::newRow("kept") << "" << true;
    QTest::newRow("archived") << "archive" << false;
    QTest::newRow("renamed") << "rename" << false;
  }
  void currentSiteMarkedAndRestored() {
    QFETCH(QString, then);
    QFETCH(bool, restored);
    AddSite(*library, U("Склад"));
    AddSite(*library, U("Дача"));
    qputenv("OSTREL_LIBRARY", place.File.toUtf8());
    struct TUnset {
      ~TUnset() { qunsetenv("OSTREL_LIBRARY"); }
    } unset;
    {
      TForm1 form;
      TSites& sites = *form.Sites();
      QVERIFY(sites.Library()->WaitIdle());
      QTreeWidget* list = sites.Page()->SitesList();
      QCOMPARE(Column(list, 0), (QStringList{U("Дача"), U("Склад")}));
      list->setCurrentItem(list->topLevelItem(1));
      Click(sites, "btCurrentSite");
      const auto mark = [&](int row) {
        return TformSites::TMark(list->topLevelItem(row)->data(0, TformSites::kMarkRole).toInt());
      };
      QCOMPARE(mark(1), TformSites::TMark::Current);
      QCOMPARE(mark(0), TformSites::TMark::None);
      QVERIFY(list->topLevelItem(1)->font(0).bold());
      QVERIFY(list->topLevelItem(1)->toolTip(0).contains(U("текущий объект")));
      // The mark follows the current site.
      sites.SetCurrentSite(U("Дача"));
      QCOMPARE(mark(0), TformSites::TMark::Current);
      QCOMPARE(mark(1), TformSites::TMark::None);
      QVERIFY(!list->topLevelItem(1)->font(0).bold());
      sites.SetCurrentSite(U("Склад"));
    }
    if (then == "archive") QVERIFY(library->ArchiveSite(U("Склад")));
    if (then == "rename") {
      TSite renamed = *library->FindSite(U("Склад"));
      renamed.Name = U("Склад 2");
      QVERIFY(library->UpdateSite(U("Склад"), renamed));
    }
    TForm1 form;
    TSites& sites = *form.Sites();
    QVERIFY(sites.Library()->WaitIdle());
    QCOMPARE(sites.CurrentSite(), restored ? U("Склад") : QString());
    auto* pane = form.findChild<TRzStatusPane*>("pSite");
    QCOMPARE(pane->isVisibleTo(&form), restored);
    if (restored) {
      QTreeWidget* list = sites.Page()->SitesList();
      QCOMPARE(TformSites::TMark(list->topLevelItem(1)->data(0, TformSites::kMarkRole).toInt()),
               TformSites::TMark::Current);
    }
  }

  // A record saved as a settings file: the text "show --record" gives, named
  // after the site and the record's date, offered in the documents folder
  // at first and in the folder last used after; a record without settings
  // is not saved.
  void recordSavedAsAFile() {
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", home.path().toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
    struct TRestore {
      QByteArray home, config;
      ~TRestore() {
        qputenv("HOME", home);
        if (config.isEmpty()) qunsetenv("XDG_CONFIG_HOME");
        else qputenv("XDG_CONFIG_HOME", config);
        SettingsDialogs::Hook = nullptr;
      }
    } restore{oldHome, oldConfig};
    QVERIFY(QDir().mkpath(home.filePath("Documents")));
    AddSite(*library, U("Склад/7"));
    TSettings whole = Settings("+79161112233", 30);
    whole.Key[2] = "00000000DEADBEEF";
    AddRecord(*library, U("Склад/7"), TRecordKind::Read, whole);
    AddRecordText(*library, U("Склад/7"), RecordSettingsText(TSettings(), "/dev/ttyUSB0"));  // a failed read
    const auto first = library->Record(U("Склад/7"), 1);
    const QString date = first->Time.toLocalTime().toString("yyyy-MM-dd");

    TForm1 form(nullptr, false);
    TSites& sites = *form.Sites();
    sites.OpenLibrary(place);
    QVERIFY(sites.Library()->WaitIdle());
    QStringList offered;
    QString answer;
    SettingsDialogs::Hook = [&](SettingsDialogs::TKind kind, const QString& dir) {
      offered << (kind == SettingsDialogs::TKind::Save ? "save " : "load ") + dir;
      return answer;
    };
    ChooseRecords(sites, {1});
    answer = dir->filePath("saved/visit.ini");
    QVERIFY(QDir().mkpath(dir->filePath("saved")));
    Click(sites, "btSaveRecord");
    QVERIFY(sites.Library()->WaitIdle());
    QCOMPARE(offered, QStringList{"save " + home.filePath("Documents") + U("/Склад_7 ") + date + ".ini"});
    QFile saved(answer);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), CanonicalRecordText(first->Settings));
    // The file loads as the record holds it.
    TSettings loaded;
    QVERIFY(!ReadSettingsForWrite(answer, TGroups::All(), &loaded));
    QCOMPARE(loaded.Key[2], std::string("00000000DEADBEEF"));
    QVERIFY(gui::MemoLines(form).filter(U("сохранена в файл")).size() == 1);

    // Next time: the folder last used.
    offered.clear();
    answer.clear();  // cancelled
    Click(sites, "btSaveRecord");
    QVERIFY(sites.Library()->WaitIdle());
    QCOMPARE(offered, QStringList{"save " + dir->filePath("saved/") + U("Склад_7 ") + date + ".ini"});

    // A record that holds no settings: said, no dialog.
    offered.clear();
    ChooseRecords(sites, {2});
    Click(sites, "btSaveRecord");
    QVERIFY(sites.Library()->WaitIdle());
    QVERIFY(offered.isEmpty());
    QCOMPARE(sandbox.kinds, QList<MessageBox::TKind>{MessageBox::TKind::Warning});
  }

  void recordFileName_data() {
    QTest::addColumn<QString>("site");
    QTest::addColumn<QString>("expected");  // "" for a long name: only the byte limit is checked
    QTest::newRow("plain") << U("Склад 7") << U("Склад 7 2026-12-11.ini");
    QTest::newRow("slashes") << U("A/B\\C") << U("A_B_C 2026-12-11.ini");
    QTest::newRow("dot-first") << U(".hidden") << U("_hidden 2026-12-11.ini");
    QTest::newRow("150-cyrillic") << QString(150, QChar(0x0416)) << "";
    QTest::newRow("surrogates") << QString::fromUcs4(std::u32string(80, U'\U0001F600').c_str()) << "";
  }
  void recordFileName() {
    QFETCH(QString, site);
    QFETCH(QString, expected);
    const QDateTime noon(QDate(2026, 12, 11), QTime(12, 0));
    const QString name = RecordFileName(site, noon.toUTC());
    if (!expected.isEmpty()) QCOMPARE(name, expected);
    QVERIFY(name.toUtf8().size() <= 255);
    QVERIFY(name.endsWith(U(" 2026-12-11.ini")));
    QVERIFY(name.size() > 15);
    QVERIFY(!name.contains('/'));
    QCOMPARE(QString::fromUtf8(name.toUtf8()), name);  // no half character
  }

  // Pictures of the page and of the offer as the screen shows them, for a
  // person to look at: run under Xvfb with OSTREL_SHOTS=PREFIX (the window
  // fills the screen; PREFIX-page.png and PREFIX-attach.png are written).
  void screenshots() {
    const QString prefix = qEnvironmentVariable("OSTREL_SHOTS");
    if (prefix.isEmpty() || QGuiApplication::platformName() != "xcb") QSKIP("OSTREL_SHOTS under Xvfb only");
    const char* names[] = {"Склад 7", "Офис на Мира", "Дача Ивановых",
                           "ТЦ «Европейский», корпус 2, секция 14, помещение охраны на минус первом этаже у парковки",
                           "Гараж"};
    const char* addresses[] = {"ул. Лесная, 3", "пр. Мира, 1", "СНТ «Рассвет», уч. 41", "пл. Киевского Вокзала, 2",
                               "ул. Полевая, 9"};
    for (int i = 0; i < 5; ++i) AddSite(*library, U(names[i]), U(addresses[i]), i == 2 ? "+79160001122" : "");
    QVERIFY(library->ArchiveSite(U("Гараж")));
    TSettings s = Settings("+79161112233", 30);
    AddRecord(*library, U(names[3]), TRecordKind::Read, s);
    s.TimeOut = 45;
    s.Phone[3] = "+79035550044";
    AddRecord(*library, U(names[3]), TRecordKind::Write, s);
    AddRecord(*library, U(names[3]), TRecordKind::Verify, s);
    AddRecord(*library, U("Склад 7"), TRecordKind::Read, Settings("+79165554433", 10));
    TPanelSim panel;
    TForm1 form(nullptr, false);
    TSites& sites = *form.Sites();
    ConnectWithLibrary(form, panel, "+79165554433");
    const QSize screen = QGuiApplication::primaryScreen()->size();
    form.setGeometry(0, 0, screen.width(), screen.height());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.ShowPage(sites.Page());
    sites.Page()->ShowArchived()->setChecked(true);
    QVERIFY(sites.Library()->WaitIdle());
    QTreeWidget* list = sites.Page()->SitesList();
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      if (list->topLevelItem(i)->text(0) == U(names[3])) list->setCurrentItem(list->topLevelItem(i));
    QVERIFY(sites.Library()->WaitIdle());
    sites.SetCurrentSite(U("Склад 7"));
    list->setFocus();
    QTest::qWait(300);
    QCOMPARE(QProcess::execute("import", {"-window", "root", prefix + "-page.png"}), 0);

    sites.SetCurrentSite(QString());
    QVERIFY(form.ReadAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QVERIFY(sites.Library()->WaitIdle());
    sites.OfferBar()->findChild<QPushButton*>("btAttachOffer")->click();
    QVERIFY(sites.AttachDialog());
    QVERIFY(QTest::qWaitForWindowExposed(sites.AttachDialog()));
    sites.AttachDialog()->move(form.geometry().center() - sites.AttachDialog()->rect().center());
    QTest::qWait(300);
    QCOMPARE(QProcess::execute("import", {"-window", "root", prefix + "-attach.png"}), 0);
  }

 private:
  // The panel started with phone 3 given, and the window connected to it
  // with the test's library open and no current site.
  void ConnectWithLibrary(TForm1& form, TPanelSim& panel, const char* phone3) {
    TPanelState state;
    state.Phones[2] = phone3;
    panel.SetState(state);
    panel.Start();
    form.Sites()->OpenLibrary(place);
    QVERIFY(form.Sites()->Library()->WaitIdle());
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
  }

  gui::TSandbox sandbox;
  std::unique_ptr<QTemporaryDir> dir;
  TLibraryPlace place;
  std::unique_ptr<TLibrary> library;
};

QTEST_MAIN(TestSites)
#include "tst_sites.moc"
