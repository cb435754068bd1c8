// Changes not yet written in the main window: their marks, the question
// before every action that replaces the pages (each answer), the undo of a
// load, compare with a file or a record that leaves the pages alone, the
// settings named as the pages label them, and the normal-state rule shown.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "library/LibraryUse.h"
#include "persist/SettingsCodec.h"
#include "persist/SettingsDialogs.h"
#include "tests/ui/GuiFixture.h"
#include "tools/PanelSim.h"
#include "ui/CompareDlg.h"
#include "ui/Marks.h"
#include "ui/Provision.h"
#include "ui/RecentFiles.h"
#include "ui/SettingNames.h"
#include "ui/SiteLibrary.h"
#include "ui/Sites.h"
#include "ui/Unsaved.h"

using ostrel::sim::TPanelSim;
using ostrel::sim::TPanelState;

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

QLineEdit* Phone(TForm1& form, int n) { return form.CommonPage()->findChild<QLineEdit*>(QString("etPhone%1").arg(n)); }

const char* const kPanelPhone3 = "+79161112233";
const char* const kPanelPhone4 = "+79161112244";
const char* const kEdited = "+79030000003";
const char* const kFilePhone4 = "+79995554444";
// A file or record that gives one setting: the rest of the page stays.
const QByteArray kPhone4Only = QByteArray("[Phones]\r\nPhone4=") + kFilePhone4 + "\r\n";

TPanelState Configured() {
  TPanelState state;
  state.Phones[2] = kPanelPhone3;
  state.Phones[3] = kPanelPhone4;
  return state;
}

bool WriteFile(const QString& name, const QByteArray& text) {
  QFile f(name);
  return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

QStringList Row(QTableWidget* table, int row) {
  QStringList cells;
  for (int column = 0; column < table->columnCount(); ++column) cells << table->item(row, column)->text();
  return cells;
}

QStringList Rows(QTableWidget* table) {
  QStringList rows;
  for (int row = 0; row < table->rowCount(); ++row) rows << Row(table, row).join(" | ");
  return rows;
}

}  // namespace

