// The rules by which output elements change controls, one table over the
// control kinds, applied through the drain as the main window's timer does.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <functional>

#include "ui/Appliers.h"
#include "ui/NavBar.h"
#include "ui/Page.h"
#include "ui/Panel.h"
#include "ui/StatusPane.h"
#include "ui/Trislider.h"

namespace {

// A form with one control of every kind, named by its kind.
class TKindsForm : public TPage {
 public:
  TKindsForm() {
    setObjectName("Kinds");
    new QLabel("old", this);
    findChild<QLabel*>()->setObjectName("label");
    auto add = [this](QWidget* w, const char* name) { w->setObjectName(name); };
    add(new QLineEdit(this), "edit");
    auto* spin = new QSpinBox(this);
    spin->setRange(-1000, 1000);
    add(spin, "spin");
    add(new QCheckBox(this), "check");
    auto* radio1 = new QRadioButton(this);
    add(radio1, "radio");
    add(new QRadioButton(this), "radio2");
    add(new QPushButton(this), "button");
    add(new QToolButton(this), "tool");
    auto* combo = new QComboBox(this);
    combo->addItems({"1", "2", "3", "4", "5", "6"});
    add(combo, "combo");
    add(new TPanel(this), "panel");
    add(new QProgressBar(this), "progress");
    add(new QPlainTextEdit(this), "memo");
    add(new TRzStatusPane(this), "pane");
    add(new QGroupBox(this), "other");
    auto* slider = new TTrislider(this);
    slider->Max = 1023;
    slider->SetCount(5);
    add(slider, "slider");
    auto* list = new QTreeWidget(this);
    list->setColumnCount(2);
    for (int i = 1; i <= 10; ++i) new QTreeWidgetItem(list, {QString::number(i), "0000000000000000"});
    add(list, "list");
    auto* page = new TPage(this);
    add(page, "page");
    page->hide();
  }
};

}  // namespace

class TestAppliers : public QObject {
  Q_OBJECT

 private:
  // Posts the elements as the link thread would and drains them.
  void Apply(TKindsForm& form, const std::function<void(TOutArray&)>& post) {
    TOutArray queue;
    post(queue);
    applier.Resolve = [&form](const TTarget& t) -> QObject* {
      if (t.Form != "Kinds") return nullptr;
      return t.Name.empty() ? static_cast<QObject*>(&form) : form.findChild<QObject*>(QString::fromStdString(t.Name));
    };
    applier.ApplyOutput(queue);
  }
  TApplier applier;

