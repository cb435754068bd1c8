// The window as an installer meets it: one page at a time, a window inside
// the screen, failures said in Russian, and the keyboard alone enough.
#include <QAccessible>
#include <QLineEdit>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <cmath>
#include <QShortcut>
#include <QTest>

#include "tests/ui/GuiFixture.h"
#include "ui/Panel.h"
#include "tools/PanelSim.h"
#include "persist/SettingsDialogs.h"
#include "ui/FileNames.h"
#include "ui/Page.h"
#include "ui/Trislider.h"
#include <QSpinBox>

#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/KeyDialog.h"
#include "ui/f_keys.h"

using ostrel::sim::EFault;
using ostrel::sim::TPanelSim;

namespace {

QList<TPage*> VisiblePages(TForm1& form) {
  QList<TPage*> shown;
  for (TPage* page : {static_cast<TPage*>(form.CommonPage()), static_cast<TPage*>(form.KeysPage()),
                      static_cast<TPage*>(form.GSMPage()), static_cast<TPage*>(form.ACPPage())})
    if (page->isVisibleTo(&form)) shown << page;
  return shown;
}

// The page a widget lies on, or nullptr outside the work area.
TPage* PageOf(QWidget* w) {
  for (; w; w = w->parentWidget())
    if (auto* page = qobject_cast<TPage*>(w)) return page;
  return nullptr;
}

// Exactly `page` is visible, it is marked in the navigation, and a whole
// round of Tab from "Очистить" meets only controls the user can see, the
// controls of the shown page among them.
void CheckOnlyPage(TForm1& form, TPage* page, const char* item) {
  QCOMPARE(VisiblePages(form), QList<TPage*>{page});
  QVERIFY(gui::NavItem(form, item)->IsCurrent());
  QWidget* start = form.findChild<QWidget*>("RzBitBtn1");
  start->setFocus();
  QVERIFY(start->hasFocus());

  bool reachedPage = false;
  for (int i = 0; i < 200; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus);
    QVERIFY2(focus->isVisible(), qPrintable(focus->objectName()));
    QVERIFY2(focus->focusPolicy() != Qt::NoFocus, qPrintable(focus->objectName()));
    if (TPage* on = PageOf(focus)) {
      QCOMPARE(on, page);
      reachedPage = true;
    }
    if (focus == start) break;
  }
  QVERIFY(reachedPage);
}

