// The window's "Объекты" group against the panel and modem simulators, with a
// SQLite site library in the test's own directory: finding a site, comparing
// and loading its records, recording every operation, the offer to attach a
// read, "Позвонить", and a library that cannot be opened.
#include "tests/ui/SitesFixture.h"

using namespace sitetest;

class TestSites : public QObject, sitetest::TSitesFixture {
  Q_OBJECT

 private slots:
  void init() { Enter(); }
  void cleanup() { Leave(); }

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
    old.Outcome = TRecordOutcome::Success;
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
      shown << cell(0) + " / " + cell(1) + ": " + cell(2) + " / " + cell(3);
    }
    for (const SettingNames::TRow& r : SettingNames::Rows(expected))
      listed << r.Page + " / " + r.Name + ": " + r.Left + " / " + r.Right;
    QCOMPARE(shown, listed);
    // The keys and the GSM page, which only the whole record holds, are
    // there; a loop's normal state and the module are one row each.
    QVERIFY2(listed.contains(U("Ключи / Ключ 1: — / 0123456789ABCDEF")), qPrintable(listed.join('\n')));
    QVERIFY(listed.contains(U("Общие / Задержка на вход: 30 / 45")));
    QCOMPARE(listed.filter(U("Шлейф 3: нормальное состояние")).size(), 1);
    QVERIFY(listed.filter(U("Шлейф 3: нормальное состояние")).first().endsWith(U("/ Размыкание")));
    QCOMPARE(listed.filter(U("GSM модуль")), QStringList{U("GSM / Подключённый GSM модуль: — / Модем")});
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
    QCOMPARE(Row(table, 0), (QStringList{U("Общие"), U("Восстановление питания: телефон"), U("(пусто)"), "+79035550044"}));
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
    QCOMPARE(written->Outcome, TRecordOutcome::Success);
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
    QTest::newRow("read-refused") << "read" << "+rk" << QStringList{"read refused"};
    QTest::newRow("read-page") << "read-page" << "" << QStringList{"read success"};
    QTest::newRow("write") << "write" << "" << QStringList{"write success"};
    QTest::newRow("write-refused") << "write" << "+wk" << QStringList{"write refused"};
    QTest::newRow("backup-write-verify")
        << "backup-write-verify" << "" << QStringList{"backup success", "write success", "verify success"};
    QTest::newRow("verify-not-kept") << "backup-write-verify" << "+wt04"
                                     << QStringList{"backup success", "write success",
                                                    "verify not-kept: [Phones] Phone4"};
    QTest::newRow("compare") << "compare" << "" << QStringList{"compare different: 1 settings differ from the pages"};
    QTest::newRow("compare-refused") << "compare" << "+rk" << QStringList{"compare refused"};
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
      got << KindName(r.Kind) + " " + OutcomeCode(r.Outcome) + (r.Detail.isEmpty() ? QString() : ": " + r.Detail);
      QCOMPARE(r.Port, QString::fromStdString(panel.SlavePath()));
      QVERIFY2(r.Firmware.contains("VER 05"), qPrintable(r.Firmware));
    }
    QCOMPARE(got, records);
    // A read records the panel as read: here its fourth phone is empty.
    if (operation == "read" && fault.isEmpty())
      QCOMPARE(RecordSettings(library->Record(U("Дом"), 1)->Settings).Phone[3], std::string());
  }

  // An operation cut short leaves its record too: the window closed or
  // disconnected while the panel keeps it waiting, or the line dropped.
  void everyOperationCutShortIsRecorded_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("cut");      // close, disconnect, or line (the panel drops it)
    QTest::addColumn<QString>("command");  // where the panel stops answering, or drops the line
    QTest::addColumn<QStringList>("records");
    QTest::newRow("read-closed") << "read" << "close" << "+rk3" << QStringList{"read interrupted"};
    QTest::newRow("read-disconnected") << "read" << "disconnect" << "+rk3" << QStringList{"read interrupted"};
    QTest::newRow("read-line-dropped") << "read" << "line" << "+rk3" << QStringList{"read link-lost"};
    QTest::newRow("read-page-closed") << "read-page" << "close" << "+rt01" << QStringList{"read interrupted"};
    QTest::newRow("write-closed") << "write" << "close" << "+wk3" << QStringList{"write interrupted"};
    QTest::newRow("write-disconnected") << "write" << "disconnect" << "+wk3" << QStringList{"write interrupted"};
    QTest::newRow("backup-closed") << "backup-write-verify" << "close" << "+rk3" << QStringList{"backup interrupted"};
    QTest::newRow("verify-disconnected") << "write-verify" << "disconnect" << "+rk3"
                                         << QStringList{"write success", "verify interrupted"};
    QTest::newRow("verify-closed") << "write-verify" << "close" << "+rk3"
                                   << QStringList{"write success", "verify interrupted"};
    QTest::newRow("compare-closed") << "compare" << "close" << "+rk3" << QStringList{"compare interrupted"};
    QTest::newRow("compare-line-dropped") << "compare" << "line" << "+rk3" << QStringList{"compare link-lost"};
  }

  void everyOperationCutShortIsRecorded() {
    QFETCH(QString, operation);
    QFETCH(QString, cut);
    QFETCH(QString, command);
    QFETCH(QStringList, records);
    AddSite(*library, U("Дом"));
    TPanelSim panel;
    panel.AddFault({command.toStdString(), cut == "line" ? EFault::CloseLine : EFault::Silence, false, 0, ""});
    std::atomic<bool> reached{false};
    panel.SetCommandHandler([&](const std::string& sent) {
      if (sent.rfind(command.toStdString(), 0) == 0) reached = true;
    });
    panel.Start();
    TForm1 form(nullptr, false);
    TSites& sites = *form.Sites();
    sites.OpenLibrary(place);
    QVERIFY(sites.Library()->WaitIdle());
    sites.SetCurrentSite(U("Дом"));
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());

    if (operation == "read") QVERIFY(form.ReadAll());
    if (operation == "read-page") QVERIFY(form.Read());
    if (operation == "write") QVERIFY(form.WriteAll());
    if (operation == "compare") QVERIFY(form.Provision()->Compare());
    if (operation == "backup-write-verify" || operation == "write-verify") {
      form.Provision()->SetBackupBeforeWrite(operation == "backup-write-verify");
      form.Provision()->SetVerifyAfterWrite(true);
      form.WriteAllAction();
    }
    QTRY_VERIFY_WITH_TIMEOUT(reached.load(), 40000);
    if (cut == "close") QVERIFY(form.close());
    if (cut == "disconnect") form.Disconnect();
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy() && !form.Provision()->IsRunning(), 40000);
    QVERIFY(sites.Library()->WaitIdle());

    QStringList got;
    for (const TRecord& r : library->History(U("Дом"))) got << KindName(r.Kind) + " " + OutcomeCode(r.Outcome);
    QCOMPARE(got, records);
    // No box asks anything of a window that is closing.
    if (cut == "close") QCOMPARE(sandbox.messages, QStringList());
    // The history says each outcome in Russian, newest first.
    const QMap<QString, QString> russian{{"success", U("успешно")},
                                         {"interrupted", U("прервано")},
                                         {"link-lost", U("связь с панелью потеряна")}};
    QStringList shown;
    for (auto r = records.crbegin(); r != records.crend(); ++r) shown << russian.value(r->section(' ', 1));
    form.ShowPage(sites.Page());
    sites.Page()->Search()->setText(U("Дом"));
    QTRY_COMPARE(Column(sites.Page()->History(), TformSites::kOutcome), shown);
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
    QCOMPARE(history[0].Outcome, TRecordOutcome::Success);
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

  // The window's close never waits long for the library: with its file
  // locked by another program, the close ends while the lock is still held,
  // the records not stored are in the spool, and the thread left behind
  // stores none of them afterwards.
  void closeSpoolsWhatALockedLibraryCannotTake() {
    const TRecordSpool spool = LibrarySpool();
    {
      TSiteLibrary window(spool);
      window.SetCloseBudget(std::chrono::milliseconds(200));
      window.Open(place);
      QVERIFY(window.WaitIdle());
      QVERIFY(window.IsOpen());
      QSqlQuery lock(library->Database());
      QVERIFY(lock.exec("BEGIN IMMEDIATE"));
      for (const char* phone : {"+79160000001", "+79160000002"}) {
        TRecord r;
        r.Operator = "anna";
        r.Kind = TRecordKind::Write;
        r.Outcome = TRecordOutcome::Success;
        window.Store(U("Склад"), r, Settings(phone, 10));
      }
    }
    // Closed while the lock is held: nothing can have been stored.
    QCOMPARE(spool.Count(), 2);
    QSqlQuery(library->Database()).exec("ROLLBACK");
    QTRY_VERIFY_WITH_TIMEOUT(!LibraryThreadsLeft(), 30000);
    QVERIFY(library->History(U("Склад")).empty());
    QString error;
    QCOMPARE(TRecordSpool(spool).Sync(*library, &error), 2);
    const std::vector<TRecord> history = library->History(U("Склад"), true);
    QCOMPARE(int(history.size()), 2);
    QVERIFY(history[1].Settings.contains("+79160000002"));
  }
};

QTEST_MAIN(TestSites)
#include "tst_sites.moc"