 private slots:
  void controlText_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("state");  // what the check below reads back
    QTest::newRow("label-caption") << "label" << "abc" << "abc";
    QTest::newRow("label-repaint-keeps-caption") << "label" << "Repaint12345" << "old";
    QTest::newRow("label-broken-is-red") << "label" << QString::fromUtf8("СОЕДИНЕНИЕ РАЗОРВАНО") << "red";
    QTest::newRow("label-established-is-green") << "label" << QString::fromUtf8("СОЕДИНЕНИЕ УСТАНОВЛЕНО") << "green";
    QTest::newRow("edit") << "edit" << "+79161234567" << "+79161234567";
    QTest::newRow("spin-decimal") << "spin" << "-42" << "-42";
    QTest::newRow("spin-hex") << "spin" << "$1F" << "31";
    QTest::newRow("check-true") << "check" << "true" << "on";
    QTest::newRow("check-True-is-off") << "check" << "True" << "off";
    QTest::newRow("check-empty-is-off") << "check" << "" << "off";
    QTest::newRow("radio-true") << "radio" << "true" << "on";
    QTest::newRow("radio-false-switches-off") << "radio" << "false" << "off";
    QTest::newRow("button-click") << "button" << "Click" << "clicked";
    QTest::newRow("button-enable") << "button" << "true" << "enabled";
    QTest::newRow("button-disable") << "button" << "no" << "disabled";
    QTest::newRow("tool-click") << "tool" << "Click" << "clicked";
    QTest::newRow("combo-index") << "combo" << "2" << "2";
    QTest::newRow("combo-minus-one") << "combo" << "-1" << "-1";
    QTest::newRow("combo-beyond-last") << "combo" << "9" << "-1";
    QTest::newRow("panel-caption") << "panel" << "VER 05" << "VER 05";
    QTest::newRow("slider-is-a-panel") << "slider" << "x" << "x";
    QTest::newRow("progress") << "progress" << "50" << "50";
    QTest::newRow("page-show") << "page" << "Show" << "visible";
    QTest::newRow("page-hide-does-nothing") << "page" << "Hide" << "hidden";
    QTest::newRow("memo-appends") << "memo" << "line" << "old\nline";
    QTest::newRow("status-pane") << "pane" << "VER 05" << "VER 05";
    QTest::newRow("other-show") << "other" << "Show" << "visible";
    QTest::newRow("other-true-enables") << "other" << "true" << "enabled";
    QTest::newRow("other-text-disables") << "other" << "yes" << "disabled";
  }

  void controlText() {
    QFETCH(QString, control);
    QFETCH(QString, text);
    QFETCH(QString, state);
    TKindsForm form;
    form.show();
    auto* radio = form.findChild<QRadioButton*>("radio");
    radio->setChecked(true);
    form.findChild<QPlainTextEdit*>("memo")->setPlainText("old");
    form.findChild<QWidget*>("other")->hide();
    form.findChild<QWidget*>("other")->setEnabled(false);
    bool clicked = false;
    QObject::connect(form.findChild<QPushButton*>("button"), &QPushButton::clicked, [&] { clicked = true; });
    QObject::connect(form.findChild<QToolButton*>("tool"), &QToolButton::clicked, [&] { clicked = true; });

    Apply(form, [&](TOutArray& q) { q.PostControlText({"Kinds", control.toStdString()}, text.toStdString()); });

    QObject* c = form.findChild<QObject*>(control);
    QString actual;
    if (state == "red" || state == "green") {
      const QColor colour = static_cast<QLabel*>(c)->palette().color(QPalette::WindowText);
      actual = colour == QColor(Qt::red) ? "red" : colour == QColor(0, 0x80, 0) ? "green" : colour.name();
      QCOMPARE(static_cast<QLabel*>(c)->text(), text);
    } else if (state == "clicked") {
      actual = clicked ? "clicked" : "not clicked";
    } else if (state == "enabled" || state == "disabled") {
      actual = static_cast<QWidget*>(c)->isEnabled() ? "enabled" : "disabled";
    } else if (state == "visible" || state == "hidden") {
      actual = static_cast<QWidget*>(c)->isVisible() ? "visible" : "hidden";
    } else if (auto* label = qobject_cast<QLabel*>(c)) {
      actual = label->text();
    } else if (auto* edit = qobject_cast<QLineEdit*>(c)) {
      actual = edit->text();
    } else if (auto* spin = qobject_cast<QSpinBox*>(c)) {
      actual = QString::number(spin->value());
    } else if (auto* button = qobject_cast<QAbstractButton*>(c)) {
      actual = button->isChecked() ? "on" : "off";
    } else if (auto* combo = qobject_cast<QComboBox*>(c)) {
      actual = QString::number(combo->currentIndex());
    } else if (auto* panel = qobject_cast<TPanel*>(c)) {
      actual = panel->Caption();
    } else if (auto* progress = qobject_cast<QProgressBar*>(c)) {
      actual = QString::number(progress->value());
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(c)) {
      actual = memo->toPlainText();
    } else if (auto* pane = qobject_cast<TRzStatusPane*>(c)) {
      actual = pane->Caption();
    }
    QCOMPARE(actual, state);
  }

  void badNumberDropsOnlyItsElement() {
    TKindsForm form;
    Apply(form, [](TOutArray& q) {
      q.PostControlText({"Kinds", "spin"}, "7");
      q.PostControlText({"Kinds", "spin"}, "x7");
      q.PostControlText({"Kinds", "combo"}, "two");
      q.PostControlText({"Kinds", "edit"}, "after");
    });
    QCOMPARE(form.findChild<QSpinBox*>("spin")->value(), 7);
    QCOMPARE(form.findChild<QLineEdit*>("edit")->text(), QString("after"));
  }

  void listRowsSliderAndColours() {
    TKindsForm form;
    auto* slider = form.findChild<TTrislider*>("slider");
    const int thumb = slider->Position(2);
    Apply(form, [](TOutArray& q) {
      q.PostListItem({"Kinds", "list"}, "3", "0123456789ABCDEF", -1);
      q.PostListItem({"Kinds", "list"}, "11", "FEDCBA9876543210", 2);
      q.PostTriSlider({"Kinds", "slider"}, 120, "position");
      q.PostTriSlider({"Kinds", "slider"}, 4, "$100");
      q.PostControlColor({"Kinds", "label"}, clRed);
    });
    auto* list = form.findChild<QTreeWidget*>("list");
    QCOMPARE(list->topLevelItemCount(), 11);
    QCOMPARE(list->topLevelItem(2)->text(1), QString("0123456789ABCDEF"));
    QCOMPARE(list->topLevelItem(2)->data(0, Qt::UserRole).toInt(), -1);
    QCOMPARE(list->topLevelItem(10)->text(0), QString("11"));
    QCOMPARE(list->topLevelItem(10)->data(0, Qt::UserRole).toInt(), 2);
    QCOMPARE(slider->Level, 120);
    QCOMPARE(slider->Position(2), thumb);
    QCOMPARE(slider->Position(4), 256);
    QCOMPARE(form.findChild<QLabel*>("label")->text(), QString("old"));
  }

  void navigationItemsAndGroups() {
    TRzGroupBar bar;
    TRzGroup* group = bar.AddGroup("RzGroup2", "Ostrel");
    int runs = 0;
    TRzGroupItem* item = group->AddItem("Item", QIcon(), [&] { ++runs; });
    item->setEnabled(false);
    TApplier::ApplyGroupAction(item, "Click");
    TApplier::ApplyGroupAction(item, "Show");
    QCOMPARE(runs, 1);  // a disabled item's action still runs on "Click"
    TApplier::ApplyGroupAction(group, "false");
    QVERIFY(!group->isEnabled());
    TApplier::ApplyGroupAction(group, "true");
    QVERIFY(group->isEnabled());
  }

  void memoLinesAndTheLog() {
    QPlainTextEdit memo;
    QStringList logged;
    TApplier a;
    a.Memo = &memo;
    TOutArray queue;
    queue.PostMemo("hidden", false, false);
    queue.PostMemo("shown", true, false);
    a.ApplyOutput(queue);
    QCOMPARE(memo.toPlainText(), QString("shown"));
    a.LogLine = [&](const std::string& line) { logged << QString::fromStdString(line); };
    queue.PostMemo("hidden", false, false);
    queue.PostControlText({"Form1", "Memo1"}, "good=x");
    a.ApplyOutput(queue);
    QCOMPARE(logged, QStringList{"hidden"});
  }
};

QTEST_MAIN(TestAppliers)
#include "tst_appliers.moc"