class TestUnsaved : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    sandbox.Enter();
    dir = std::make_unique<QTemporaryDir>();
    questions.clear();
    buttons.clear();
  }
  void cleanup() {
    MessageBox::ChooseHook = nullptr;
    SettingsDialogs::Hook = nullptr;
    dir.reset();
    sandbox.Leave();
  }

  // An edit marks its control, its page's item and the caption; putting the
  // value back, or saving, takes every mark away.
  void changesAreMarked() {
    TForm1 form(nullptr, false);
    const QString caption = form.windowTitle();
    TRzGroupItem* common = gui::NavItem(form, "Общие");
    TRzGroupItem* keys = gui::NavItem(form, "Ключи");
    QVERIFY(!form.Unsaved()->HasChanges());

    Phone(form, 3)->setText(kEdited);
    QVERIFY(Marks::Has(Phone(form, 3), TMark::Unsaved));
    QVERIFY(!Marks::Has(Phone(form, 4), TMark::Unsaved));
    QVERIFY(common->IsChanged() && !keys->IsChanged());
    QCOMPARE(form.windowTitle(), "* " + caption);

    form.Model()->SetField(*FindField("Keys", "Key2"), "ABCD");
    QVERIFY(keys->IsChanged());
    QTreeWidget* list = form.KeysPage()->List();
    QCOMPARE(list->topLevelItem(2)->background(1).color(), QColor(Marks::kUnsavedRgb));
    QCOMPARE(list->topLevelItem(1)->background(1).style(), Qt::NoBrush);

    // The value the page started with is no change.
    Phone(form, 3)->clear();
    QVERIFY(!Marks::Has(Phone(form, 3), TMark::Unsaved));
    QVERIFY(!common->IsChanged());

    const QString file = dir->filePath("saved.ini");
    SettingsDialogs::Hook = [&](SettingsDialogs::TKind, const QString&) { return file; };
    form.SaveAction();
    QVERIFY(!form.Unsaved()->HasChanges());
    QVERIFY(!keys->IsChanged());
    QCOMPARE(list->topLevelItem(2)->background(1).style(), Qt::NoBrush);
    QCOMPARE(form.windowTitle(), caption);
  }

  // Every action that replaces the pages, with every answer, against the
  // panel simulator: the panel was read, then phone 3 edited. A file or
  // record gives phone 4 only, so phone 3 shows what happened to the edit.
  void questionBeforeReplacing_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("offersWrite");
    QTest::addColumn<QString>("phone3");     // on the page afterwards
    QTest::addColumn<QString>("phone4");     // on the page afterwards
    QTest::addColumn<QString>("panel3");     // on the panel afterwards
    QTest::addColumn<bool>("open");          // the window still open
    QTest::addColumn<bool>("savedEdit");     // the saved file holds the edit
    const QString w = U("Записать в панель"), s = U("Сохранить в файл…"), d = U("Отбросить"), c = U("Отмена");
    const QString edit = kEdited, p3 = kPanelPhone3, p4 = kPanelPhone4, f4 = kFilePhone4;
    for (const char* action : {"load-file", "load-record"}) {
      const QString a = action;
      QTest::addRow("%s-write", action) << a << w << true << edit << f4 << edit << true << false;
      QTest::addRow("%s-save", action) << a << s << true << edit << f4 << p3 << true << true;
      QTest::addRow("%s-discard", action) << a << d << true << p3 << f4 << p3 << true << false;
      QTest::addRow("%s-cancel", action) << a << c << true << edit << p4 << p3 << true << false;
    }
    // A read replaces what it reads: writing first is not offered.
    for (const char* action : {"read", "read-all"}) {
      const QString a = action;
      QTest::addRow("%s-save", action) << a << s << false << p3 << p4 << p3 << true << true;
      QTest::addRow("%s-discard", action) << a << d << false << p3 << p4 << p3 << true << false;
      QTest::addRow("%s-cancel", action) << a << c << false << edit << p4 << p3 << true << false;
    }
    // The other ways to the same actions ask the same: the menu items, their
    // keys, "Открыть…" and the recent files.
    for (const char* action : {"menu-read", "menu-read-all", "keys-read", "keys-read-all"}) {
      const QString a = action;
      QTest::addRow("%s-discard", action) << a << d << false << p3 << p4 << p3 << true << false;
      QTest::addRow("%s-cancel", action) << a << c << false << edit << p4 << p3 << true << false;
    }
    for (const char* action : {"menu-open", "recent-file"}) {
      const QString a = action;
      QTest::addRow("%s-discard", action) << a << d << true << p3 << f4 << p3 << true << false;
      QTest::addRow("%s-cancel", action) << a << c << true << edit << p4 << p3 << true << false;
    }
    QTest::newRow("close-write") << "close" << w << true << edit << p4 << edit << false << false;
    QTest::newRow("close-save") << "close" << s << true << edit << p4 << p3 << false << true;
    QTest::newRow("close-discard") << "close" << d << true << p3 << p4 << p3 << false << false;
    QTest::newRow("close-cancel") << "close" << c << true << edit << p4 << p3 << true << false;
  }
  void questionBeforeReplacing() {
    QFETCH(QString, action);
    QFETCH(QString, answer);
    QFETCH(bool, offersWrite);
    QFETCH(QString, phone3);
    QFETCH(QString, phone4);
    QFETCH(QString, panel3);
    QFETCH(bool, open);
    QFETCH(bool, savedEdit);

    TLibraryPlace place;
    place.File = dir->filePath("library.sqlite");
    if (action == "load-record") {
      TLibrary library;
      QVERIFY(library.Open(place));
      TSite site;
      site.Name = U("Склад");
      QVERIFY(library.AddSite(site));
      TRecord r;
      r.Operator = "anna";
      r.Kind = TRecordKind::Read;
      r.Outcome = TRecordOutcome::Success;
      r.Settings = kPhone4Only;
      QVERIFY(library.AddRecord(site.Name, &r));
    }
    TPanelSim panel;
    panel.SetState(Configured());
    panel.Start();
    TForm1 form(nullptr, false);
    form.show();
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    QVERIFY(form.ReadAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    QCOMPARE(Phone(form, 3)->text(), QString(kPanelPhone3));
    QVERIFY(!form.Unsaved()->HasChanges());  // what was read is no change
    form.ShowPage(form.CommonPage());
    Phone(form, 3)->setText(kEdited);
    QVERIFY(form.Unsaved()->HasChanges());

    const QString saved = dir->filePath("saved.ini");
    const QString loaded = dir->filePath("phone4.ini");
    QVERIFY(WriteFile(loaded, kPhone4Only));
    SettingsDialogs::Hook = [&](SettingsDialogs::TKind kind, const QString&) {
      return kind == SettingsDialogs::TKind::Load ? loaded : saved;
    };
    MessageBox::ChooseHook = [&](const QString& question, const QStringList& offered) {
      questions << question;
      buttons = offered;
      return int(offered.indexOf(answer));
    };

    if (action == "load-file") {
      form.LoadFile(loaded);
    } else if (action == "load-record") {
      TSites& sites = *form.Sites();
      sites.OpenLibrary(place);
      QVERIFY(sites.Library()->WaitIdle());
      form.ShowPage(sites.Page());
      QTRY_COMPARE(sites.Page()->History()->topLevelItemCount(), 1);
      sites.Page()->History()->topLevelItem(0)->setSelected(true);
      QPushButton* load = sites.Page()->Button("btLoadRecord");
      QTRY_VERIFY(load->isEnabled());
      load->click();
      QTRY_VERIFY(!questions.isEmpty());
    } else if (action == "read") {
      gui::NavItem(form, "Прочитать")->Click();
    } else if (action == "read-all") {
      gui::NavItem(form, "Прочитать всё")->Click();
    } else if (action.startsWith("menu-")) {
      const QString item = action == "menu-read" ? "mnuRead" : action == "menu-read-all" ? "mnuReadAll" : "mnuOpen";
      QAction* a = form.findChild<QAction*>(item);
      QVERIFY(a && a->isEnabled());
      a->trigger();
    } else if (action.startsWith("keys-")) {
      form.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&form));
      const Qt::KeyboardModifiers keys =
          action == "keys-read" ? Qt::ControlModifier : Qt::ControlModifier | Qt::ShiftModifier;
      QTest::keyClick(&form, Qt::Key_R, keys);
    } else if (action == "recent-file") {
      form.RecentFiles()->Add(loaded);
      QMenu* recent = form.findChild<QMenu*>("mnuRecent");
      QVERIFY(recent && !recent->actions().isEmpty());
      recent->actions().first()->trigger();
    } else {
      form.close();
    }
    // Whatever was started (a write, then the action again; a read) ends.
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy() && !form.Provision()->IsRunning(), 20000);
    if (action == "load-record" && answer == U("Записать в панель"))
      QTRY_COMPARE_WITH_TIMEOUT(Phone(form, 4)->text(), QString(kFilePhone4), 5000);

    QCOMPARE(questions.size(), 1);
    QVERIFY2(questions.first().contains(U("Общие")), qPrintable(questions.first()));
    QStringList expected{U("Сохранить в файл…"), U("Отбросить"), U("Отмена")};
    if (offersWrite) expected.prepend(U("Записать в панель"));
    QCOMPARE(buttons, expected);
    QCOMPARE(Phone(form, 3)->text(), phone3);
    QCOMPARE(Phone(form, 4)->text(), phone4);
    QCOMPARE(QString::fromStdString(panel.State().Phones[2]), panel3);
    QCOMPARE(form.isVisible(), open);
    QCOMPARE(QFile::exists(saved), savedEdit);
    if (savedEdit) {
      QFile f(saved);
      QVERIFY(f.open(QIODevice::ReadOnly));
      QVERIFY(f.readAll().contains(QByteArray("Phone3=") + kEdited));
    }
    // Only a cancel leaves the edit unwritten and marked.
    QCOMPARE(form.Unsaved()->HasChanges(), answer == U("Отмена"));
  }

  // A load takes away the marks of what it gave, not of what the file
  // lacks or refused: those settings keep the user's values (no one answers
  // the question here, so the load goes on over the edits).
  void loadKeepsTheMarksOfWhatItLacks() {
    TForm1 form(nullptr, false);
    Phone(form, 3)->setText(kEdited);
    Phone(form, 5)->setText("555");
    const QString file = dir->filePath("partial.ini");
    QVERIFY(WriteFile(file, QByteArray("[Phones]\r\nPhone4=") + kFilePhone4 + "\r\nPhone5=12a\r\n"));
    form.LoadFile(file);
    QCOMPARE(Phone(form, 4)->text(), QString(kFilePhone4));
    QCOMPARE(Phone(form, 5)->text(), QString("555"));  // refused in the file
    QVERIFY(!Marks::Has(Phone(form, 4), TMark::Unsaved));
    QVERIFY(Marks::Has(Phone(form, 3), TMark::Unsaved));
    QVERIFY(Marks::Has(Phone(form, 5), TMark::Unsaved));
  }

  // Ctrl+Z after a load puts the pages, the edits and their marks back as
  // they were before it; a second Ctrl+Z has nothing to undo.
  void undoOfALoad() {
    TForm1 form(nullptr, false);
    Phone(form, 3)->setText(kEdited);
    const TSettings before = form.Model()->Settings();
    const QString file = dir->filePath("phone4.ini");
    QVERIFY(WriteFile(file, kPhone4Only));
    MessageBox::ChooseHook = [](const QString&, const QStringList& offered) {
      return int(offered.indexOf(U("Отбросить")));
    };
    QAction* undo = form.findChild<QAction*>("mnuUndoLoad");
    QVERIFY(undo && !undo->isEnabled());
    QCOMPARE(undo->shortcut(), QKeySequence(QKeySequence::Undo));
    form.LoadFile(file);
    QCOMPARE(Phone(form, 3)->text(), QString());  // the edit was discarded
    QCOMPARE(Phone(form, 4)->text(), QString(kFilePhone4));
    QVERIFY(!form.Unsaved()->HasChanges());
    QVERIFY(undo->isEnabled());

    undo->trigger();
    QVERIFY(form.Model()->Settings() == before);
    QCOMPARE(Phone(form, 3)->text(), QString(kEdited));
    QCOMPARE(Phone(form, 4)->text(), QString());
    QVERIFY(Marks::Has(Phone(form, 3), TMark::Unsaved));
    QVERIFY(!undo->isEnabled());
    QVERIFY(!form.Unsaved()->UndoLoad());
  }

  // Compared with a file, the pages stay as they are; the table names each
  // setting as its page does, one row a setting, grouped by page, and is
  // copied as text.
  void compareWithFileLeavesThePages() {
    TForm1 form(nullptr, false);
    Phone(form, 3)->setText(kEdited);
    const TSettings before = form.Model()->Settings();
    const QString file = dir->filePath("other.ini");
    QVERIFY(WriteFile(file, "[Phones]\r\nPhone3=+70001112233\r\n[React]\r\nReact2=1\r\n"
                            "[Norm]\r\nNorm5=0\r\nNorm9=1\r\n[GSM]\r\nMODE1=0\r\nMODE2=0\r\nMODE3=1\r\nRING=3\r\n"
                            "[Keys]\r\nKey0=ABC\r\n"));
    SettingsDialogs::Hook = [&](SettingsDialogs::TKind, const QString&) { return file; };
    QAction* compare = form.findChild<QAction*>("mnuCompareFile");
    QVERIFY(compare);
    compare->trigger();
    TdlgCompare* dialog = form.Unsaved()->FileCompareDialog();
    QVERIFY(dialog && dialog->isVisible());
    QVERIFY(form.Model()->Settings() == before);
    QVERIFY(form.Unsaved()->HasChanges());
    QTableWidget* table = dialog->Table();
    QCOMPARE(table->horizontalHeaderItem(2)->text(), U("В файле"));
    QCOMPARE(table->horizontalHeaderItem(3)->text(), U("На странице"));
    QCOMPARE(Rows(table), (QStringList{
                              U("Общие | Сбой питания: телефон | +70001112233 | +79030000003"),
                              U("Общие | Снятие с охраны: реакция | вкл | выкл"),
                              U("Общие | Шлейф 1: нормальное состояние | Размыкание | не выбрано"),
                              U("Ключи | Ключ 1 | 0000000000000ABC | 0000000000000000"),
                              U("GSM | Подключённый GSM модуль | Модем | Siemens 35"),
                              U("GSM | Длительность звонка | 4 | 1"),
                          }));
    dialog->CopyToClipboard();
    const QStringList copied = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(copied.size(), 7);
    QCOMPARE(copied.first(), U("Страница\tНастройка\tВ файле\tНа странице"));
    QCOMPARE(copied[2], U("Общие\tСнятие с охраны: реакция\tвкл\tвыкл"));

    // A file that gives no setting is said and compared with nothing.
    QVERIFY(WriteFile(file, "[Connect]\r\nComPort=/dev/ttyUSB0\r\n"));
    sandbox.kinds.clear();
    QVERIFY(!form.Unsaved()->CompareWithFile(file));
    QCOMPARE(sandbox.kinds, QList<MessageBox::TKind>{MessageBox::TKind::Error});
    QVERIFY(form.Model()->Settings() == before);
  }

  // "Сравнить с записью" (one record of a site chosen) compares it with the
  // pages and leaves them, edits and marks included, as they were.
  void compareWithRecordLeavesThePages() {
    TLibraryPlace place;
    place.File = dir->filePath("library.sqlite");
    {
      TLibrary library;
      QVERIFY(library.Open(place));
      TSite site;
      site.Name = U("Склад");
      QVERIFY(library.AddSite(site));
      TRecord r;
      r.Operator = "anna";
      r.Kind = TRecordKind::Read;
      r.Outcome = TRecordOutcome::Success;
      r.Settings = kPhone4Only;
      QVERIFY(library.AddRecord(site.Name, &r));
    }
    TForm1 form(nullptr, false);
    Phone(form, 3)->setText(kEdited);
    const TSettings before = form.Model()->Settings();
    TSites& sites = *form.Sites();
    sites.OpenLibrary(place);
    QVERIFY(sites.Library()->WaitIdle());
    QTRY_COMPARE(sites.Page()->History()->topLevelItemCount(), 1);
    sites.Page()->History()->topLevelItem(0)->setSelected(true);
    QTRY_COMPARE(sites.Page()->Button("btCompareRecords")->text(), U("Сравнить с записью"));
    sites.Page()->Button("btCompareRecords")->click();
    QTRY_VERIFY(sites.CompareDialog() && sites.CompareDialog()->isVisible());
    // The record holds the whole page: what it lacks is empty there.
    QCOMPARE(Rows(sites.CompareDialog()->Table()),
             (QStringList{U("Общие | Сбой питания: телефон | (пусто) | +79030000003"),
                          U("Общие | Восстановление питания: телефон | +79995554444 | (пусто)")}));
    QVERIFY(form.Model()->Settings() == before);
    QVERIFY(Marks::Has(Phone(form, 3), TMark::Unsaved));
  }

  // The names of the compare table and the check box: the page's own labels
  // and values, one row a setting.
  void settingNames_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");  // on the right; the left holds the defaults
    QTest::addColumn<QStringList>("rows");
    const auto row = [](const char* page, const char* name, const char* left, const char* right) {
      return QStringList{U(page) + " | " + U(name) + " | " + U(left) + " | " + U(right)};
    };
    QTest::newRow("event-reaction") << "React" << "React2" << "1"
                                    << row("Общие", "Снятие с охраны: реакция", "выкл", "вкл");
    QTest::newRow("event-phone") << "Phones" << "Phone1" << "+7916"
                                 << row("Общие", "Постановка на охрану: телефон", "(пусто)", "+7916");
    QTest::newRow("loop-upper-row") << "React" << "React5" << "1"
                                    << row("Общие", "Шлейф 1, замыкание: реакция", "выкл", "вкл");
    QTest::newRow("loop-lower-row") << "Phones" << "Phone12" << "02"
                                    << row("Общие", "Шлейф 4, размыкание: телефон", "(пусто)", "02");
    QTest::newRow("normal-state") << "Norm" << "Norm6" << "1"
                                  << row("Общие", "Шлейф 2: нормальное состояние", "не выбрано", "Замыкание");
    QTest::newRow("24-hours") << "24Hours" << "24-3" << "1" << row("Общие", "Шлейф 3: 24 часа", "выкл", "вкл");
    QTest::newRow("wait-send") << "Other" << "WaitSend" << "1" << row("Общие", "Дожидаться отправки", "выкл", "вкл");
    QTest::newRow("exit-delay") << "Other" << "TimeOut2" << "9" << row("Общие", "Задержка на выход", "0", "9");
    QTest::newRow("key") << "Keys" << "Key9" << "1" << row("Ключи", "Ключ 10", "0000000000000000", "0000000000000001");
    QTest::newRow("module") << "GSM" << "MODE2" << "1" << row("GSM", "Подключённый GSM модуль", "Siemens 35", "Siemens 45");
    QTest::newRow("ring") << "GSM" << "RING" << "5" << row("GSM", "Длительность звонка", "1", "6");
    QTest::newRow("threshold") << "ts2" << "slider0" << "7" << row("АЦП", "Канал 2: КЗ", "0", "7");
  }
  void settingNames() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QStringList, rows);
    TSettings left;
    left.Groups = TGroups::AllWithAdc();
    TSettings right = left;
    QVERIFY(SetFieldText(right, *FindField(section.toStdString(), key.toStdString()), value.toStdString()));
    QStringList shown;
    for (const SettingNames::TRow& r : SettingNames::Rows(Differences(left, right)))
      shown << r.Page + " | " + r.Name + " | " + r.Left + " | " + r.Right;
    QCOMPARE(shown, rows);
  }

  // Rows follow the pages' order whatever the table's; a side that does not
  // hold a group shows a dash, its loop's state and module included.
  void settingNamesGroupedByPage() {
    TSettings left;
    left.Groups = TGroups(TGroup::Gsm) | TGroup::Adc;
    left.Threshold[0][0] = 5;
    left.Module = 1;
    TSettings right;
    right.Groups = TGroups::All();
    right.Norm[8] = true;
    QStringList pages, names;
    for (const SettingNames::TRow& r : SettingNames::Rows(Differences(left, right))) {
      if (pages.isEmpty() || pages.last() != r.Page) pages << r.Page;
      if (r.Name.contains(U("Шлейф 1: нормальное")) || r.Name.contains(U("GSM модуль")))
        names << r.Name + ": " + r.Left + " / " + r.Right;
    }
    QCOMPARE(pages, (QStringList{U("Общие"), U("Ключи"), U("GSM"), U("АЦП")}));
    QCOMPARE(names, (QStringList{U("Шлейф 1: нормальное состояние: — / Размыкание"),
                                 U("Подключённый GSM модуль: Siemens 45 / Siemens 35")}));
  }

  // A mouse release over a normal-state radio button lights up the two
  // reaction boxes it changed, for a moment; the keyboard changes and lights
  // nothing. The tooltips say what choosing does.
  void normalStateRuleIsShown() {
    TForm1 form(nullptr, false);
    form.show();
    form.ShowPage(form.CommonPage());
    auto* radio = form.CommonPage()->findChild<QWidget*>("rbNorm6");
    auto* own = form.CommonPage()->findChild<QCheckBox*>("cbReact6");
    auto* other = form.CommonPage()->findChild<QCheckBox*>("cbReact10");
    QVERIFY(radio->toolTip().contains(U("Размыкание")) && radio->toolTip().contains(U("мышью")));
    QVERIFY(form.CommonPage()->findChild<QWidget*>("rbNorm10")->toolTip().contains(U("«Замыкание»")));
    QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(8, radio->height() / 2));
    QVERIFY(other->isChecked() && !own->isChecked());
    QVERIFY(Marks::Has(own, TMark::Flash) && Marks::Has(other, TMark::Flash));
    QVERIFY(!Marks::Has(form.CommonPage()->findChild<QWidget*>("cbReact7"), TMark::Flash));
    // Changed, so marked unsaved as well; the flash goes, the mark stays.
    QTRY_VERIFY_WITH_TIMEOUT(!Marks::Has(other, TMark::Flash), TformCommon::kRuleFlashMs * 4);
    QVERIFY(Marks::Has(other, TMark::Unsaved));

    auto* lower = form.CommonPage()->findChild<QWidget*>("rbNorm11");
    lower->setFocus();
    QTest::keyClick(lower, Qt::Key_Space);
    QVERIFY(!Marks::Has(form.CommonPage()->findChild<QWidget*>("cbReact7"), TMark::Flash));
    QVERIFY(!Marks::Has(form.CommonPage()->findChild<QWidget*>("cbReact11"), TMark::Flash));
  }

 private:
  gui::TSandbox sandbox;
  std::unique_ptr<QTemporaryDir> dir;
  QStringList questions;
  QStringList buttons;
};

QTEST_MAIN(TestUnsaved)
#include "tst_unsaved.moc"
