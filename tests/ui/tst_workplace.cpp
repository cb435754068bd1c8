// The window as an everyday workplace: menus and their keys, where the file
// dialogs open and what Save suggests, the backup's folder, serial failures
// in Russian, the memo's "Подробно", and the key dialog's lengths.
#include <QCheckBox>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "OstrelVersion.h"
#include "output/OutElement.h"
#include "persist/SettingsDialogs.h"
#include "serial/PortDiagnosis.h"
#include "serial/XComDrv.h"
#include "tests/ui/GuiFixture.h"
#include "tools/PanelSim.h"
#include "ui/FileNames.h"
#include "ui/MemoLines.h"
#include "ui/Provision.h"
#include "ui/SerialWords.h"
#include "ui/Sites.h"

using ostrel::sim::TPanelSim;

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

QStringList MenusHolding(TForm1& form, QAction* action) {
  QStringList menus;
  for (QMenu* menu : form.menuBar()->findChildren<QMenu*>())
    if (menu->actions().contains(action)) menus << menu->objectName();
  menus.sort();
  return menus;
}

QStringList PanelItemsEnabled(TForm1& form) {
  QStringList on;
  for (const char* name : {"mnuConnect", "mnuDisconnect", "mnuRead", "mnuWrite", "mnuReadAll", "mnuWriteAll",
                           "mnuCompare", "mnuOpen", "mnuSaveAs"})
    if (form.findChild<QAction*>(name)->isEnabled()) on << name;
  return on;
}

}  // namespace

class TestWorkplace : public QObject {
  Q_OBJECT
  gui::TSandbox sandbox;

 private slots:
  void init() { sandbox.Enter(); }
  void cleanup() {
    SettingsDialogs::NamedHook = nullptr;
    MessageBox::FolderBoxHook = nullptr;
    MessageBox::OpenFolderHook = nullptr;
    TOKRightDlg::MessageHook = nullptr;
    sandbox.Leave();
  }

