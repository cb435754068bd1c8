// A whole session without the mouse, against the panel simulator: connect,
// read all, edit a phone, write all, save to a file, with key events only.
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QDialog>
#include <QElapsedTimer>
#include <functional>
#include <memory>

#include "tests/ui/GuiFixture.h"
#include "tools/PanelSim.h"
#include "ui/OperationProgress.h"
#include "ui/f_common.h"

using ostrel::sim::TPanelSim;

namespace {

QWidget* Focused() { return QApplication::focusWidget(); }

// Presses Tab in the window with the focus until one of targets has it.
bool TabTo(std::initializer_list<QWidget*> targets) {
  for (int i = 0; i < 100; ++i) {
    for (QWidget* t : targets)
      if (Focused() == t) return true;
    QTest::keyClick(Focused() ? Focused() : QApplication::activeWindow(), Qt::Key_Tab);
  }
  return false;
}

// Runs keys once the next modal dialog is up and has the focus (from inside
// its modal loop). A dialog still up after 20 s is rejected, so that the test
// fails rather than hangs; the result tells whether keys ran.
std::shared_ptr<bool> WhenModal(QObject* owner, std::function<void(QWidget*)> keys) {
  auto ran = std::make_shared<bool>(false);
  auto* poll = new QTimer(owner);
  poll->setInterval(10);
  auto since = std::make_shared<QElapsedTimer>();
  since->start();
  QObject::connect(poll, &QTimer::timeout, owner, [poll, keys, ran, since] {
    QWidget* modal = QApplication::activeModalWidget();
    QWidget* focus = QApplication::focusWidget();
    if (*ran && !modal) {  // done: the dialog has closed
      poll->stop();
      poll->deleteLater();
      return;
    }
    if (since->elapsed() > 20000) {
      if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
      return;
    }
    const bool ready = modal && modal->isVisible() && focus && (focus == modal || modal->isAncestorOf(focus));
    if (*ran || !ready) return;
    *ran = true;
    keys(modal);
  });
  poll->start();
  return ran;
}

// The offscreen platform has no window manager to give the window back its
// activation when a modal dialog closes; a desktop's window manager does.
void Reactivate(QWidget& window) {
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
}

}  // namespace

class TestKeyboardWalk : public QObject {
  Q_OBJECT

 private slots:
  void init() { sandbox.Enter(); }
  void cleanup() { sandbox.Leave(); }

  void connectReadEditWriteSave() {
    TPanelSim panel;
    panel.Start();
    const QString port = QString::fromStdString(panel.SlavePath());
    TForm1 form;
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));

    // Connect: the navigation item, then the port typed into the port dialog.
    QVERIFY(TabTo({gui::NavItem(form, "Подключиться")}));
    auto portKeys = WhenModal(&form, [&](QWidget*) {
      QComboBox* ports = form.ConnectDialog()->ComPorts();
      QVERIFY(TabTo({ports, ports->lineEdit()}));
      QTest::keyClick(Focused(), Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(Focused(), port);
      QTest::keyClick(Focused(), Qt::Key_Return);  // OK is the default button
    });
    QTest::keyClick(Focused(), Qt::Key_Return);
    QVERIFY(*portKeys);
    QTRY_VERIFY_WITH_TIMEOUT(form.IsConnected(), 20000);
    Reactivate(form);

    // Read all by its shortcut; the status bar counts the commands.
    QTest::keyClick(&form, Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(form.Progress()->IsRunning());
    QVERIFY(form.Progress()->Label()->isVisible());
    QVERIFY(form.Progress()->Label()->text().endsWith(QString::fromUtf8(" из 38")));
    QTRY_VERIFY_WITH_TIMEOUT(sandbox.messages.contains(QString::fromUtf8("Чтение всех параметров завершено!")), 20000);
    QTRY_VERIFY(!form.Progress()->Label()->isVisible());

    // Edit: the common page through its item, then the first phone.
    QVERIFY(TabTo({gui::NavItem(form, "Общие")}));
    QTest::keyClick(Focused(), Qt::Key_Space);
    QVERIFY(form.CommonPage()->isVisible());
    auto* phone = form.CommonPage()->findChild<QLineEdit*>("etPhone1");
    QVERIFY(TabTo({phone}));
    QTest::keyClick(Focused(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(Focused(), "+79001112233");
    QCOMPARE(phone->text(), QString("+79001112233"));

    // Write all by its shortcut.
    sandbox.messages.clear();
    QTest::keyClick(Focused(), Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(form.Progress()->Label()->text().endsWith(QString::fromUtf8(" из 37")));
    QTRY_VERIFY_WITH_TIMEOUT(sandbox.messages.contains(QString::fromUtf8("Запись всех параметров завершена!")), 20000);
    QCOMPARE(panel.State().Phones[0], std::string("+79001112233"));
    // The message comes before the operation's end gives the navigation back.
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsBusy(), 20000);

    // Save: the item, then a file name typed into the file dialog over the
    // name it suggests (the dialog opens in the user's documents).
    QVERIFY(TabTo({gui::NavItem(form, "Сохранить")}));
    auto saveKeys = WhenModal(&form, [](QWidget*) {
      QTest::keyClick(Focused(), Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(Focused(), ProgramDir() + "walk.ini");
      QTest::keyClick(Focused(), Qt::Key_Return);
    });
    QTest::keyClick(Focused(), Qt::Key_Return);
    QVERIFY(*saveKeys);
    QFile saved(ProgramDir() + "walk.ini");
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.readAll().contains("+79001112233"));
  }

 private:
  gui::TSandbox sandbox;
};

QTEST_MAIN(TestKeyboardWalk)
#include "tst_keyboard_walk.moc"
