// The window's settings model and its pages: an edit of any kind of control
// changes the model at once and only its own field; a change of the model
// shows on every page, hidden ones included; Save writes the model exactly.
#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "persist/SettingsCodec.h"
#include "tests/persist/TestFiles.h"
#include "tests/ui/GuiFixture.h"
#include "ui/KeyDialog.h"

namespace {

template <class T>
T* Find(QWidget* page, const char* name) {
  T* control = page->findChild<T*>(QString::fromLatin1(name));
  if (!control) qFatal("no control %s", name);
  return control;
}

// What changed between two settings, as "[section] key=value" of the second.
QStringList Changes(const TSettings& before, const TSettings& after) {
  QStringList changes;
  for (const TDifference& d : Differences(before, after))
    changes << QString::fromStdString("[" + d.Field->Section + "] " + d.Field->Key + "=" + d.Right);
  return changes;
}

// Settings in which every field differs from a new window's.
TSettings Distinct() {
  TSettings s;
  s.Groups = TGroups::AllWithAdc();
  for (int n = 0; n < TSettings::kEntries; ++n) {
    s.Phone[n] = "+7916000000" + std::to_string(n);
    s.React[n] = n % 2 == 0;
  }
  s.Norm[4] = s.Norm[9] = s.Norm[6] = s.Norm[11] = true;  // loops 1 and 3 upper, 2 and 4 lower
  s.Hours24 = {true, false, true, true};
  s.TimeOut = 200;
  s.TimeOut2 = 255;
  s.FastGuard = true;
  s.WaitSend = true;
  for (int i = 0; i < TSettings::kKeys; ++i) s.Key[i] = "00000000000000A" + std::to_string(i);
  s.Module = 2;
  s.Ring = 5;
  // Closer together than the slider can draw them apart.
  s.Threshold[0] = {500, 501, 502, 503, 504};
  s.Threshold[1] = {0, 0, 1023, 1023, 1023};
  return s;
}

}  // namespace

class TestSettingsView : public QObject {
  Q_OBJECT

 private slots:
  void init() { sandbox.Enter(); }
  void cleanup() { sandbox.Leave(); }

