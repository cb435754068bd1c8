// The ADC thresholds page: its sliders and the value panes that follow them.
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSpinBox>
#include <QSignalSpy>
#include <QTest>

#include <array>
#include <memory>

#include "ui/Panel.h"
#include "ui/Trislider.h"
#include "ui/f_ACP.h"

namespace {

const std::array<const char*, 5> kPanes = {"pKZ", "pZam", "p2Z", "p1Z", "pRaz"};

void SendMouse(QWidget* widget, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons) {
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, buttons, Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &event);
}

}  // namespace

class TstPagesAcp : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TformACP> page_;

  TTrislider* Slider(int channel) {
    return page_->findChild<TTrislider*>(channel == 1 ? QStringLiteral("ts") : QStringLiteral("ts2"));
  }
  QStringList Panes(int channel) {
    QStringList captions;
    for (const char* stem : kPanes) {
      auto* pane = page_->findChild<TPanel*>(QLatin1String(stem) + QString::number(channel));
      captions << (pane ? pane->Caption() : QStringLiteral("<missing>"));
    }
    return captions;
  }
  // Runs the sliders' paint step, which normalises the thumbs, as their timer does.
  void Tick() {
    Slider(1)->TimerTick();
    Slider(2)->TimerTick();
  }

 private slots:
  void init() {
    page_ = std::make_unique<TformACP>();
    page_->resize(725, 415);
    page_->show();
    QVERIFY(QTest::qWaitForWindowExposed(page_.get()));
  }
  void cleanup() { page_.reset(); }

  void controls() {
    QCOMPARE(page_->objectName(), QStringLiteral("TformACP"));
    QCOMPARE(page_->windowTitle(), QStringLiteral("АЦП"));
    for (int channel = 1; channel <= 2; ++channel) {
      TTrislider* slider = Slider(channel);
      QVERIFY(slider != nullptr);
      QCOMPARE(slider, page_->Slider(channel));
      QCOMPARE(slider->Min, 0);
      QCOMPARE(slider->Max, 1023);
      QCOMPARE(slider->GetCount(), 5);
      QCOMPARE(slider->TickInterval, 20u);
      // The classic 57 rows and a band under the scale for the reading.
      QCOMPARE(slider->size(), QSize(489, 81));
      QCOMPARE(slider->ReadingBand(), 24);
      for (int k = 0; k < 5; ++k) {
        QSpinBox* spin = page_->SpinBox(channel, k);
        QVERIFY(spin != nullptr);
        QCOMPARE(spin->value(), TformACP::DefaultThreshold(k));
        QCOMPARE(spin->maximum(), 1023);
        QVERIFY(spin->isVisibleTo(page_.get()));
      }
      QCOMPARE(Panes(channel), QStringList(5, QStringLiteral("0")));
      auto* label = page_->findChild<QLabel*>(QStringLiteral("lbACP") + QString::number(channel));
      QVERIFY(label != nullptr);
      QCOMPARE(label->text(), QStringLiteral("Канал АЦП ") + QString::number(channel));
      auto* raz = page_->findChild<QLabel*>(QStringLiteral("lbRaz") + QString::number(channel));
      QVERIFY(raz != nullptr);
      QCOMPARE(raz->text(), QStringLiteral("Оба разомкнуты"));
    }
  }

  void mouseMoveShowsPositions_data() {
    QTest::addColumn<int>("channel");
    QTest::newRow("ts") << 1;
    QTest::newRow("ts2") << 2;
  }
  void mouseMoveShowsPositions() {
    QFETCH(int, channel);
    const int other = 3 - channel;
    Tick();
    // The thumbs start 23 apart; the panes show 0 until the mouse comes.
    QCOMPARE(Panes(channel), QStringList(5, QStringLiteral("0")));
    SendMouse(Slider(channel), QEvent::MouseMove, QPoint(300, 5), Qt::NoButton);
    QCOMPARE(Panes(channel), (QStringList{"0", "23", "46", "69", "92"}));
    QCOMPARE(Panes(other), QStringList(5, QStringLiteral("0")));
  }

  void dragMovesOneThumbAndPanesFollow() {
    Tick();
    TTrislider* ts = Slider(1);
    // Thumb 4 at 92 sits in buffer column 60; grab it there and drag it right.
    const int y = 30;
    SendMouse(ts, QEvent::MouseButtonPress, QPoint(60, y), Qt::LeftButton);
    QVERIFY(ts->Dragging());
    QCOMPARE(ts->Selected(), 4);
    SendMouse(ts, QEvent::MouseMove, QPoint(100, y), Qt::LeftButton);
    const QStringList midway = Panes(1);
    SendMouse(ts, QEvent::MouseMove, QPoint(200, y), Qt::LeftButton);
    SendMouse(ts, QEvent::MouseButtonRelease, QPoint(200, y), Qt::NoButton);
    QCOMPARE(Panes(1), (QStringList{"0", "23", "46", "69", "412"}));
    QVERIFY(midway != Panes(1));  // the panes followed during the drag
    QCOMPARE(Panes(2), QStringList(5, QStringLiteral("0")));
  }

  void programPositionsWaitForMouse() {
    // Thresholds set by a settings file or a panel read reach the thumbs, but
    // the panes keep their captions until the mouse moves over the slider.
    TTrislider* ts2 = Slider(2);
    const int values[] = {100, 200, 300, 400, 1023};
    for (int k = 0; k < 5; ++k) ts2->SetPosition(k, values[k]);
    Tick();
    QCOMPARE(Panes(2), QStringList(5, QStringLiteral("0")));
    SendMouse(ts2, QEvent::MouseMove, QPoint(10, 10), Qt::NoButton);
    QCOMPARE(Panes(2), (QStringList{"100", "200", "300", "400", "1023"}));
  }

  QList<int> Spins(int channel) {
    QList<int> values;
    for (int k = 0; k < 5; ++k) values << page_->SpinBox(channel, k)->value();
    return values;
  }
  QList<int> Thumbs(int channel) {
    QList<int> values;
    for (int k = 0; k < 5; ++k) values << Slider(channel)->GetPosition(k);
    return values;
  }

  void typedValueIsAMove_data() {
    // Typing a value is the same as moving the thumb: on the scale, between
    // its neighbours; the box then shows where the thumb went.
    QTest::addColumn<int>("thumb");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("free") << 1 << "250" << QList<int>{100, 250, 300, 400, 500};
    QTest::newRow("past-the-right-neighbour") << 1 << "350" << QList<int>{100, 300, 300, 400, 500};
    QTest::newRow("past-the-left-neighbour") << 2 << "0" << QList<int>{100, 200, 200, 400, 500};
    QTest::newRow("top-of-scale") << 4 << "1023" << QList<int>{100, 200, 300, 400, 1023};
    QTest::newRow("bottom-of-scale") << 0 << "0" << QList<int>{0, 200, 300, 400, 500};
    QTest::newRow("equal-to-neighbour") << 3 << "500" << QList<int>{100, 200, 300, 500, 500};
  }
  void typedValueIsAMove() {
    QFETCH(int, thumb);
    QFETCH(QString, typed);
    QFETCH(QList<int>, expected);
    for (int k = 0; k < 5; ++k) Slider(1)->SetPosition(k, 100 * (k + 1));
    QCOMPARE(Spins(1), (QList<int>{100, 200, 300, 400, 500}));  // positions set by the program show at once
    QSignalSpy moved(Slider(1), &TTrislider::ThumbMoved);
    QSpinBox* spin = page_->SpinBox(1, thumb);
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, typed);
    QCOMPARE(Thumbs(1), (QList<int>{100, 200, 300, 400, 500}));  // not before the value is complete
    QTest::keyClick(spin, Qt::Key_Return);
    QCOMPARE(Thumbs(1), expected);
    QCOMPARE(Spins(1), expected);
    QCOMPARE(moved.count(), 1);  // a user's move, which the settings take as an edit
    QCOMPARE(Thumbs(2), (QList<int>{0, 23, 46, 69, 92}));
  }

  void arrowsAndDragFollow() {
    QSpinBox* spin = page_->SpinBox(2, 4);
    QTest::keyClick(spin, Qt::Key_Up);  // steps count at once
    QCOMPARE(Slider(2)->GetPosition(4), 93);
    // A drag of the thumb shows in its box.
    TTrislider* ts2 = Slider(2);
    const int x = ts2->Geometry().X(93);
    SendMouse(ts2, QEvent::MouseButtonPress, QPoint(x, 30), Qt::LeftButton);
    SendMouse(ts2, QEvent::MouseMove, QPoint(x + 100, 30), Qt::LeftButton);
    SendMouse(ts2, QEvent::MouseButtonRelease, QPoint(x + 100, 30), Qt::NoButton);
    QVERIFY(ts2->GetPosition(4) > 300);
    QCOMPARE(spin->value(), ts2->GetPosition(4));
  }
};

QTEST_MAIN(TstPagesAcp)
#include "tst_pages_acp.moc"