  // Every item sits in its menus with its key shown beside it; the items of
  // "Соединение", "Настройки" and "Отладка" keep their places.
  void menuItems_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<QStringList>("menus");
    QTest::addColumn<QString>("keys");
    QTest::newRow("open") << "mnuOpen" << QStringList{"mnuFile"} << "Ctrl+O";
    QTest::newRow("save-as") << "mnuSaveAs" << QStringList{"mnuFile"} << "Ctrl+S";
    QTest::newRow("exit") << "mnuExit" << QStringList{"mnuFile"} << "Ctrl+Q";
    QTest::newRow("connect") << "mnuConnect" << QStringList{"mnuConnections", "mnuPanel"} << "Ctrl+K";
    QTest::newRow("disconnect") << "mnuDisconnect" << QStringList{"mnuConnections", "mnuPanel"} << "Ctrl+D";
    QTest::newRow("read") << "mnuRead" << QStringList{"mnuPanel"} << "Ctrl+R";
    QTest::newRow("write") << "mnuWrite" << QStringList{"mnuPanel"} << "Ctrl+W";
    QTest::newRow("read-all") << "mnuReadAll" << QStringList{"mnuPanel"} << "Ctrl+Shift+R";
    QTest::newRow("write-all") << "mnuWriteAll" << QStringList{"mnuPanel"} << "Ctrl+Shift+W";
    QTest::newRow("compare") << "mnuCompare" << QStringList{"mnuPanel", "mnuProperties"} << "Ctrl+E";
    QTest::newRow("compare-file") << "mnuCompareFile" << QStringList{"mnuFile"} << "";
    QTest::newRow("undo-load") << "mnuUndoLoad" << QStringList{"mnuProperties"} << "Ctrl+Z";
    QTest::newRow("shortcuts") << "mnuShortcuts" << QStringList{"mnuHelp"} << "F1";
    QTest::newRow("about") << "mnuAbout" << QStringList{"mnuHelp"} << "";
    QTest::newRow("part-save") << "mnuSave" << QStringList{"mnuProperties"} << "";
    QTest::newRow("part-load") << "mnuLoad" << QStringList{"mnuProperties"} << "";
    QTest::newRow("part-log") << "mnuLog" << QStringList{"mnuDebug"} << "";
  }
  void menuItems() {
    QFETCH(QString, item);
    QFETCH(QStringList, menus);
    QFETCH(QString, keys);
    TForm1 form(nullptr, false);
    QAction* action = form.findChild<QAction*>(item);
    QVERIFY(action);
    QCOMPARE(MenusHolding(form, action), menus);
    QCOMPARE(action->shortcut().toString(QKeySequence::PortableText), keys);
    // The list of "Сочетания клавиш" names every key a menu item has.
    if (!keys.isEmpty()) {
      bool listed = false;
      for (const auto& row : form.ShortcutList())
        listed |= row.first == QKeySequence(keys).toString(QKeySequence::NativeText) &&
                  row.second == QString(action->text()).remove('&');
      QVERIFY(listed);
    }
  }

  void menuBarOrder() {
    TForm1 form(nullptr, false);
    QStringList titles;
    for (QAction* a : form.menuBar()->actions()) titles << a->text().remove('&');
    QCOMPARE(titles, (QStringList{U("Файл"), U("Панель"), U("Соединение"), U("Настройки"), U("Отладка"),
                                  U("Справка")}));
    // "Файл": open, save, the last files, a place for more, exit.
    auto* file = form.findChild<QMenu*>("mnuFile");
    QStringList names;
    for (QAction* a : file->actions()) names << (a->menu() ? a->menu()->objectName() : a->objectName());
    QCOMPARE(names.mid(0, 3), (QStringList{"mnuOpen", "mnuSaveAs", "mnuRecent"}));
    const qsizetype slot = names.indexOf("mnuFileCompareSlot");
    QVERIFY(slot > 0 && slot + 1 < names.size());
    QCOMPARE(names[slot + 1], QString("mnuCompareFile"));
    QCOMPARE(names.last(), QString("mnuExit"));
    const QString about = TForm1::AboutText();
    QVERIFY(about.contains(OSTREL_VERSION));
    QVERIFY(about.contains("GNU GPL"));
  }

  // The items follow the connection and the operations; their keys work
  // only while they are enabled.
  void menusFollowTheConnection() {
    TPanelSim panel;
    panel.Start();
    TForm1 form(nullptr, false);
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(PanelItemsEnabled(form), (QStringList{"mnuConnect", "mnuOpen", "mnuSaveAs"}));
    QTest::keyClick(&form, Qt::Key_R, Qt::ControlModifier);
    QVERIFY(!form.IsBusy());
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(PanelItemsEnabled(form), (QStringList{"mnuDisconnect", "mnuRead", "mnuWrite", "mnuReadAll",
                                                   "mnuWriteAll", "mnuCompare", "mnuOpen", "mnuSaveAs"}));
    QTest::keyClick(&form, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(form.IsBusy());
    QCOMPARE(PanelItemsEnabled(form), QStringList{"mnuDisconnect"});
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 30000);
    QVERIFY(PanelItemsEnabled(form).contains("mnuRead"));
    form.findChild<QAction*>("mnuDisconnect")->trigger();
    QCOMPARE(PanelItemsEnabled(form), (QStringList{"mnuConnect", "mnuOpen", "mnuSaveAs"}));
  }

  // The connection check's typed result decides "connected" and the
  // firmware: the hidden button's click alone closes nothing.
  void connectedFromTheResult() {
    TPanelSim panel;
    panel.Start();
    TForm1 form(nullptr, false);
    QCOMPARE(form.Resolve(Targets::Button1), nullptr);
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    QVERIFY2(form.Firmware().contains("VER 05"), qPrintable(form.Firmware()));
    QCOMPARE(form.LastResult().Mode, Modes::Check);
  }

  // Save and Load open in the folder last used, else the documents folder;
  // Save suggests the current site's name and the date.
  void fileDialogs() {
    QTemporaryDir home;
    const QString documents = home.filePath("Документы");
    QDir().mkpath(documents);
    QDir().mkpath(home.filePath(".config"));
    QFile dirs(home.filePath(".config/user-dirs.dirs"));
    QVERIFY(dirs.open(QIODevice::WriteOnly));
    dirs.write(("XDG_DOCUMENTS_DIR=\"" + documents + "\"\n").toUtf8());
    dirs.close();
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(".config")));
    QCOMPARE(FileNames::DocumentsDir(), documents + "/");

    QStringList asked;
    QTemporaryDir elsewhere;
    QString answer;
    SettingsDialogs::NamedHook = [&](SettingsDialogs::TKind kind, const QString& dir, const QString& name) {
      asked << QString("%1 %2 %3").arg(kind == SettingsDialogs::TKind::Save ? "save" : "load", dir, name);
      return answer;
    };
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    {
      TForm1 form(nullptr, false);
      form.SaveAction();  // cancelled
      form.LoadAction();
      answer = elsewhere.filePath("site.ini");
      form.SaveAction();
      answer.clear();
      form.LoadAction();
      form.Sites()->SetCurrentSite(U("Склад «Север»: корпус 2"));
      form.SaveAction();
    }
    qputenv("XDG_CONFIG_HOME", oldConfig);
    if (oldConfig.isEmpty()) qunsetenv("XDG_CONFIG_HOME");
    const QString last = elsewhere.path() + "/";
    QCOMPARE(asked, (QStringList{"save " + documents + "/ " + U("Настройки ") + today + ".ini",
                                 "load " + documents + "/ ",
                                 "save " + documents + "/ " + U("Настройки ") + today + ".ini",
                                 "load " + last + " ",
                                 "save " + last + " " + U("Склад «Север»_ корпус 2 ") + today + ".ini"}));
  }

  void suggestedNames_data() {
    QTest::addColumn<QString>("site");
    QTest::addColumn<QString>("name");
    QTest::newRow("no-site") << "" << U("Настройки 2026-12-11.ini");
    QTest::newRow("plain") << U("Магазин 5") << U("Магазин 5 2026-12-11.ini");
    QTest::newRow("separators") << U("a/b\\c:d*e?f\"g<h>i|j") << U("a_b_c_d_e_f_g_h_i_j 2026-12-11.ini");
    QTest::newRow("control-and-blanks") << U("  склад\t1  ") << U("склад_1 2026-12-11.ini");
    QTest::newRow("hidden") << U(".dot") << U("_dot 2026-12-11.ini");
    QTest::newRow("long") << QString(100, 'x') << QString(60, 'x') + " 2026-12-11.ini";
  }
  void suggestedNames() {
    QFETCH(QString, site);
    QFETCH(QString, name);
    QCOMPARE(FileNames::SuggestedSettingsName(site, QDate(2026, 12, 11)), name);
  }

  // The box after a write with a backup offers its folder; the button opens
  // it and leaves the box up.
  void backupBoxOpensItsFolder() {
    TPanelSim panel;
    panel.Start();
    TForm1 form(nullptr, false);
    QDir(TProvision::BackupDir()).removeRecursively();
    form.Provision()->SetBackupBeforeWrite(true);
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QString boxText;
    QStringList opened;
    bool stayed = false;
    MessageBox::OpenFolderHook = [&](const QString& folder) {
      opened << folder;
      return true;
    };
    MessageBox::FolderBoxHook = [&](QMessageBox& box) {
      boxText = box.text();
      auto* open = box.findChild<QPushButton*>("btnOpenFolder");
      QVERIFY(open);
      QCOMPARE(open->text(), U("Открыть папку"));
      box.show();
      open->click();
      stayed = box.isVisible();
      box.hide();
    };
    form.WriteAllAction();
    QTRY_VERIFY_WITH_TIMEOUT(!boxText.isEmpty(), 60000);
    QVERIFY2(boxText.contains(U("Резервная копия панели: ")), qPrintable(boxText));
    QCOMPARE(opened, QStringList{QDir(TProvision::BackupDir()).absolutePath()});
    QVERIFY(stayed);
    QDir(TProvision::BackupDir()).removeRecursively();
  }

  // The serial port component's failures in Russian, from the code alone.
  void serialWords_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("systemError");
    QTest::addColumn<QString>("said");
    QTest::newRow("read") << int(CE_READ) << 0 << U("Не удалось прочитать данные из порта");
    QTest::newRow("read-eio") << int(CE_READ) << EIO << U("Не удалось прочитать данные из порта (ошибка ввода-вывода)");
    QTest::newRow("write") << int(CE_WRITE) << 0 << U("Не удалось записать данные в порт");
    QTest::newRow("open-missing") << int(CE_CANNOT_OPEN) << ENOENT
                                  << U("Не удалось открыть порт /dev/ttyX (нет такого файла или устройства)");
    QTest::newRow("not-open") << int(CE_NOT_OPEN) << 0 << U("Порт не открыт");
    QTest::newRow("dcb") << int(CE_DCB) << 0
                         << U("Не удалось установить параметры порта (скорость, чётность, стоповые биты)");
    QTest::newRow("unknown") << 77 << 0 << U("Ошибка COM порта, код 77");
  }
  void serialWords() {
    QFETCH(int, code);
    QFETCH(int, systemError);
    QFETCH(QString, said);
    const QString device = code == CE_CANNOT_OPEN ? "/dev/ttyX" : "";
    QString expected = said;
    if (systemError == EIO) expected = U("Не удалось прочитать данные из порта (") +
                                       QString::fromStdString(SystemErrorTextRu(EIO)) + ")";
    QCOMPARE(SerialWords::Said(code, systemError, device), expected);
  }

  // A memo line that quotes a failure shows it in Russian; the debug log
  // keeps the component's words; the English text itself decides nothing.
  void memoSaysSerialFailuresInRussian() {
    TForm1 form(nullptr, false);
    std::string logged;
    form.Applier().LogLine = [&](const std::string& text) { logged = text; };
    TMemoOut e;
    const std::string english = "Unable to read from port. (system error 5: Input/output error)";
    e.Text = " # !!! Ошибка при чтении данных из COM порта: " + english + " [x]";
    e.ShowInMemo = true;
    e.Serial = {CE_READ, EIO, "ttyS9", english.size(), 4};
    form.Applier().Apply(e);
    const QString shown = form.Memo()->toPlainText();
    QVERIFY2(shown.startsWith(U(" # !!! Ошибка при чтении данных из COM порта: Не удалось прочитать данные из порта (")),
             qPrintable(shown));
    QVERIFY(shown.endsWith(") [x]"));
    QVERIFY(!shown.contains("Unable"));
    QCOMPARE(logged, e.Text);
    // The same words with no code stay as they came.
    TMemoOut plain;
    plain.Text = english;
    plain.ShowInMemo = true;
    form.Applier().Apply(plain);
    QVERIFY(form.Memo()->toPlainText().endsWith(QString::fromStdString(english)));
  }

  // A port that cannot be opened is said in Russian in the memo, through
  // the real link.
  void missingPortInRussian() {
    TForm1 form(nullptr, false);
    gui::Connect(form, "/dev/ostrel-no-such-port", [&] {
      return gui::Panel2Text(form).startsWith(U("Ошибка при открытии COM порта"));
    });
    QVERIFY(!form.IsConnected());
    const QString memo = form.Memo()->toPlainText();
    QVERIFY2(memo.contains(U("Ошибка открытия COM порта: Не удалось открыть порт /dev/ostrel-no-such-port")),
             qPrintable(memo));
    QVERIFY(!memo.contains("Cannot open device"));
  }

  // The memo shows the installer's lines; "Подробно" adds the traffic, that
  // already received included.
  void memoTrafficSwitch() {
    TPanelSim panel;
    panel.Start();
    TForm1 form(nullptr, false);
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.Read());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 30000);
    const auto traffic = [](const QStringList& lines) {
      return lines.filter(QRegularExpression("^(-> |\\s*<<- |good=|.* # Поток |.* # Попытка )")).size();
    };
    QStringList lines = MemoLines::Visible(form.Memo());
    QVERIFY2(!lines.filter(U("Читаем телефон №1")).isEmpty(), qPrintable(lines.join('\n')));
    QCOMPARE(traffic(lines), 0);
    auto* verbose = form.findChild<QCheckBox*>("cbVerbose");
    QVERIFY(verbose && !verbose->isChecked());
    verbose->setChecked(true);
    lines = MemoLines::Visible(form.Memo());
    QVERIFY(lines.contains("-> +rt01"));
    QVERIFY(lines.filter(QRegularExpression("^good=")).size() >= 25);
    QVERIFY(lines.filter(U("Поток начал работу")).size() == 1);
    verbose->setChecked(false);
    QCOMPARE(traffic(MemoLines::Visible(form.Memo())), 0);
  }

  // The key dialog takes 1 to 16 digits and pads them as a settings file's
  // key is; nothing else is accepted.
  void keyLengths_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("row");
    QTest::newRow("one-digit") << "7" << "0000000000000007";
    QTest::newRow("fifteen") << "123456789abcdef" << "0123456789ABCDEF";
    QTest::newRow("sixteen") << "FEDCBA9876543210" << "FEDCBA9876543210";
    QTest::newRow("all-ones-is-empty") << "FFFFFFFFFFFFFFFF" << "0000000000000000";
    QTest::newRow("empty-refused") << "" << "1111111111111111";
  }
  void keyLengths() {
    QFETCH(QString, typed);
    QFETCH(QString, row);
    TForm1 form(nullptr, false);
    QStringList messages;
    TOKRightDlg::MessageHook = [&](const QString& text) { messages << text; };
    form.KeysPage()->List()->topLevelItem(0)->setText(1, "1111111111111111");
    form.KeysPage()->List()->setCurrentItem(form.KeysPage()->List()->topLevelItem(0));
    QTimer::singleShot(0, &form, [&] {
      auto* dialog = qobject_cast<TOKRightDlg*>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      dialog->KeyEdit()->clear();
      QTest::keyClicks(dialog->KeyEdit(), typed);
      QTest::keyClick(dialog->KeyEdit(), Qt::Key_Return);
      if (dialog->isVisible()) dialog->reject();
    });
    form.KeysPage()->EditSelected();
    QCOMPARE(form.KeysPage()->List()->topLevelItem(0)->text(1), row);
    QCOMPARE(messages.size(), typed.isEmpty() ? 1 : 0);
    QCOMPARE(form.Model()->Settings().Key[0], row.toStdString());
  }

  // Keys typed as soon as the dialog has the keyboard reach its edit and
  // replace the key shown: also when that key fills the edit (an empty slot
  // is 16 zeros) and when the dialog closed last time from its OK button,
  // which then held the focus.
  void keyTypedAfterADialogClosed() {
    TForm1 form;
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTreeWidget* list = form.KeysPage()->List();
    gui::NavItem(form, "Ключи")->Click();
    list->setFocus();
    const auto edit = [&](int row, const QString& keys, bool byMouse) {
      list->setCurrentItem(list->topLevelItem(row));
      QTimer::singleShot(0, &form, [&, keys, byMouse] {
        auto* dialog = qobject_cast<TOKRightDlg*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == dialog->windowHandle(); }, 5000));
        // Typed to the window that has the keyboard, as a user types.
        for (QChar c : keys) QTest::keyClick(QGuiApplication::focusWindow(), c.toLatin1());
        if (byMouse)
          QTest::mouseClick(dialog->OKBtn(), Qt::LeftButton);
        else
          QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
        if (dialog->isVisible()) dialog->reject();
      });
      form.KeysPage()->EditSelected();
    };
    edit(0, "12", true);
    edit(1, "34", false);
    edit(2, "56", true);
    edit(3, "78", true);
    edit(0, "9", false);  // a key already there is replaced too
    // The keyboard is back in the list: the next row and Enter edit it.
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), list, 5000);
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Down);
    QTimer::singleShot(0, &form, [&] {
      auto* dialog = qobject_cast<TOKRightDlg*>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      // A fault must not leave the dialog waiting for keys no one types.
      QTimer::singleShot(5000, dialog, &QDialog::reject);
      QVERIFY(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == dialog->windowHandle(); }, 5000));
      QTest::keyClick(QGuiApplication::focusWindow(), 'a');
      QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
    });
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
    QCOMPARE(list->topLevelItem(0)->text(1), QString("0000000000000009"));
    QCOMPARE(list->topLevelItem(1)->text(1), QString("000000000000000A"));
    QCOMPARE(list->topLevelItem(2)->text(1), QString("0000000000000056"));
    QCOMPARE(list->topLevelItem(3)->text(1), QString("0000000000000078"));
  }
};

QTEST_MAIN(TestWorkplace)
#include "tst_workplace.moc"