// Relative luminance and contrast ratio as WCAG defines them.
double Luminance(QColor c) {
  const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
double Contrast(QColor a, QColor b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

class TestWindow : public QObject {
  Q_OBJECT

 private slots:
  void init() { sandbox.Enter(); }
  void cleanup() { sandbox.Leave(); }

  // Every way of showing a page shows that page alone: the navigation, a
  // shortcut, the window's own call, and Read all and Write all, which
  // bring each page to the front themselves.
  void onePageAtATime() {
    TPanelSim panel;
    panel.Start();
    TForm1 form;
    form.SetAdcItemVisible(true);
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    // Focus starts on "Подключиться".
    QCOMPARE(QApplication::focusWidget(), gui::NavItem(form, "Подключиться"));
    CheckOnlyPage(form, form.CommonPage(), "Общие");

    gui::NavItem(form, "Ключи")->Click();
    CheckOnlyPage(form, form.KeysPage(), "Ключи");
    QTest::keyClick(&form, Qt::Key_4, Qt::ControlModifier);
    CheckOnlyPage(form, form.GSMPage(), "GSM");
    QTest::keyClick(&form, Qt::Key_3, Qt::ControlModifier);
    CheckOnlyPage(form, form.ACPPage(), "АЦП");
    form.ShowPage(form.CommonPage());
    CheckOnlyPage(form, form.CommonPage(), "Общие");

    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QVERIFY(form.ReadAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    CheckOnlyPage(form, form.GSMPage(), "GSM");
    QTest::keyClick(&form, Qt::Key_1, Qt::ControlModifier);
    CheckOnlyPage(form, form.CommonPage(), "Общие");
    QVERIFY(form.WriteAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);
    CheckOnlyPage(form, form.GSMPage(), "GSM");
  }

  // A link lost while idle or at any point of Read all and Write all: one
  // Russian box with the reason, the connection's panes cleared, the window
  // disconnected. (Read all still clears the pages it reads before it starts.)
  void lostLinkIsSaid_data() {
    QTest::addColumn<int>("operation");  // 0 idle, 5 Read all, 6 Write all
    QTest::addColumn<QString>("at");
    QTest::newRow("idle") << 0 << "";
    QTest::newRow("read-common") << 5 << "+rt05";
    QTest::newRow("read-keys") << 5 << "+rk3";
    QTest::newRow("read-gsm") << 5 << "+rh";
    QTest::newRow("write-common") << 6 << "+wt05";
    QTest::newRow("write-keys") << 6 << "+wk3";
    QTest::newRow("write-gsm") << 6 << "+wh";
  }
  void lostLinkIsSaid() {
    QFETCH(int, operation);
    QFETCH(QString, at);
    TPanelSim panel;
    if (!at.isEmpty()) panel.AddFault({at.toStdString(), EFault::CloseLine, false});
    panel.Start();
    TForm1 form;
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    QVERIFY(!form.findChild<TRzStatusPane*>("RzStatusPane2")->Caption().isEmpty());
    auto* phone4 = form.CommonPage()->findChild<QLineEdit*>("etPhone4");
    phone4->setText("89035550004");
    if (operation == 0) panel.CloseLine();
    if (operation == 5) QVERIFY(form.ReadAll());
    if (operation == 6) QVERIFY(form.WriteAll());
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsConnected(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 5000);
    QVERIFY2(messages[0].startsWith(QString::fromUtf8("Связь с панелью потеряна: ")), qPrintable(messages[0]));
    QCOMPARE(messages[0].contains(QString::fromUtf8("Операция прервана")), operation != 0);
    QVERIFY(!messages[0].contains(QRegularExpression("[A-Za-z]{3,}")));
    QCOMPARE(form.findChild<TRzStatusPane*>("RzStatusPane1")->Caption(), QString());
    QCOMPARE(form.findChild<TRzStatusPane*>("RzStatusPane2")->Caption(), QString());
    QVERIFY(!form.IsBusy());
    if (operation != 5) QCOMPARE(phone4->text(), QString("89035550004"));
    QVERIFY(gui::NavItem(form, "Подключиться")->isEnabled());
  }

  // A user's Disconnect says nothing and keeps the port in its pane; the
  // version goes with the connection.
  void disconnectIsQuiet() {
    TPanelSim panel;
    panel.Start();
    TForm1 form;
    const QString port = QString::fromStdString(panel.SlavePath());
    gui::Connect(form, port);
    QVERIFY(form.IsConnected());
    gui::NavItem(form, "Отключиться")->Click();
    QTest::qWait(50);
    QVERIFY(messages.isEmpty());
    QCOMPARE(form.findChild<TRzStatusPane*>("RzStatusPane1")->Caption(), port);
    QCOMPARE(form.findChild<TRzStatusPane*>("RzStatusPane2")->Caption(), QString());
  }

  // A phone pasted as people write it lands as its digits and "+"; a key
  // pasted in groups lands as its hex digits; what still breaks the rule is
  // refused and the status bar says why.
  void pasteKeepsWhatIsMeant() {
    TForm1 form;
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    auto* phone = form.CommonPage()->findChild<QLineEdit*>("etPhone1");
    phone->setFocus();
    const auto paste = [](QWidget* w, const QString& text) {
      QApplication::clipboard()->setText(text);
      QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier);
    };
    paste(phone, "+7 (916) 123-45-67");
    QCOMPARE(phone->text(), QString("+79161234567"));
    QVERIFY(form.NoteLabel()->isHidden());
    paste(phone, "8 916 ABC");
    QCOMPARE(phone->text(), QString("+79161234567"));
    QVERIFY(form.NoteLabel()->isVisible());
    QVERIFY(form.NoteLabel()->text().startsWith(QString::fromUtf8("Телефон")));
    phone->clear();
    paste(phone, "1234567890 1234567890 1");  // 21 digits
    QCOMPARE(phone->text(), QString());

    TOKRightDlg* dialog = form.KeysPage()->KeyDialog();
    dialog->KeyEdit()->clear();
    paste(dialog->KeyEdit(), "dead beef 0011 2233");
    QCOMPARE(dialog->KeyEdit()->text(), QString("DEADBEEF00112233"));
    paste(dialog->KeyEdit(), "1");
    QCOMPARE(dialog->KeyEdit()->text(), QString("DEADBEEF00112233"));
  }

  // Load and Save open in the folder last used, the last files are offered
  // in the menu (also after a restart), and a long port shows whole in its
  // pane's tooltip, elided in the middle.
  void filesAndPanes() {
    QTemporaryDir elsewhere;
    const QString file = elsewhere.filePath("site.ini");
    QStringList opened;
    QString chosen = file;
    SettingsDialogs::Hook = [&](SettingsDialogs::TKind, const QString& dir) {
      opened << dir;
      return chosen;
    };
    {
      TForm1 form;
      form.SaveAction();
      form.LoadAction();
      QCOMPARE(opened, (QStringList{FileNames::DocumentsDir(), elsewhere.path() + "/"}));
      QMenu* recent = form.findChild<QMenu*>("mnuRecent");
      QVERIFY(recent && recent->isEnabled());
      QCOMPARE(recent->actions().size(), 1);
      QCOMPARE(recent->actions().first()->data().toString(), file);
    }
    TForm1 again;
    QMenu* recent = again.findChild<QMenu*>("mnuRecent");
    QCOMPARE(recent->actions().size(), 1);
    again.CommonPage()->findChild<QLineEdit*>("etPhone2")->setText("1");
    recent->actions().first()->trigger();  // loads the file saved above
    QCOMPARE(again.CommonPage()->findChild<QLineEdit*>("etPhone2")->text(), QString());
    again.SaveAction();
    QCOMPARE(opened.last(), elsewhere.path() + "/");
    SettingsDialogs::Hook = nullptr;

    auto* pane = again.findChild<TRzStatusPane*>("RzStatusPane1");
    const QString port = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    pane->SetCaption(port);
    QCOMPARE(pane->toolTip(), port);
    QVERIFY(pane->sizeHint().width() > 100);
    QVERIFY(messages.isEmpty());
  }

  // The thresholds of a channel set to given values with the keyboard alone:
  // Tab into the slider, a number key chooses the thumb, Page Up/Down and
  // the arrows move it; the panes and the accessible name follow. Thumbs,
  // track and page stand apart by 3:1 at least.
  void adcThresholdsFromTheKeyboard() {
    TForm1 form;
    form.SetAdcItemVisible(true);
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, Qt::Key_3, Qt::ControlModifier);
    TTrislider* ts = form.ACPPage()->Slider(1);
    QCOMPARE(ts->GetPosition(4), 92);  // the page starts at 0, 23, 46, 69, 92
    // From the last navigation item Tab goes into the page: the channel's
    // spin boxes, then its slider.
    gui::NavItem(form, "Новый объект")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), form.ACPPage()->SpinBox(1, 0));
    for (int k = 0; k < 5; ++k) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), ts);
    const int wanted[5] = {100, 230, 300, 600, 1000};
    for (int k = 4; k >= 0; --k) {  // from the top: a thumb goes as far as its upper neighbour
      QTest::keyClick(ts, Qt::Key(Qt::Key_1 + k));
      while (ts->GetPosition(k) + ts->PageStep <= wanted[k]) QTest::keyClick(ts, Qt::Key_PageUp);
      while (ts->GetPosition(k) < wanted[k]) QTest::keyClick(ts, Qt::Key_Right);
      while (ts->GetPosition(k) > wanted[k]) QTest::keyClick(ts, Qt::Key_Left);
    }
    for (int k = 0; k < 5; ++k) QCOMPARE(ts->GetPosition(k), wanted[k]);
    QCOMPARE(form.ACPPage()->findChild<TPanel*>("pRaz1")->Caption(), QString("1000"));
    QCOMPARE(QAccessible::queryAccessibleInterface(ts)->text(QAccessible::Name),
             QString::fromUtf8("Канал АЦП 1, КЗ: 100"));
    // Tab walks the thumbs, then leaves for the second channel.
    for (int k = 1; k < 5; ++k) {
      QTest::keyClick(ts, Qt::Key_Tab);
      QCOMPARE(ts->Selected(), k);
    }
    QTest::keyClick(ts, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), form.ACPPage()->SpinBox(2, 0));

    ts->TimerTick();
    const QImage& frame = ts->Buffer();
    const TTrisliderGeometry g = ts->Geometry();
    const QColor page = frame.pixelColor(2, 2);
    const QColor track = frame.pixelColor(g.Width - g.Margin - 3, g.Mid() + g.Half() - 2);
    const QColor thumb = frame.pixelColor(g.X(ts->GetPosition(2)), g.Margin + 3);
    QVERIFY2(Contrast(thumb, track) >= 3, qPrintable(thumb.name() + track.name()));
    QVERIFY2(Contrast(thumb, page) >= 3, qPrintable(thumb.name() + page.name()));
    QVERIFY2(Contrast(track, page) >= 3, qPrintable(track.name() + page.name()));
  }

 private:
  gui::TSandbox sandbox;
  QStringList& messages = sandbox.messages;
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
