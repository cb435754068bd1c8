// The window as a desktop program: Qt's Russian texts and the icon, the
// wheel guard, the readable connection status, keyboard use of the
// navigation and the key list, accessible names, and the layout at small
// window sizes.
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

#include "tests/ui/GuiFixture.h"
#include "ui/Sites.h"
#include "ui/AppSetup.h"
#include "ui/CompareDlg.h"
#include "ui/ConnectDlg.h"
#include "ui/KeyDialog.h"
#include "ui/NavBar.h"
#include "ui/Panel.h"
#include "ui/Trislider.h"
#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/f_keys.h"

namespace {

void Wheel(QWidget* target, int steps) {
  const QPointF at(target->width() / 2.0, target->height() / 2.0);
  QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120 * steps), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &event);
}

QString AccessibleName(QObject* object) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
  return iface ? iface->text(QAccessible::Name) : QStringLiteral("<none>");
}

// The visible navigation items, in the bar's coordinates.
QList<QRect> ItemRects(TForm1& form) {
  QList<QRect> rects;
  for (auto* item : form.NavigationBar()->findChildren<TRzGroupItem*>())
    if (item->isVisibleTo(&form))
      rects << QRect(item->mapTo(form.NavigationBar(), QPoint(0, 0)), item->size());
  return rects;
}


// The texts of root's visible labels, buttons, check boxes, radio buttons,
// panes and navigation items that do not fit the space their widget has
// (the status panes elide theirs, with the whole text in a tooltip).
QStringList ClippedTexts(QWidget* root) {
  QStringList clipped;
  const auto fits = [](const QWidget* w, const QString& text, int room) {
    return w->fontMetrics().horizontalAdvance(text) <= room;
  };
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(root) || w->width() <= 0) continue;
    QString text;
    bool ok = true;
    if (auto* label = qobject_cast<QLabel*>(w)) {
      text = label->text();
      if (text.isEmpty() || label->textFormat() == Qt::RichText || Qt::mightBeRichText(text)) continue;
      const QRect room = label->contentsRect();
      ok = label->wordWrap() ? label->heightForWidth(room.width()) <= room.height() : fits(label, text, room.width());
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
      text = box->text();
      ok = box->sizeHint().width() <= box->width();
    } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
      text = radio->text();
      ok = radio->sizeHint().width() <= radio->width();
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
      text = button->text().remove('&');
      ok = fits(button, text, button->width() - 6);
    } else if (auto* item = qobject_cast<TRzGroupItem*>(w)) {
      text = item->Caption();
      ok = item->sizeHint().width() <= item->width();
    } else if (auto* panel = qobject_cast<TPanel*>(w)) {
      text = panel->Caption();
      ok = text.isEmpty() || fits(panel, text, panel->contentsRect().width());
    }
    if (!ok) clipped << w->objectName() + ": " + text;
  }
  return clipped;
}

}  // namespace

