// The "Объекты" page as an installer works with it: the site cards that the
// library refuses, archived sites, the history's columns and sorting, the
// current site kept across a restart, records saved as files, and pictures
// of the page, the attach offer and a refused card under Xvfb.
#include "tests/ui/SitesFixture.h"
#include "ui/SettingNames.h"

using namespace sitetest;

class TestSitesPage : public QObject, sitetest::TSitesFixture {
  Q_OBJECT

 private slots:
  void init() { Enter(); }
  void cleanup() { Leave(); }

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
      r.Outcome = TRecordOutcome::Success;
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
    // The tooltip names the settings as their pages label them.
    const QString tip = history->topLevelItem(3)->toolTip(TformSites::kChanged);
    QVERIFY2(tip.contains(U("Общие → ") + SettingNames::Label(*FindField("Phones", "Phone3"))), qPrintable(tip));
    QVERIFY2(!tip.contains("[Phones]") && !tip.contains("Phone3"), qPrintable(tip));
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
  // fills the screen; PREFIX-page.png, PREFIX-attach.png and PREFIX-card.png
  // are written).
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
    sites.AttachDialog()->hide();

    // A card shown again: the name is held by an archived site.
    TdlgSite card(&form);
    TSite filled;
    filled.Name = U("Гараж");
    filled.Address = U("ул. Полевая, 11");
    filled.DataNumber = "+79160000001";
    card.SetSite(filled);
    card.SetNote(U("Название «Гараж» занято объектом из архива: восстановите его (включите «Показать архивные») "
                   "или дайте другое название."));
    card.setWindowTitle(U("Новый объект"));
    card.show();
    QVERIFY(QTest::qWaitForWindowExposed(&card));
    card.move(form.geometry().center() - card.rect().center());
    QTest::qWait(300);
    QCOMPARE(QProcess::execute("import", {"-window", "root", prefix + "-card.png"}), 0);
  }
};

QTEST_MAIN(TestSitesPage)
#include "tst_sites_page.moc"