  // Each kind of control, edited as a user does it: the model holds the
  // edit before anything else runs, and no other field moved.
  void editChangesOnlyItsField_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("phone-typed") << "phone" << QStringList{"[Phones] Phone3=+7"};
    QTest::newRow("reaction-clicked") << "react" << QStringList{"[React] React6=1"};
    QTest::newRow("24-hours-clicked") << "hours" << QStringList{"[24Hours] 24-2=1"};
    QTest::newRow("delay-stepped") << "delay" << QStringList{"[Other] TimeOut2=1"};
    // The page's rule moves the reaction to the other row as well.
    QTest::newRow("normal-state-clicked") << "norm" << QStringList{"[React] React10=1", "[Norm] Norm6=1"};
    QTest::newRow("react1-off-clears-wait-send")
        << "react1" << QStringList{"[React] React1=0", "[Other] WaitSend=0"};
    QTest::newRow("key-entered") << "key" << QStringList{"[Keys] Key1=00112233445566AA"};
    QTest::newRow("key-set-outside-its-rule") << "bad-key" << QStringList{};
    QTest::newRow("threshold-moved") << "thumb" << QStringList{"[ts2] slider1=24"};
    // A slider element sets the value exactly, unless the rule refuses it.
    QTest::newRow("threshold-set-by-an-element") << "element-600" << QStringList{"[ts1] slider2=600"};
    QTest::newRow("threshold-element-off-the-scale") << "element-2000" << QStringList{};
    QTest::newRow("module-chosen") << "module" << QStringList{"[GSM] MODE1=0", "[GSM] MODE2=1"};
    QTest::newRow("ring-chosen") << "ring" << QStringList{"[GSM] RING=1"};
  }
  void editChangesOnlyItsField() {
    QFETCH(QString, edit);
    QFETCH(QStringList, expected);
    TForm1 form(nullptr, false);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    if (edit == "react1") {
      TSettings s = form.PagesSettings(TGroup::Common);
      s.React[0] = true;
      s.WaitSend = true;
      form.ShowSettings(s);
    }
    const TSettings before = form.PagesSettings(TGroups::AllWithAdc());
    TformCommon* common = form.CommonPage();

    if (edit == "phone") {
      QTest::keyClicks(Find<QLineEdit>(common, "etPhone3"), "+7");
    } else if (edit == "react") {
      QTest::mouseClick(Find<QCheckBox>(common, "cbReact6"), Qt::LeftButton);
    } else if (edit == "hours") {
      QTest::mouseClick(Find<QCheckBox>(common, "cb242"), Qt::LeftButton);
    } else if (edit == "delay") {
      QTest::keyClick(Find<QSpinBox>(common, "seTimeOut2"), Qt::Key_Up);
    } else if (edit == "norm") {
      QTest::mouseClick(Find<QRadioButton>(common, "rbNorm6"), Qt::LeftButton);
    } else if (edit == "react1") {
      QTest::mouseClick(Find<QCheckBox>(common, "cbReact1"), Qt::LeftButton);
    } else if (edit == "key") {
      form.ShowPage(form.KeysPage());
      QTreeWidget* list = form.KeysPage()->List();
      list->setCurrentItem(list->topLevelItem(1));
      TOKRightDlg* dialog = form.KeysPage()->KeyDialog();
      QTimer::singleShot(0, dialog, [dialog] {
        dialog->KeyEdit()->clear();
        QTest::keyClicks(dialog->KeyEdit(), "00112233445566aa");
        dialog->OKBtn()->click();
      });
      form.KeysPage()->EditSelected();
    } else if (edit == "bad-key") {
      form.KeysPage()->List()->topLevelItem(4)->setText(1, "not a key");
    } else if (edit == "thumb") {
      form.ShowPage(form.ACPPage());
      TTrislider* ts2 = form.ACPPage()->Slider(2);
      ts2->setFocus();
      QTest::keyClick(ts2, Qt::Key_2);
      QTest::keyClick(ts2, Qt::Key_Right);
    } else if (edit.startsWith("element-")) {
      form.Queue().PostTriSlider({"TformACP", "ts"}, 2, edit.mid(8).toStdString());
      form.TimerTick();
    } else if (edit == "module") {
      form.ShowPage(form.GSMPage());
      QTest::mouseClick(Find<QRadioButton>(form.GSMPage(), "rb2"), Qt::LeftButton);
    } else if (edit == "ring") {
      form.ShowPage(form.GSMPage());
      QTest::keyClick(Find<QComboBox>(form.GSMPage(), "cbRing"), Qt::Key_Down);
    }

    QCOMPARE(Changes(before, form.PagesSettings(TGroups::AllWithAdc())), expected);
    QCOMPARE(gui::PagesAgainstModel(form), QStringList());
  }

  // Load, a panel's settings handed over (a read, the site library) and a
  // loop given both normal states: every page shows the model, the hidden
  // ones when they are shown, the ADC panes with the thresholds exactly.
  void modelChangesShowOnEveryPage() {
    TForm1 form(nullptr, false);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTemporaryDir dir;
    const QString file = dir.filePath("site.ini");
    QVERIFY(SaveSettingsFile(file, Distinct(), {}, true, nullptr));
    QVERIFY(form.LoadSettings(file));
    QCOMPARE(form.PagesSettings(TGroups::AllWithAdc()), Distinct());
    QCOMPARE(gui::PagesAgainstModel(form), QStringList());
    form.ShowPage(form.ACPPage());
    for (int k = 0; k < 5; ++k) QCOMPARE(form.ACPPage()->Slider(1)->GetPosition(k), 500 + k);
    QCOMPARE(Find<TPanel>(form.ACPPage(), "p1Z1")->Caption(), QString("503"));
    QCOMPARE(Find<TPanel>(form.ACPPage(), "pRaz2")->Caption(), QString("1023"));
    form.ShowPage(form.GSMPage());
    QVERIFY(Find<QRadioButton>(form.GSMPage(), "rb3")->isChecked());
    form.ShowPage(form.KeysPage());
    QCOMPARE(form.KeysPage()->List()->topLevelItem(9)->text(1), QString("00000000000000A9"));

    // Only the groups handed over change.
    TSettings panel;
    panel.Groups = TGroup::Keys | TGroup::Gsm;
    panel.Key[0] = "0123456789ABCDEF";
    panel.Ring = 2;
    form.ShowSettings(panel);
    const QStringList changes = Changes(Distinct(), form.PagesSettings(TGroups::AllWithAdc()));
    QCOMPARE(changes.size(), 10 + 2 + 1);  // every key, two of the module's flags, the ring
    QVERIFY(changes.contains("[Keys] Key0=0123456789ABCDEF"));
    QCOMPARE(gui::PagesAgainstModel(form), QStringList());
    form.ShowPage(form.CommonPage());
    QCOMPARE(Find<QLineEdit>(form.CommonPage(), "etPhone12")->text(), QString("+791600000011"));

    // Both rows of loop 2 as its normal state: the lower one, as the radio
    // buttons show it. React1 going off clears cbWaitSend on the page, which
    // then shows the model's WaitSend again, disabled.
    TSettings common = form.PagesSettings(TGroup::Common);
    common.Norm[5] = common.Norm[9] = true;
    common.React[0] = false;
    form.ShowSettings(common);
    QVERIFY(!form.PagesSettings(TGroup::Common).Norm[5]);
    QVERIFY(form.PagesSettings(TGroup::Common).Norm[9]);
    QVERIFY(form.PagesSettings(TGroup::Common).WaitSend);
    QCOMPARE(gui::PagesAgainstModel(form), QStringList());
    QVERIFY(!Find<QCheckBox>(form.CommonPage(), "cbWaitSend")->isEnabled());
  }

  // The file holds the model, value for value, whatever the controls could
  // draw; the file written is one that write accepts.
  void saveWritesTheModelExactly() {
    TForm1 form(nullptr, false);
    form.ShowSettings(Distinct());
    QTemporaryDir dir;
    const QString file = dir.filePath("saved.ini");
    QVERIFY(form.SaveSettings(file));
    TSettings saved;
    QCOMPARE(ReadSettingsForWrite(file, TGroups::AllWithAdc(), &saved), std::nullopt);
    QCOMPARE(saved, Distinct());
    QVERIFY(testfiles::ReadBytes(file).contains("[ts1]\r\nslider0=500\r\nslider1=501\r\n"));
  }

 private:
  gui::TSandbox sandbox;
};

QTEST_MAIN(TestSettingsView)
#include "tst_settings_view.moc"
