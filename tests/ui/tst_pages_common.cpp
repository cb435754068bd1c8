// The common settings page, the GSM page and the radio button they use.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

#include <memory>

#include "ui/RadioButton.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"

namespace {

template <typename T>
T* Find(QWidget* page, const QString& name) {
  auto* widget = page->findChild<T*>(name);
  if (widget == nullptr) qFatal("control %s missing", qPrintable(name));
  return widget;
}

QString N(const char* prefix, int n) { return QLatin1String(prefix) + QString::number(n); }

}  // namespace

class TstPagesCommon : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TformCommon> page_;
  QCheckBox* React(int n) { return Find<QCheckBox>(page_.get(), N("cbReact", n)); }
  TRadioButton* Norm(int n) { return Find<TRadioButton>(page_.get(), N("rbNorm", n)); }
  QLineEdit* Phone(int n) { return Find<QLineEdit>(page_.get(), N("etPhone", n)); }
  QCheckBox* WaitSend() { return Find<QCheckBox>(page_.get(), QStringLiteral("cbWaitSend")); }

 private slots:
  void init() {
    page_ = std::make_unique<TformCommon>();
    page_->resize(725, 415);
    page_->show();
    QVERIFY(QTest::qWaitForWindowExposed(page_.get()));
  }
  void cleanup() { page_.reset(); }

  void initialState() {
    QCOMPARE(page_->objectName(), QStringLiteral("TformCommon"));
    QCOMPARE(page_->windowTitle(), QStringLiteral("Общие установки"));
    for (int n = 1; n <= 12; ++n) {
      QCOMPARE(Phone(n)->text(), QString());
      QCOMPARE(Phone(n)->toolTip(), QStringLiteral("50"));
      QVERIFY(!React(n)->isChecked());
      if (n >= 5) {
        QVERIFY(!Norm(n)->isChecked());
        QCOMPARE(Norm(n)->text(), n <= 8 ? QStringLiteral("Замыкание") : QStringLiteral("Размыкание"));
      }
    }
    for (int loop = 1; loop <= 4; ++loop) {
      QVERIFY(!Find<QCheckBox>(page_.get(), N("cb24", loop))->isChecked());
      // The loop's two radio buttons share a frame of their own.
      auto* frame = Find<QGroupBox>(page_.get(), N("GroupBox", 2 + loop));
      QCOMPARE(Norm(4 + loop)->parentWidget(), frame);
      QCOMPARE(Norm(8 + loop)->parentWidget(), frame);
    }
    // Loop 1 sits in "Входная зона", the others directly in "Шлейфы".
    auto* zone = Find<QGroupBox>(page_.get(), QStringLiteral("GroupBox7"));
    QCOMPARE(zone->title(), QStringLiteral("Входная зона"));
    QVERIFY(zone->isAncestorOf(Phone(5)) && zone->isAncestorOf(Phone(9)));
    QVERIFY(!zone->isAncestorOf(Phone(6)));
    QCOMPARE(Find<QGroupBox>(page_.get(), QStringLiteral("GroupBox1"))->title(), QStringLiteral("События"));
    QCOMPARE(Find<QGroupBox>(page_.get(), QStringLiteral("GroupBox2"))->title(), QStringLiteral("Шлейфы"));
    QCOMPARE(Find<QLabel>(page_.get(), QStringLiteral("Label1"))->text(),
             QStringLiteral("Событие") + QString(27, QLatin1Char(' ')) + QStringLiteral("| Реакиця | Телефон"));
    for (const char* name : {"seTimeOut", "seTimeOut2"}) {
      auto* spin = Find<QSpinBox>(page_.get(), QLatin1String(name));
      QCOMPARE(spin->minimum(), 0);
      QCOMPARE(spin->maximum(), 255);
      QCOMPARE(spin->value(), 0);
    }
    QCOMPARE(Find<QCheckBox>(page_.get(), QStringLiteral("cbFastGuard"))->text(),
             QStringLiteral("Быстрая постановка на охрану"));
    QVERIFY(!WaitSend()->isChecked());
    QVERIFY(!WaitSend()->isEnabled());
  }

  void phoneFilter_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("letter-dropped") << "" << "a" << "";
    QTest::newRow("minus-dropped") << "" << "-" << "";
    QTest::newRow("space-dropped") << "" << " " << "";
    QTest::newRow("plus-and-digits") << "" << "+79123456789" << "+79123456789";
    QTest::newRow("mixed-keeps-only-allowed") << "" << "+7 (912) 345-67" << "+791234567";
    QTest::newRow("twenty-first-refused") << "" << "123456789012345678901" << "12345678901234567890";
    // Text set by the program (a panel read) is filtered as well; typing goes on after it.
    QTest::newRow("after-program-text") << "a1\r+b2" << "3x" << "1+23";
  }
  void phoneFilter() {
    QFETCH(QString, start);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    for (const int n : {1, 7, 12}) {
      QLineEdit* edit = Phone(n);
      edit->setText(start);
      edit->setCursorPosition(start.size());
      QTest::keyClicks(edit, typed);
      QCOMPARE(edit->text(), expected);
    }
  }

  void phoneBackspaceAndEditingKeys() {
    QLineEdit* edit = Phone(3);
    QTest::keyClicks(edit, "123");
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QStringLiteral("12"));
    QTest::keyClick(edit, Qt::Key_Home);
    QTest::keyClick(edit, Qt::Key_Delete);
    QCOMPARE(edit->text(), QStringLiteral("2"));
  }

  void normalStateRule_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("preselected");
    QTest::addColumn<int>("cleared");
    QTest::addColumn<int>("set");
    QTest::newRow("closed-left") << 6 << int(Qt::LeftButton) << false << 6 << 10;
    QTest::newRow("closed-left-already-selected") << 6 << int(Qt::LeftButton) << true << 6 << 10;
    QTest::newRow("open-left") << 10 << int(Qt::LeftButton) << false << 10 << 6;
    QTest::newRow("closed-right") << 7 << int(Qt::RightButton) << false << 7 << 11;
    QTest::newRow("open-right-already-selected") << 11 << int(Qt::RightButton) << true << 11 << 7;
    QTest::newRow("entry-zone-middle") << 5 << int(Qt::MiddleButton) << false << 5 << 9;
    QTest::newRow("two-digit-name") << 12 << int(Qt::LeftButton) << false << 12 << 8;
  }
  void normalStateRule() {
    QFETCH(int, n);
    QFETCH(int, button);
    QFETCH(bool, preselected);
    QFETCH(int, cleared);
    QFETCH(int, set);
    if (preselected) Norm(n)->SetOn(true);
    React(cleared)->setChecked(true);
    React(set)->setChecked(false);
    QTest::mouseClick(Norm(n), Qt::MouseButton(button), {}, QPoint(8, Norm(n)->height() / 2));
    QVERIFY(!React(cleared)->isChecked());
    QVERIFY(React(set)->isChecked());
    // Only a left click selects; the rule runs for every button.
    QCOMPARE(Norm(n)->isChecked(), preselected || button == Qt::LeftButton);
    // Other loops are untouched.
    const int otherLoop = (n - 5) % 4 == 0 ? 6 : 5;
    QVERIFY(!React(otherLoop)->isChecked());
  }

  void normalStateRuleNotByKeyboardOrProgram_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("arrow-key") << "arrow";
    QTest::newRow("space-key") << "space";
    QTest::newRow("program-SetOn") << "SetOn";
    QTest::newRow("program-setChecked") << "setChecked";
  }
  void normalStateRuleNotByKeyboardOrProgram() {
    QFETCH(QString, how);
    React(5)->setChecked(true);
    React(9)->setChecked(false);
    QSignalSpy released(Norm(9), &TRadioButton::MouseReleased);
    if (how == "arrow") {
      Norm(5)->SetOn(true);
      page_->activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(page_.get()));
      Norm(5)->setFocus();
      QTest::keyClick(Norm(5), Qt::Key_Down);
    } else if (how == "space") {
      QTest::keyClick(Norm(9), Qt::Key_Space);
    } else if (how == "SetOn") {
      Norm(9)->SetOn(true);
    } else {
      Norm(9)->setChecked(true);
    }
    QVERIFY2(Norm(9)->isChecked(), "the way of selecting under test did not select rbNorm9");
    QVERIFY(!Norm(5)->isChecked());
    QVERIFY(React(5)->isChecked());
    QVERIFY(!React(9)->isChecked());
    QCOMPARE(released.count(), 0);
  }

  void waitUntilSent_data() {
    QTest::addColumn<bool>("byUser");
    QTest::newRow("user-click") << true;
    QTest::newRow("program") << false;
  }
  void waitUntilSent() {
    QFETCH(bool, byUser);
    QCheckBox* react1 = React(1);
    auto toggle = [&](bool on) {
      if (byUser) {
        if (react1->isChecked() != on) QTest::mouseClick(react1, Qt::LeftButton);
      } else {
        react1->setChecked(on);
      }
      QCOMPARE(react1->isChecked(), on);
    };
    toggle(true);
    QVERIFY(WaitSend()->isEnabled());
    QVERIFY(!WaitSend()->isChecked());  // enabling leaves the check alone
    WaitSend()->setChecked(true);
    toggle(false);
    QVERIFY(!WaitSend()->isEnabled());
    QVERIFY(!WaitSend()->isChecked());
    toggle(true);
    QVERIFY(WaitSend()->isEnabled());
    QVERIFY(!WaitSend()->isChecked());
  }

  void clearPage() {
    for (int n = 1; n <= 12; ++n) {
      Phone(n)->setText(QStringLiteral("+7912") + QString::number(n));
      React(n)->setChecked(true);
    }
    for (int loop = 1; loop <= 4; ++loop) {
      Norm(loop % 2 ? 4 + loop : 8 + loop)->SetOn(true);
      Find<QCheckBox>(page_.get(), N("cb24", loop))->setChecked(true);
    }
    Find<QSpinBox>(page_.get(), QStringLiteral("seTimeOut"))->setValue(30);
    Find<QSpinBox>(page_.get(), QStringLiteral("seTimeOut2"))->setValue(10);
    Find<QCheckBox>(page_.get(), QStringLiteral("cbFastGuard"))->setChecked(true);
    WaitSend()->setChecked(true);

    page_->ClearPage();

    for (int n = 1; n <= 12; ++n) {
      QCOMPARE(Phone(n)->text(), QString());
      QVERIFY(!React(n)->isChecked());
      if (n >= 5) QVERIFY2(!Norm(n)->isChecked(), qPrintable(N("rbNorm", n)));
    }
    for (int loop = 1; loop <= 4; ++loop) QVERIFY(!Find<QCheckBox>(page_.get(), N("cb24", loop))->isChecked());
    QCOMPARE(Find<QSpinBox>(page_.get(), QStringLiteral("seTimeOut"))->value(), 0);
    QCOMPARE(Find<QSpinBox>(page_.get(), QStringLiteral("seTimeOut2"))->value(), 10);
    QVERIFY(!Find<QCheckBox>(page_.get(), QStringLiteral("cbFastGuard"))->isChecked());
    // Through the wait-until-sent rule, since cbReact1 went off.
    QVERIFY(!WaitSend()->isChecked());
    QVERIFY(!WaitSend()->isEnabled());

    // Normal states can be chosen again afterwards, and stay exclusive.
    Norm(6)->SetOn(true);
    Norm(10)->SetOn(true);
    QVERIFY(!Norm(6)->isChecked());
    QVERIFY(Norm(10)->isChecked());
  }

  void radioSetOn_data() {
    QTest::addColumn<bool>("inButtonGroup");
    QTest::newRow("auto-exclusive") << false;
    QTest::newRow("exclusive-button-group") << true;
  }
  void radioSetOn() {
    QFETCH(bool, inButtonGroup);
    QWidget frame;
    TRadioButton a(QStringLiteral("a"), &frame);
    TRadioButton b(QStringLiteral("b"), &frame);
    QButtonGroup group;
    if (inButtonGroup) {
      group.addButton(&a);
      group.addButton(&b);
    }
    QSignalSpy released(&a, &TRadioButton::MouseReleased);
    a.SetOn(true);
    QVERIFY(a.IsOn());
    b.SetOn(true);
    QVERIFY(!a.IsOn() && b.IsOn());
    b.SetOn(false);
    QVERIFY(!a.IsOn() && !b.IsOn());
    // Exclusion still holds afterwards.
    a.SetOn(true);
    b.SetOn(true);
    QVERIFY(!a.IsOn() && b.IsOn());
    QVERIFY(b.autoExclusive());
    if (inButtonGroup) QVERIFY(group.exclusive());
    // A plain setChecked(false) is refused by Qt; that is why SetOn exists.
    b.setChecked(false);
    QVERIFY(b.IsOn());
    QCOMPARE(released.count(), 0);
  }

  void gsmPage() {
    TformGSM gsm;
    QCOMPARE(gsm.objectName(), QStringLiteral("TformGSM"));
    auto* module = Find<QGroupBox>(&gsm, QStringLiteral("RzGroupBox1"));
    QCOMPARE(module->title(), QStringLiteral("Подлючённый GSM модуль"));
    QCOMPARE(Find<QGroupBox>(&gsm, QStringLiteral("RzGroupBox2"))->title(), QStringLiteral("Настройка"));
    const QStringList captions{"Siemens 35", "Siemens 45", "Модем"};
    for (int i = 1; i <= 3; ++i) {
      auto* radio = Find<TRadioButton>(&gsm, N("rb", i));
      QCOMPARE(radio->parentWidget(), module);
      QCOMPARE(radio->text(), captions[i - 1]);
      QCOMPARE(radio->isChecked(), i == 1);
    }
    QCOMPARE(Find<QLabel>(&gsm, QStringLiteral("lbRing"))->text(), QStringLiteral("Длительность звонка"));
    auto* ring = Find<QComboBox>(&gsm, QStringLiteral("cbRing"));
    QVERIFY(!ring->isEditable());
    QCOMPARE(ring->count(), 6);
    for (int i = 0; i < 6; ++i) QCOMPARE(ring->itemText(i), QString::number(i + 1));
    QCOMPARE(ring->currentIndex(), 0);
    // A settings file with every module false leaves none selected.
    for (int i = 1; i <= 3; ++i) Find<TRadioButton>(&gsm, N("rb", i))->SetOn(false);
    for (int i = 1; i <= 3; ++i) QVERIFY(!Find<TRadioButton>(&gsm, N("rb", i))->isChecked());
  }
};

QTEST_MAIN(TstPagesCommon)
#include "tst_pages_common.moc"
