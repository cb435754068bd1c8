// Safe input in the window: a settings file loads only values that keep their
// rules (one message box lists the rest), and the filtered edits take the same
// characters however text comes in: typed, pasted, dropped or composed.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <set>
#include <sys/stat.h>

#include "persist/SettingsDialogs.h"
#include "tests/common/SettingsText.h"
#include "tests/persist/TestFiles.h"
#include "tests/ui/GuiFixture.h"
#include "ui/KeyDialog.h"
#include "ui/f_common.h"
#include "ui/f_keys.h"

using testfiles::ReadBytes;
using testfiles::WriteBytes;

namespace {

// Puts text into edit the way named.
void Enter(QLineEdit* edit, const QString& way, const QString& text) {
  edit->setFocus();
  if (way == "type") {
    QTest::keyClicks(edit, text);
  } else if (way == "paste") {
    QApplication::clipboard()->setText(text);
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
  } else if (way == "drop") {
    QMimeData data;
    data.setText(text);
    const QPoint at = edit->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &move);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &drop);
  } else {
    QInputMethodEvent composed;
    composed.setCommitString(text);
    QApplication::sendEvent(edit, &composed);
  }
}

}  // namespace

class TestSafeInput : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    sandbox.Enter();
    dir = std::make_unique<QTemporaryDir>();
  }
  void cleanup() {
    SettingsDialogs::Hook = nullptr;
    sandbox.Leave();
    dir.reset();
  }

  void everyWayObeysTheFilter_data() {
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    for (const char* way : {"type", "paste", "drop", "compose"}) {
      const QString w = way;
      QTest::addRow("%s-phone-digits", way) << w << false << "+79123" << "12+79123";
      QTest::addRow("%s-phone-carriage-return", way)
          << w << false << "1\r+wp=FF0011" << (w == "type" ? "121+0011" : "12");
      // QTest types ASCII only.
      if (w != "type") QTest::addRow("%s-phone-cyrillic", way) << w << false << "телефон" << "12";
      QTest::addRow("%s-key-lower-hex", way) << w << true << "abc" << "12ABC";
      QTest::addRow("%s-key-date", way) << w << true << "10.12.2026 12:20" << (w == "type" ? "12101220261220" : "12");
    }
  }
  // Typing drops each character the filter refuses; any other way brings in
  // a whole text, which is refused whole when it holds one.
  void everyWayObeysTheFilter() {
    QFETCH(QString, way);
    QFETCH(bool, key);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    TformCommon page;
    TOKRightDlg dialog;
    QLineEdit* edit = key ? dialog.KeyEdit() : page.findChild<QLineEdit*>("etPhone3");
    QWidget* window = key ? static_cast<QWidget*>(&dialog) : &page;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::keyClicks(edit, "12");
    Enter(edit, way, text);
    QCOMPARE(edit->text(), expected);
  }

  // The key dialog starts with a row's text only when it could have been typed.
  void keyDialogStartsWithATypableKey() {
    TformKeys page;
    TOKRightDlg dialog;
    page.SetKeyDialog(&dialog);
    page.List()->topLevelItem(0)->setText(1, "12\r+wp=FF");
    page.List()->setCurrentItem(page.List()->topLevelItem(0));
    QTimer::singleShot(0, &dialog, [&] {
      QCOMPARE(dialog.KeyEdit()->text(), QString());
      dialog.reject();
    });
    page.EditSelected();
    page.List()->topLevelItem(1)->setText(1, "00000000000000AB");
    page.List()->setCurrentItem(page.List()->topLevelItem(1));
    QTimer::singleShot(0, &dialog, [&] {
      QCOMPARE(dialog.KeyEdit()->text(), QString("00000000000000AB"));
      dialog.reject();
    });
    page.EditSelected();
  }

  void hostileFileChangesNoControl_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("named");
    // Not hostile in the window: a file of phones only loads them and keeps
    // the rest (tst_persist_gui).
    const std::set<QByteArray> loadable{"only-phones"};
    for (const THostileFile& f : HostileFiles())
      if (!loadable.count(f.Name)) QTest::newRow(f.Name) << f.Bytes << QString::fromUtf8(f.Named);
  }
  // The Load action: the file's good values equal what the window holds, so
  // the window is unchanged exactly when no bad value got in.
  void hostileFileChangesNoControl() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, named);
    TForm1 form;
    QString chosen = dir->filePath("known.ini");
    SettingsDialogs::Hook = [&](SettingsDialogs::TKind, const QString&) { return chosen; };
    WriteBytes(chosen, KnownSettings());
    form.findChild<QAction*>("mnuLoad")->trigger();
    QCOMPARE(messages, QStringList());
    QVERIFY(form.SaveSettings(dir->filePath("before.ini")));

    chosen = dir->filePath("hostile.ini");
    WriteBytes(chosen, bytes);
    form.findChild<QAction*>("mnuLoad")->trigger();
    QCOMPARE(messages.size(), 1);
    // In Russian, naming the file and the value as the file writes them.
    QVERIFY2(messages[0].contains(QString::fromUtf8("«") + chosen + QString::fromUtf8("»")), qPrintable(messages[0]));
    QString said = QString::fromUtf8("не загружены значения");
    if (named.startsWith('[')) said = named.left(named.indexOf(QRegularExpression("[,:]")));
    if (named == "none of the settings sections") said = QString::fromUtf8("нет настроек панели");
    if (named == "lines 6 and 7") said = QString::fromUtf8("строки 6, 7");
    if (named == "read") said = QString::fromUtf8("Не удалось прочитать файл");
    QVERIFY2(messages[0].contains(said), qPrintable(messages[0] + " / " + said));
    QVERIFY(form.SaveSettings(dir->filePath("after.ini")));
    QCOMPARE(ReadBytes(dir->filePath("after.ini")), ReadBytes(dir->filePath("before.ini")));
  }

  // Choosing a device or a FIFO in the Load dialog returns at once.
  void specialFileIsRefused() {
    TForm1 form;
    QString chosen = dir->filePath("pipe.ini");
    QCOMPARE(mkfifo(QFile::encodeName(chosen).constData(), 0600), 0);
    SettingsDialogs::Hook = [&](SettingsDialogs::TKind, const QString&) { return chosen; };
    form.findChild<QAction*>("mnuLoad")->trigger();
    chosen = "/dev/zero";
    form.findChild<QAction*>("mnuLoad")->trigger();
    QCOMPARE(messages.size(), 2);
    for (const QString& m : messages) QVERIFY2(m.startsWith(QString::fromUtf8("Не удалось прочитать файл «")), qPrintable(m));
    QVERIFY(messages[0].contains(dir->filePath("pipe.ini")) && messages[1].contains("/dev/zero"));
  }

 private:
  gui::TSandbox sandbox;
  QStringList& messages = sandbox.messages;
  std::unique_ptr<QTemporaryDir> dir;
};

QTEST_MAIN(TestSafeInput)
#include "tst_safe_input.moc"