class TestDesktop : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { SetUpApplication(); }
  void init() { sandbox.Enter(); }
  void cleanup() { sandbox.Leave(); }

  // Qt's own dialogs and buttons speak Russian, and the window has its icon
  // once it is shown.
  void russianDialogsAndTheIcon() {
    QVERIFY(LoadQtTranslations());
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString::fromUtf8("Отмена"));
    QVERIFY(QCoreApplication::translate("QFileDialog", "Look in:") != QLatin1String("Look in:"));
    QVERIFY(QCoreApplication::translate("QFileDialog", "%1 already exists.\nDo you want to replace it?") !=
            QLatin1String("%1 already exists.\nDo you want to replace it?"));
    QVERIFY(!ProgramIcon().pixmap(48).isNull());  // the SVG renders
    TForm1 form;
    form.show();
    QTRY_VERIFY(!form.windowIcon().isNull());  // once the window is on the screen
    QCOMPARE(form.windowTitle(), QString::fromUtf8("Настройка охранной панели \"Ostrel GSM\" v1.012"));
  }

  // An unfocused spin box or combo box ignores the wheel and the page
  // scrolls; with the focus the wheel still works.
  void wheelLeavesUnfocusedControlsAlone() {
    TForm1 form;
    form.resize(800, 450);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* delay = form.CommonPage()->findChild<QSpinBox*>("seTimeOut");
    auto* scroll = form.CommonPage()->findChild<QScrollArea*>("ScrollBox1")->verticalScrollBar();
    delay->setValue(10);
    QVERIFY(scroll->maximum() > 0);
    scroll->setValue(scroll->maximum());
    Wheel(delay, 1);
    QCOMPARE(delay->value(), 10);
    QVERIFY(scroll->value() < scroll->maximum());

    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    delay->setFocus();
    QVERIFY(delay->hasFocus());
    Wheel(delay, 1);
    QCOMPARE(delay->value(), 11);

    gui::NavItem(form, "GSM")->Click();
    auto* ring = form.GSMPage()->findChild<QComboBox*>("cbRing");
    ring->setCurrentIndex(5);
    Wheel(ring, 2);
    QCOMPARE(ring->currentIndex(), 5);
  }

  // Panel2 wraps a long status over its lines and elides what still does not
  // fit in the middle, with the whole text as its tooltip.
  void longStatusStaysReadable() {
    TForm1 form;
    TPanel* panel2 = form.SplashDialog()->Panel2();
    const QString refused = QString::fromUtf8(
        "Ошибка при открытии COM порта: /dev/ttyUSB0: нет прав доступа. Нет прав на порт: добавьте "
        "пользователя в группу dialout и войдите в систему заново");
    panel2->SetCaption(refused);
    QStringList lines = panel2->CaptionLines();
    QVERIFY2(lines.size() >= 2 && lines.size() <= 4, qPrintable(lines.join('|')));
    // Nothing is cut: the lines hold the whole text (broken at spaces or "/").
    QCOMPARE(lines.join(QString()).remove(' '), QString(refused).remove(' '));
    const QFontMetrics metrics(panel2->font());
    for (const QString& line : lines) QVERIFY(metrics.horizontalAdvance(line) <= panel2->contentsRect().width());
    QCOMPARE(panel2->toolTip(), refused);  // wrapped text is read more easily whole

    const QString endless = QString::fromUtf8("Ошибка при открытии COM порта: ") + QString(300, 'x') + "/END";
    panel2->SetCaption(endless);
    lines = panel2->CaptionLines();
    QVERIFY(lines.last().contains(QChar(0x2026)));
    QVERIFY(lines.last().endsWith("/END"));
    QCOMPARE(panel2->toolTip(), endless);

    panel2->SetCaption(QString::fromUtf8("СОЕДИНЕНИЕ УСТАНОВЛЕНО"));
    QCOMPARE(panel2->CaptionLines(), QStringList{QString::fromUtf8("СОЕДИНЕНИЕ УСТАНОВЛЕНО")});
    QCOMPARE(panel2->toolTip(), QString());
  }

  // The navigation items take the focus and act on Enter and Space; the
  // item of the page shown is marked, and a disabled item is skipped.
  void navigationFromTheKeyboard() {
    TForm1 form;
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    TRzGroupItem* common = gui::NavItem(form, "Общие");
    QVERIFY(common->IsCurrent());
    common->setFocus();
    QVERIFY(common->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QCOMPARE(QApplication::focusWidget(), gui::NavItem(form, "Ключи"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QVERIFY(form.KeysPage()->isVisible());
    QVERIFY(gui::NavItem(form, "Ключи")->IsCurrent());
    QVERIFY(!common->IsCurrent());
    // "АЦП" is hidden, so Tab goes on to "GSM".
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), gui::NavItem(form, "GSM"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(form.GSMPage()->isVisible());
    // Up from "Подключиться" never lands on the disabled "Отключиться".
    gui::NavItem(form, "Подключиться")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QVERIFY(QApplication::focusWidget() != gui::NavItem(form, "Отключиться"));

    // The ADC item appears when asked for (ostrelgsm4 --adc).
    form.SetAdcItemVisible(true);
    gui::NavItem(form, "GSM")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), gui::NavItem(form, "АЦП"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    QVERIFY(form.ACPPage()->isVisible());

    // Read all brings pages to the front by itself; the mark follows.
    TApplier::ApplyControlText(form.KeysPage(), "Show");
    QVERIFY(gui::NavItem(form, "Ключи")->IsCurrent());
    QVERIFY(!gui::NavItem(form, "АЦП")->IsCurrent());
  }

  // Menus carry mnemonics and F10 opens the menu bar.
  void menusFromTheKeyboard() {
    TForm1 form;
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(form.menuBar()->actions().first()->text(), QString::fromUtf8("&Файл"));
    QCOMPARE(form.findChild<QAction*>("mnuLog")->text(), QString::fromUtf8("&Записывать информацию в лог файл"));
    QTest::keyClick(&form, Qt::Key_F10);
    QCOMPARE(form.menuBar()->activeAction(), form.menuBar()->actions().first());
    QTest::keyClick(QApplication::activePopupWidget() ? QApplication::activePopupWidget() : form.menuBar(),
                    Qt::Key_Escape);
  }

  // Enter and F2 in the key list edit the selected key, as a double-click does.
  void keyListEditsOnEnterAndF2() {
    TForm1 form;
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    gui::NavItem(form, "Ключи")->Click();
    QTreeWidget* list = form.KeysPage()->List();
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(2));
    TOKRightDlg* dialog = form.KeysPage()->KeyDialog();
    QTimer::singleShot(0, dialog, [dialog] {
      dialog->KeyEdit()->setText("00112233445566AA");
      dialog->accept();
    });
    QTest::keyClick(list, Qt::Key_F2);
    QCOMPARE(list->topLevelItem(2)->text(1), QString("00112233445566AA"));

    list->setCurrentItem(list->topLevelItem(3));
    QTimer::singleShot(0, dialog, [dialog] {
      dialog->KeyEdit()->setText("FFFF");
      dialog->reject();
    });
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(dialog->KeyEdit()->text(), QString("FFFF"));  // the dialog did run
    QCOMPARE(list->topLevelItem(3)->text(1), TformKeys::EmptyKey);
  }

  // Every control a person uses has a name a screen reader can say.
  void accessibleNames() {
    TForm1 form;
    form.SetAdcItemVisible(true);
    TformCommon* common = form.CommonPage();
    QCOMPARE(AccessibleName(common->findChild<QCheckBox*>("cbReact1")),
             QString::fromUtf8("Реакция, Постановка на охрану"));
    QCOMPARE(AccessibleName(common->findChild<QCheckBox*>("cbReact5")),
             QString::fromUtf8("Реакция, шлейф 1, замыкание"));
    QCOMPARE(AccessibleName(common->findChild<QCheckBox*>("cbReact12")),
             QString::fromUtf8("Реакция, шлейф 4, размыкание"));
    QCOMPARE(AccessibleName(common->findChild<QLineEdit*>("etPhone9")),
             QString::fromUtf8("Телефон, шлейф 1, размыкание"));
    QCOMPARE(AccessibleName(common->findChild<QCheckBox*>("cb243")), QString::fromUtf8("24 часа, шлейф 3"));
    QCOMPARE(AccessibleName(common->findChild<QSpinBox*>("seTimeOut2")), QString::fromUtf8("Задержка на выход"));
    for (QLabel* label : common->findChildren<QLabel*>())
      if (label->text() == QString::fromUtf8("Сбой питания"))
        QCOMPARE(label->buddy(), common->findChild<QWidget*>("etPhone3"));
    // On Linux a combo box says its current item as its name, and its label
    // through the buddy relation.
    auto* ring = form.GSMPage()->findChild<QComboBox*>("cbRing");
    QCOMPARE(ring->accessibleName(), QString::fromUtf8("Длительность звонка"));
    const auto labelled = QAccessible::queryAccessibleInterface(ring)->relations(QAccessible::Label);
    QVERIFY(!labelled.isEmpty());
    QCOMPARE(labelled.first().first->object(), form.GSMPage()->findChild<QObject*>("lbRing"));
    QCOMPARE(AccessibleName(form.KeysPage()->List()), QString::fromUtf8("Ключи Touch Memory"));

    // A navigation item is a button that can be pressed, checked while its
    // page is shown.
    QAccessibleInterface* keys = QAccessible::queryAccessibleInterface(gui::NavItem(form, "Ключи"));
    QCOMPARE(keys->role(), QAccessible::Button);
    QCOMPARE(keys->text(QAccessible::Name), QString::fromUtf8("Ключи"));
    QVERIFY(!keys->state().checked);
    QAccessibleActionInterface* press = keys->actionInterface();
    QVERIFY(press && press->actionNames().contains(QAccessibleActionInterface::pressAction()));
    press->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(form.Device().GetPage(), std::string("TformKeys"));
    QVERIFY(keys->state().checked);
    QAccessibleInterface* readAll = QAccessible::queryAccessibleInterface(gui::NavItem(form, "Прочитать всё"));
    QVERIFY(readAll->text(QAccessible::Description).contains("Ctrl+Shift+R"));

    // The slider's thumbs are its children, each with its threshold as value.
    TTrislider* ts = form.ACPPage()->Slider(1);
    for (int k = 1; k < 5; ++k) ts->SetPosition(k, 200 + 100 * k);
    QAccessibleInterface* slider = QAccessible::queryAccessibleInterface(ts);
    QCOMPARE(slider->text(QAccessible::Name), QString::fromUtf8("Канал АЦП 1"));
    QCOMPARE(slider->childCount(), 5);
    QAccessibleInterface* thumb = slider->child(1);
    QCOMPARE(thumb->role(), QAccessible::Slider);
    QCOMPARE(thumb->text(QAccessible::Name), QString::fromUtf8("Оба замкнуты, Канал АЦП 1"));
    QCOMPARE(thumb->text(QAccessible::Value), QString("300"));
    QCOMPARE(slider->indexOfChild(thumb), 1);
    QCOMPARE(thumb->parent(), slider);
    QAccessibleValueInterface* value = thumb->valueInterface();
    QCOMPARE(value->maximumValue().toInt(), 1023);
    value->setCurrentValue(350);
    QCOMPARE(ts->GetPosition(1), 350);
    value->setCurrentValue(900);  // as a user's move: as far as the next thumb
    QCOMPARE(ts->GetPosition(1), 400);
    QCOMPARE(AccessibleName(form.ACPPage()->findChild<QWidget*>("pRaz2")), QString::fromUtf8("Оба разомкнуты, канал 2"));
  }

  // The port dialog follows adapters plugged in and out while it is up,
  // keeps the text in its box, and tells each port's adapter in a tooltip.
  void portListFollowsTheSystem() {
    QStringList ports{"ttyUSB1", "ttyACM0"};
    TdlgConnect::ListPorts = [&] { return ports; };
    TdlgConnect::DescribePort = [](const QString& port) {
      return port.startsWith("ttyUSB") ? QString("FT232R USB UART, FTDI") : QString();
    };
    {
      TForm1 form;
      TdlgConnect* dialog = form.ConnectDialog();
      QComboBox* box = dialog->ComPorts();
      box->setEditText("/dev/pts/7");
      dialog->show();
      QTRY_COMPARE_WITH_TIMEOUT(box->count(), 2, 10000);
      QCOMPARE(box->itemText(0), QString("ttyACM0"));
      QCOMPARE(box->itemText(1), QString("ttyUSB1"));
      QCOMPARE(box->currentText(), QString("/dev/pts/7"));
      QCOMPARE(box->itemData(1, Qt::ToolTipRole).toString(), QString("FT232R USB UART, FTDI"));
      QVERIFY(!box->itemData(0, Qt::ToolTipRole).isValid());

      ports = QStringList{"ttyUSB1", "ttyUSB0"};  // one unplugged, one plugged in
      QTRY_COMPARE_WITH_TIMEOUT(box->itemText(0), QString("ttyUSB0"), 10000);
      QCOMPARE(box->count(), 2);
      QCOMPARE(box->itemText(1), QString("ttyUSB1"));
      QCOMPARE(box->currentText(), QString("/dev/pts/7"));
      QCOMPARE(box->itemData(0, Qt::ToolTipRole).toString(), QString("FT232R USB UART, FTDI"));
      QCOMPARE(box->itemData(0, TdlgConnect::DescriptionRole).toString(), QString("FT232R USB UART, FTDI"));
      QCOMPARE(dialog->findChild<QPushButton*>("CancelBtn")->text(), QString::fromUtf8("Отмена"));

      // Opening the list keeps the remembered port, listed or not (a
      // pseudo-terminal never is); a pick replaces it, and Cancel gives back
      // the port the dialog opened with.
      dialog->ComPortsDropDown();
      QCOMPARE(box->currentText(), QString("/dev/pts/7"));
      QCOMPARE(box->lineEdit()->text(), QString("/dev/pts/7"));
      box->setCurrentIndex(1);
      QCOMPARE(box->currentText(), QString("ttyUSB1"));
      dialog->reject();
      QCOMPARE(box->currentText(), QString("/dev/pts/7"));
      // A listed port stays selected through a drop-down.
      box->setEditText("ttyUSB1");
      dialog->show();
      dialog->ComPortsDropDown();
      QCOMPARE(box->currentIndex(), 1);
      QCOMPARE(box->currentText(), QString("ttyUSB1"));
      dialog->hide();
    }
    TdlgConnect::ListPorts = &TdlgConnect::SystemPorts;
    TdlgConnect::DescribePort = &TdlgConnect::SystemPortDescription;
  }

  // At 800 x 450, connected (all four groups shown), and at the smallest
  // size, no navigation item overlaps another or shrinks; the bar scrolls.
  void smallWindowsKeepTheNavigationWhole() {
    TForm1 form;
    form.findChild<QWidget*>("RzGroup3")->show();  // as when connected
    form.resize(800, 450);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (const QSize size : {QSize(800, 450), form.minimumSize()}) {
      form.resize(size);
      QApplication::processEvents();
      const QList<QRect> rects = ItemRects(form);
      QCOMPARE(rects.size(), 14);  // with the two items of "Объекты"
      for (int i = 0; i < rects.size(); ++i) {
        QVERIFY(rects[i].height() >= 22);
        for (int j = i + 1; j < rects.size(); ++j) QVERIFY(!rects[i].intersects(rects[j]));
      }
      auto* navScroll = form.findChild<QScrollArea*>("RzGroupBarScroll");
      QVERIFY(navScroll->verticalScrollBar()->maximum() > 0);
      QVERIFY(form.Memo()->height() > 30);
    }
    form.resize(300, 200);
    QVERIFY(form.width() >= 640 && form.height() >= 400);
  }


  // At 1280 x 800 and 800 x 450, on every page and in the connection
  // dialog, no text is cut off by its control.
  void textsAreNotClipped() {
    TForm1 form;
    form.findChild<QWidget*>("RzGroup3")->show();  // as when connected
    form.SetAdcItemVisible(true);
    form.Sites()->SetCurrentSite(QString::fromUtf8("Склад на Лесной, корпус 7"));
    form.Sites()->OfferBar()->show();  // as after a read with no current site
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (const QSize size : {QSize(1280, 800), QSize(800, 450)}) {
      form.resize(size);
      for (TPage* page : {static_cast<TPage*>(form.CommonPage()), static_cast<TPage*>(form.KeysPage()),
                          static_cast<TPage*>(form.GSMPage()), static_cast<TPage*>(form.ACPPage()),
                          static_cast<TPage*>(form.Sites()->Page())}) {
        form.ShowPage(page);
        QApplication::processEvents();
        const QStringList clipped = ClippedTexts(&form);
        QVERIFY2(clipped.isEmpty(), qPrintable(page->objectName() + " " + QString::number(size.width()) + ": " +
                                               clipped.join(" | ")));
      }
    }
    TdlgConnect* dialog = form.ConnectDialog();
    dialog->show();
    QApplication::processEvents();
    QStringList clipped = ClippedTexts(dialog);
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(" | ")));
    dialog->hide();

    // The compare dialog: its header and every cell of its table.
    TSettings panel;
    panel.Groups = TGroups::AllWithAdc();
    TSettings pages = panel;
    panel.Phone[1] = "+79161112233";
    pages.Phone[1] = "+79030000003";
    pages.Key[3] = "DEADBEEF00112233";
    pages.Threshold[0][1] = 512;
    pages.Hours24[2] = true;
    TdlgCompare compare(&form);
    compare.Show(Differences(panel, pages));
    compare.show();
    QApplication::processEvents();
    clipped = ClippedTexts(&compare);
    QTableWidget* table = compare.Table();
    QCOMPARE(table->rowCount(), 4);
    for (int row = 0; row < table->rowCount(); ++row) {
      for (int column = 0; column < table->columnCount(); ++column) {
        const QString text = table->item(row, column)->text();
        if (table->fontMetrics().horizontalAdvance(text) + 6 > table->columnWidth(column)) clipped << text;
      }
    }
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(" | ")));
  }
 private:
  gui::TSandbox sandbox;
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
