// The keys page and the key entry dialog.
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <memory>

#include "ui/KeyDialog.h"
#include "ui/f_keys.h"

class TstKeyDialog : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TOKRightDlg> dialog_;
  std::unique_ptr<TformKeys> page_;
  QStringList messages_;
  bool dialogShown_ = false;

  QString Key(int row) const { return page_->List()->topLevelItem(row - 1)->text(1); }

  // Runs act on the dialog once it is up modally. If act leaves it open, it
  // is cancelled, so that a fault cannot hang the test.
  void WhenShown(const std::function<void(TOKRightDlg*)>& act) {
    QTimer::singleShot(0, this, [this, act] {
      auto* dialog = qobject_cast<TOKRightDlg*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      dialogShown_ = true;
      act(dialog);
      if (dialog->isVisible()) dialog->reject();
    });
  }

  // Double-clicks row (1-based) of the list, as a user would.
  void DoubleClickRow(int row) {
    QTreeWidget* list = page_->List();
    const QRect r = list->visualItemRect(list->topLevelItem(row - 1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
  }

 private slots:
  void init() {
    messages_.clear();
    dialogShown_ = false;
    TOKRightDlg::MessageHook = [this](const QString& text) { messages_ << text; };
    dialog_ = std::make_unique<TOKRightDlg>();
    page_ = std::make_unique<TformKeys>();
    page_->SetKeyDialog(dialog_.get());
    page_->resize(725, 415);
    page_->show();
    QVERIFY(QTest::qWaitForWindowExposed(page_.get()));
  }
  void cleanup() {
    page_.reset();
    dialog_.reset();
    TOKRightDlg::MessageHook = nullptr;
  }

  void initialRows() {
    QCOMPARE(page_->objectName(), QStringLiteral("TformKeys"));
    QCOMPARE(page_->windowTitle(), QStringLiteral("Ключи"));
    auto* list = page_->findChild<QTreeWidget*>(QStringLiteral("TMLV"));
    QCOMPARE(list, page_->List());
    QCOMPARE(list->headerItem()->text(0), QStringLiteral("№"));
    QCOMPARE(list->headerItem()->text(1), QStringLiteral("Ключ Touch Memory"));
    QCOMPARE(list->columnWidth(1), 150);
    QVERIFY(!list->header()->sectionsClickable());
    QCOMPARE(list->topLevelItemCount(), 10);
    for (int i = 1; i <= 10; ++i) {
      QTreeWidgetItem* item = list->topLevelItem(i - 1);
      QCOMPARE(item->text(0), QString::number(i));
      QCOMPARE(item->text(1), QStringLiteral("0000000000000000"));
      QCOMPARE(item->data(0, TformKeys::StateImageRole).toInt(), -1);
    }
  }

  void clearPage() {
    QTreeWidget* list = page_->List();
    list->topLevelItem(2)->setText(1, QStringLiteral("0123456789ABCDEF"));
    list->topLevelItem(2)->setText(0, QStringLiteral("77"));
    list->topLevelItem(4)->setData(0, TformKeys::StateImageRole, 3);
    new QTreeWidgetItem(list, {QStringLiteral("11"), QStringLiteral("FFFFFFFFFFFFFFFF")});
    page_->ClearPage();
    QCOMPARE(list->topLevelItemCount(), 10);
    for (int i = 1; i <= 10; ++i) {
      QCOMPARE(list->topLevelItem(i - 1)->text(0), QString::number(i));
      QCOMPARE(Key(i), QStringLiteral("0000000000000000"));
      QCOMPARE(list->topLevelItem(i - 1)->data(0, TformKeys::StateImageRole).toInt(), -1);
    }
  }

  void keyFilter_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("digits") << "0123456789" << "0123456789";
    QTest::newRow("lower-hex-becomes-upper") << "abcdef" << "ABCDEF";
    QTest::newRow("upper-hex") << "ABCDEF" << "ABCDEF";
    QTest::newRow("beyond-f-dropped") << "gGzZ" << "";
    QTest::newRow("minus-space-dropped") << "- " << "";
    QTest::newRow("mixed") << "12-ab cd!9" << "12ABCD9";
    QTest::newRow("seventeenth-refused") << "0123456789abcdef0" << "0123456789ABCDEF";
  }
  void keyFilter() {
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QLineEdit* edit = dialog_->KeyEdit();
    QCOMPARE(edit->objectName(), QStringLiteral("KeyEdit"));
    edit->clear();
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), expected);
  }

  void keyFilterBackspaceAndSelection() {
    QLineEdit* edit = dialog_->KeyEdit();
    edit->clear();
    QTest::keyClicks(edit, "12ab");
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QStringLiteral("12A"));
    // A typed letter replaces the selection, as typing does.
    edit->selectAll();
    QTest::keyClicks(edit, "f");
    QCOMPARE(edit->text(), QStringLiteral("F"));
  }

  void dialogLayout() {
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("Ключ Touch Memory"));
    QCOMPARE(dialog_->size(), QSize(316, 80));
    QVERIFY(dialog_->OKBtn()->isDefault());
    QCOMPARE(dialog_->OKBtn()->text(), QStringLiteral("OK"));
    QCOMPARE(dialog_->CancelBtn()->text(), QStringLiteral("Отмена"));
    QVERIFY(dialog_->findChild<QWidget*>(QStringLiteral("Bevel1")) != nullptr);
  }

  void okCheck_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("byEnter");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("key");
    QTest::newRow("sixteen-ok-button") << "0123456789ABCDEF" << false << true << "0123456789ABCDEF";
    QTest::newRow("sixteen-enter") << "0123456789ABCDEF" << true << true << "0123456789ABCDEF";
    QTest::newRow("fifteen-padded") << "123456789ABCDEF" << false << true << "0123456789ABCDEF";
    QTest::newRow("one-enter-padded") << "A" << true << true << "000000000000000A";
    QTest::newRow("empty-refused") << "" << false << false << "";
    QTest::newRow("empty-enter-refused") << "" << true << false << "";
  }
  void okCheck() {
    QFETCH(QString, text);
    QFETCH(bool, byEnter);
    QFETCH(bool, accepted);
    QFETCH(QString, key);
    bool stayedOpen = false;
    QString textAfter;
    WhenShown([&](TOKRightDlg* dialog) {
      dialog->KeyEdit()->setText(text);
      if (byEnter) {
        QTest::keyClick(dialog->KeyEdit(), Qt::Key_Return);
      } else {
        QTest::mouseClick(dialog->OKBtn(), Qt::LeftButton);
      }
      stayedOpen = dialog->isVisible();
      textAfter = dialog->KeyEdit()->text();
    });
    const int result = dialog_->exec();
    QVERIFY(dialogShown_);
    QCOMPARE(result == QDialog::Accepted, accepted);
    QCOMPARE(stayedOpen, !accepted);
    QCOMPARE(textAfter, key);
    if (accepted) {
      QVERIFY(messages_.isEmpty());
    } else {
      QCOMPARE(messages_, QStringList{QStringLiteral("Введите ключ: от 1 до 16 шестнадцатеричных цифр (0–9, A–F)")});
    }
  }

  void escapeCancels() {
    WhenShown([](TOKRightDlg* dialog) {
      dialog->KeyEdit()->setText(QStringLiteral("0123456789ABCDEF"));
      QTest::keyClick(dialog->KeyEdit(), Qt::Key_Escape);
    });
    QCOMPARE(dialog_->exec(), int(QDialog::Rejected));
    QVERIFY(dialogShown_);
  }

  void editRow_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("rowAfter");
    QTest::addColumn<int>("messageCount");
    QTest::newRow("mixed-case-stored-upper") << "01ab23cd45ef6789" << "ok" << "01AB23CD45EF6789" << 0;
    QTest::newRow("cancel-keeps-row") << "01ab23cd45ef6789" << "cancel" << "0011223344556677" << 0;
    QTest::newRow("short-padded") << "1ab23cd45ef678" << "ok" << "001AB23CD45EF678" << 0;
    QTest::newRow("empty-then-cancel") << "" << "ok-then-cancel" << "0011223344556677" << 1;
    QTest::newRow("close-window-keeps-row") << "01ab23cd45ef6789" << "close" << "0011223344556677" << 0;
  }
  void editRow() {
    QFETCH(QString, typed);
    QFETCH(QString, button);
    QFETCH(QString, rowAfter);
    QFETCH(int, messageCount);
    page_->List()->topLevelItem(2)->setText(1, QStringLiteral("0011223344556677"));
    QString shownKey;
    WhenShown([&](TOKRightDlg* dialog) {
      shownKey = dialog->KeyEdit()->text();
      dialog->KeyEdit()->clear();
      QTest::keyClicks(dialog->KeyEdit(), typed);
      if (button == "ok") {
        QTest::mouseClick(dialog->OKBtn(), Qt::LeftButton);
      } else if (button == "cancel") {
        QTest::mouseClick(dialog->CancelBtn(), Qt::LeftButton);
      } else if (button == "close") {
        dialog->close();
      } else {
        QTest::mouseClick(dialog->OKBtn(), Qt::LeftButton);
        QVERIFY(dialog->isVisible());
        QCOMPARE(Key(3), QStringLiteral("0011223344556677"));
        QTest::mouseClick(dialog->CancelBtn(), Qt::LeftButton);
      }
    });
    DoubleClickRow(3);
    QVERIFY(dialogShown_);
    QCOMPARE(shownKey, QStringLiteral("0011223344556677"));
    QCOMPARE(Key(3), rowAfter);
    QCOMPARE(page_->List()->topLevelItem(2)->text(0), QStringLiteral("3"));
    QCOMPARE(messages_.size(), messageCount);
    for (int row : {1, 2, 4, 10}) QCOMPARE(Key(row), QStringLiteral("0000000000000000"));
  }

  void doubleClickWithoutSelectionOpensNothing_data() {
    QTest::addColumn<bool>("withDialog");
    QTest::newRow("no-selected-row") << true;
    QTest::newRow("no-dialog-set") << false;
  }
  void doubleClickWithoutSelectionOpensNothing() {
    QFETCH(bool, withDialog);
    QTreeWidget* list = page_->List();
    if (withDialog) {
      list->clearSelection();
      list->setCurrentItem(nullptr);
    } else {
      page_->SetKeyDialog(nullptr);
      list->topLevelItem(1)->setSelected(true);
    }
    WhenShown([](TOKRightDlg*) {});
    const QPoint below(20, list->viewport()->height() - 3);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, below);
    page_->EditSelected();
    QCoreApplication::processEvents();
    QVERIFY(!dialogShown_);
  }

  void clearPageWhileDialogOpen() {
    // A list reset applied while the dialog is up (the timer keeps applying
    // output elements) must not let the dialog write into a freed row.
    WhenShown([&](TOKRightDlg* dialog) {
      page_->ClearPage();
      dialog->KeyEdit()->setText(QStringLiteral("0123456789ABCDEF"));
      QTest::mouseClick(dialog->OKBtn(), Qt::LeftButton);
    });
    DoubleClickRow(5);
    QVERIFY(dialogShown_);
    QCOMPARE(page_->List()->topLevelItemCount(), 10);
    for (int row = 1; row <= 10; ++row) QCOMPARE(Key(row), QStringLiteral("0000000000000000"));
  }
};

QTEST_MAIN(TstKeyDialog)
#include "tst_keydialog.moc"
