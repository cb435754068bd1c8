// Tests of the multi-thumb slider: geometry numbers, exact values, mouse
// grabs and drags, the value label's ten seconds, and the rendered picture.
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <climits>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <thread>

#include "ui/Panel.h"
#include "ui/Trislider.h"

namespace {

// The slider as the ADC page sets it up: 489 x 57, scale 0..1023, a tick every 20.
std::unique_ptr<TTrislider> MakeAdcSlider(int count = 5) {
  auto slider = std::make_unique<TTrislider>();
  slider->resize(489, 57);
  slider->Min = 0;
  slider->Max = 1023;
  slider->TickInterval = 20;
  slider->SetCount(count);
  return slider;
}

QList<int> Positions(const TTrislider& slider) {
  QList<int> result;
  for (int i = 0; i < slider.GetCount(); ++i) result << slider.GetPosition(i);
  return result;
}

void SetPositions(TTrislider& slider, const QList<int>& positions) {
  slider.SetCount(static_cast<int>(positions.size()));
  for (int i = 0; i < positions.size(); ++i) slider.SetPosition(i, positions[i]);
}

// Buffer pixel, as the colour the palette role would give.
QColor BufferPixel(const TTrislider& slider, int x, int y) { return slider.Buffer().pixelColor(x, y); }

QColor Role(const TTrislider& slider, QPalette::ColorRole role) {
  // Compare through an RGB32 image, as the buffer stores colours.
  QImage probe(1, 1, QImage::Format_RGB32);
  probe.fill(slider.palette().color(role));
  return probe.pixelColor(0, 0);
}

// The value label's rectangle for the selected thumb in the current geometry.
TEdgeRect LabelRect(const TTrislider& slider) {
  const QFontMetrics metrics(slider.font());
  const QString text = QString::number(slider.GetPosition(slider.Selected()));
  return slider.Geometry().LabelRect(slider.GetPosition(slider.Selected()), metrics.horizontalAdvance(text),
                                     metrics.height());
}

// A label pixel in its left padding, clear of the text.
bool LabelShown(const TTrislider& slider) {
  const TEdgeRect r = LabelRect(slider);
  return BufferPixel(slider, r.Left + 1, r.Bottom - 3) == Role(slider, QPalette::ToolTipBase);
}

void SendMove(QWidget* widget, int x, int y, Qt::MouseButtons buttons) {
  QMouseEvent event(QEvent::MouseMove, QPointF(x, y), widget->mapToGlobal(QPointF(x, y)), Qt::NoButton, buttons,
                    Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}

}  // namespace

class TstTrislider : public QObject {
  Q_OBJECT

 private slots:
  void panelCaption();
  void bankersRound_data();
  void bankersRound();
  void freshControl();
  void adcGeometry();
  void valuesStayExact_data();
  void valuesStayExact();
  void levelLimitedToScale_data();
  void levelLimitedToScale();
  void reversedScaleIsSwapped();
  void smallControls();
  void failedFrameDoesNotStopLaterOnes();
  void extremePositions();
  void countAndIndexes();
  void press_data();
  void press();
  void drag_data();
  void drag();
  void valueLabelTenSeconds();
  void idleSliderStopsItsTimer();
  void hiddenControlDrawsOnlyWhenShown();
  void mouseMovedAfterDragStep();
  void readersOnAnotherThread();
  void picture();
  void thumbColumns_data();
  void thumbColumns();
  void equalThumbsTakeable_data();
  void equalThumbsTakeable();
  void equalThumbsByKeys();
  void readingMarker_data();
  void readingMarker();
  void contrast();
};

void TstTrislider::panelCaption() {
  TPanel panel;
  panel.resize(120, 40);
  const QImage empty = panel.grab().toImage();
  panel.SetCaption("Канал");
  QCOMPARE(panel.Caption(), QString("Канал"));
  QCOMPARE(panel.property("Caption").toString(), QString("Канал"));
  const QImage captioned = panel.grab().toImage();
  // The caption sits in the middle: the centre changes, the corners do not.
  QVERIFY(captioned.copy(40, 12, 40, 16) != empty.copy(40, 12, 40, 16));
  QCOMPARE(captioned.copy(0, 0, 20, 10), empty.copy(0, 0, 20, 10));
}

void TstTrislider::bankersRound_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<int>("expected");
  QTest::newRow("half-to-even-down") << 2.5 << 2;
  QTest::newRow("half-to-even-up") << 3.5 << 4;
  QTest::newRow("zero-point-five") << 0.5 << 0;
  QTest::newRow("one-point-five") << 1.5 << 2;
  QTest::newRow("negative-half-down") << -2.5 << -2;
  QTest::newRow("negative-half-up") << -3.5 << -4;
  QTest::newRow("below-half") << 2.4999 << 2;
  QTest::newRow("above-half") << 2.5001 << 3;
  QTest::newRow("small-negative") << -0.4 << 0;
  QTest::newRow("adc-gap") << 10 / (447.0 / 1023) << 23;
  QTest::newRow("too-large") << 1e12 << INT_MAX;
  QTest::newRow("too-small") << -1e12 << INT_MIN;
  QTest::newRow("nan") << std::nan("") << 0;
}

void TstTrislider::bankersRound() {
  QFETCH(double, value);
  QFETCH(int, expected);
  QCOMPARE(BankersRound(value), expected);
}

void TstTrislider::freshControl() {
  TTrislider slider;
  QVERIFY(qobject_cast<TPanel*>(&slider) != nullptr);
  QVERIFY(slider.Caption().isEmpty());
  QCOMPARE(slider.frameShape(), QFrame::Panel);
  QCOMPARE(slider.frameShadow(), QFrame::Raised);
  QCOMPARE(Positions(slider), QList<int>{0});
  QCOMPARE(slider.Min, 0);
  QCOMPARE(slider.Max, 255);
  QCOMPARE(slider.Level, 0);
  QCOMPARE(slider.TickInterval, 5u);
  QCOMPARE(slider.Timer()->interval(), 100);
  QVERIFY(slider.Timer()->isActive());

  slider.show();
  slider.TimerTick();
  QCOMPARE(slider.Buffer().size(), QSize(183, 39));
  QCOMPARE(slider.Selected(), 0);
  QVERIFY(slider.LabelVisible());
  QVERIFY(LabelShown(slider));
}

void TstTrislider::adcGeometry() {
  auto slider = MakeAdcSlider();
  SetPositions(*slider, {0, 100, 300, 600, 1000});
  slider->show();  // a hidden control does not draw
  slider->TimerTick();
  const TTrisliderGeometry g = slider->Geometry();
  QCOMPARE(slider->Buffer().size(), QSize(487, 55));
  QCOMPARE(g.Scale(), 447.0 / 1023);
  QCOMPARE(g.Gap(), 23);
  QCOMPARE(g.X(0), 20);
  QCOMPARE(g.X(1023), 467);
  QCOMPARE(g.TrackRect(), (TEdgeRect{20, 17, 467, 37}));
  QCOMPARE(g.LevelBarRect(1023), (TEdgeRect{21, 18, 468, 37}));

  const auto thumb = g.ThumbPolygon(500);
  QCOMPARE(thumb[0], QPoint(238, 35));  // the tip on the scale
  QCOMPARE(thumb[2], QPoint(233, 20));
  QCOMPARE(thumb[4], QPoint(243, 30));
  int top = INT_MAX;
  int bottom = INT_MIN;
  for (const QPoint& p : thumb) {
    top = std::min(top, p.y());
    bottom = std::max(bottom, p.y());
  }
  QCOMPARE(top, 20);
  QCOMPARE(bottom, 35);

  QCOMPARE(g.TickCount(20), std::int64_t{52});
  int longTicks = 0;
  for (std::int64_t k = 0; k < 52; ++k) longTicks += g.Tick(20, k).Long ? 1 : 0;
  QCOMPARE(longTicks, 11);  // k = 0, 5, ..., 50
  const TTrisliderTick first = g.Tick(20, 0);
  QCOMPARE(first.Column, 20);
  QCOMPARE(first.Top, 36);
  QCOMPARE(first.Bottom, 43);
  QVERIFY(first.Long);
  const TTrisliderTick short1 = g.Tick(20, 1);
  QCOMPARE(short1.Column, 29);
  QCOMPARE(short1.Bottom, 39);
  QVERIFY(!short1.Long);
  QCOMPARE(g.Tick(20, 51).Column, 466);

  // Drawn: a long tick under the first thumb's tip, a short one beside it.
  const QColor black(0, 0, 0);
  QCOMPARE(BufferPixel(*slider, 20, 42), black);
  QCOMPARE(BufferPixel(*slider, 29, 38), black);
  QVERIFY(BufferPixel(*slider, 29, 39) != black);
}

void TstTrislider::valuesStayExact_data() {
  // Values from the panel or a file are shown as they are, whatever the
  // thumbs' width: thumbs closer than it are drawn over each other.
  QTest::addColumn<unsigned>("increment");
  QTest::addColumn<QList<int>>("input");
  QTest::newRow("five-new-thumbs") << 1u << QList<int>{0, 0, 0, 0, 0};
  QTest::newRow("adjacent") << 1u << QList<int>{500, 501, 502, 503, 504};
  QTest::newRow("equal-neighbours") << 1u << QList<int>{300, 300, 300, 700, 700};
  QTest::newRow("both-ends") << 1u << QList<int>{0, 0, 1, 1022, 1023};
  QTest::newRow("top-end") << 1u << QList<int>{0, 1023, 1023, 1023, 1023};
  QTest::newRow("close-pair") << 1u << QList<int>{0, 100, 110, 300, 400};
  QTest::newRow("out-of-order") << 1u << QList<int>{400, 300, 200, 100, 0};
  QTest::newRow("off-the-increment") << 5u << QList<int>{0, 101, 203, 300, 402};
}

void TstTrislider::valuesStayExact() {
  QFETCH(unsigned, increment);
  QFETCH(QList<int>, input);
  auto slider = MakeAdcSlider();
  slider->SetIncrement(increment);
  slider->show();
  SetPositions(*slider, input);
  QCOMPARE(Positions(*slider), input);
  for (int i = 0; i < 3; ++i) slider->TimerTick();
  QCOMPARE(Positions(*slider), input);
  (void)slider->grab();  // painting moves nothing either
  QCOMPARE(Positions(*slider), input);
}

void TstTrislider::levelLimitedToScale_data() {
  QTest::addColumn<int>("level");
  QTest::addColumn<int>("expected");
  QTest::newRow("above-max") << 2000 << 1023;
  QTest::newRow("below-min") << -5 << 0;
  QTest::newRow("inside") << 500 << 500;
}

void TstTrislider::levelLimitedToScale() {
  QFETCH(int, level);
  QFETCH(int, expected);
  auto slider = MakeAdcSlider(1);
  slider->show();
  slider->Level = level;
  slider->TimerTick();
  QCOMPARE(slider->Level, expected);

  // The bar fills the track up to the level's column; the track is mid-gray beyond it.
  const TTrisliderGeometry g = slider->Geometry();
  const TEdgeRect bar = g.LevelBarRect(expected);
  const int row = g.Mid() + 9;  // below the thumbs and the level number
  const QColor highlight = Role(*slider, QPalette::Highlight);
  if (bar.Right > bar.Left) QCOMPARE(BufferPixel(*slider, bar.Right - 1, row), highlight);
  if (bar.Right < g.TrackRect().Right - 1) QCOMPARE(BufferPixel(*slider, bar.Right, row), QColor(128, 128, 128));
  if (expected == 1023) QCOMPARE(bar.Right - 1, g.TrackRect().Right);
}

void TstTrislider::reversedScaleIsSwapped() {
  auto slider = MakeAdcSlider();
  slider->Min = 1023;
  slider->Max = 0;
  slider->TimerTick();
  QCOMPARE(slider->Min, 0);
  QCOMPARE(slider->Max, 1023);
  QCOMPARE(Positions(*slider), (QList<int>{0, 0, 0, 0, 0}));
}

void TstTrislider::smallControls() {
  // A flat control: the margin shrinks to half the buffer's height on the
  // paint after the buffer got that height.
  TTrislider flat;
  flat.resize(200, 30);
  flat.TimerTick();
  QCOMPARE(flat.Margin(), 20);
  flat.TimerTick();
  QCOMPARE(flat.Margin(), 14);
  QCOMPARE(flat.Geometry().TrackRect(), (TEdgeRect{14, 4, 184, 24}));

  TTrislider tiny;
  tiny.resize(5, 3);
  tiny.TimerTick();
  QCOMPARE(tiny.size(), QSize(10, 10));
  QCOMPARE(tiny.Buffer().size(), QSize(8, 8));
}

void TstTrislider::failedFrameDoesNotStopLaterOnes() {
  auto slider = MakeAdcSlider();
  slider->Max = 0;  // no scale at all
  slider->Level = 50;
  slider->TimerTick();
  QCOMPARE(Positions(*slider), (QList<int>{0, 0, 0, 0, 0}));
  QCOMPARE(slider->Level, 50);

  slider->Max = 1023;
  slider->TickInterval = 0;  // no tick marks, the rest is drawn
  slider->TimerTick();
  QCOMPARE(Positions(*slider), (QList<int>{0, 0, 0, 0, 0}));
  QCOMPARE(BufferPixel(*slider, 20, 42), Role(*slider, QPalette::Button));
}

void TstTrislider::extremePositions() {
  auto slider = MakeAdcSlider();
  slider->show();
  const QList<int> extreme{INT_MIN, INT_MIN, 0, INT_MAX, INT_MAX};
  SetPositions(*slider, extreme);
  slider->TimerTick();
  QCOMPARE(Positions(*slider), extreme);  // drawn just outside the buffer, kept as they are

  // A drag of the thumb at 0 stays on the scale; the others keep their values.
  QTest::mousePress(slider.get(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 30));
  QTest::mouseMove(slider.get(), QPoint(470, 30));
  QTest::mouseRelease(slider.get(), Qt::LeftButton, Qt::NoModifier, QPoint(470, 30));
  QCOMPARE(Positions(*slider), (QList<int>{INT_MIN, INT_MIN, 1023, INT_MAX, INT_MAX}));
}

void TstTrislider::countAndIndexes() {
  TTrislider slider;
  slider.SetPosition(0, 7);
  slider.SetCount(0);
  QCOMPARE(Positions(slider), QList<int>{7});
  slider.SetCount(3);
  QCOMPARE(Positions(slider), (QList<int>{7, 0, 0}));
  QVERIFY_THROWS_EXCEPTION(std::out_of_range, slider.SetPosition(3, 1));
  QVERIFY_THROWS_EXCEPTION(std::out_of_range, slider.GetPosition(-1));
  QCOMPARE(slider.Position(0), 7);

  // Lowering the count below the selected thumb selects the last one left.
  slider.resize(489, 57);
  slider.Max = 1023;
  SetPositions(slider, {0, 300, 600});
  slider.TimerTick();
  slider.MouseDown(slider.Geometry().X(600), 30);
  QCOMPARE(slider.Selected(), 2);
  slider.SetCount(2);
  QCOMPARE(slider.Selected(), 1);
  QVERIFY(!slider.Dragging());
  slider.TimerTick();
}

void TstTrislider::press_data() {
  // Thumbs at 0, 100, 300, 600, 1000 sit in columns 20, 64, 151, 282, 457.
  // Before each press, thumb 1 is grabbed and five ticks pass.
  QTest::addColumn<int>("x");
  QTest::addColumn<int>("y");
  QTest::addColumn<int>("selected");
  QTest::addColumn<bool>("dragging");
  QTest::newRow("on-thumb") << 151 << 30 << 2 << true;
  QTest::newRow("seven-pixels-off") << 158 << 30 << 2 << true;
  QTest::newRow("eight-pixels-off-selects-only") << 159 << 30 << 2 << false;
  QTest::newRow("midway-lower-index-wins") << 42 << 30 << 0 << false;
  QTest::newRow("left-end-of-area") << 15 << 30 << 0 << true;
  QTest::newRow("left-of-area") << 14 << 30 << 1 << false;
  QTest::newRow("right-end-of-area") << 474 << 30 << 4 << false;
  QTest::newRow("right-of-area") << 475 << 30 << 1 << false;
  QTest::newRow("top-row") << 282 << 20 << 3 << true;
  QTest::newRow("above-margin") << 282 << 19 << 1 << false;
  QTest::newRow("bottom-row") << 282 << 37 << 3 << true;
  QTest::newRow("below-margin") << 282 << 38 << 1 << false;
}

void TstTrislider::press() {
  QFETCH(int, x);
  QFETCH(int, y);
  QFETCH(int, selected);
  QFETCH(bool, dragging);
  auto slider = MakeAdcSlider();
  SetPositions(*slider, {0, 100, 300, 600, 1000});
  slider->TimerTick();
  QTest::mousePress(slider.get(), Qt::LeftButton, Qt::NoModifier, QPoint(64, 30));
  QCOMPARE(slider->Selected(), 1);
  QVERIFY(slider->Dragging());
  for (int i = 0; i < 5; ++i) slider->TimerTick();

  QTest::mousePress(slider.get(), Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
  QCOMPARE(slider->Selected(), selected);
  QCOMPARE(slider->Dragging(), dragging);
  QCOMPARE(slider->TickCount(), dragging ? 0u : 5u);  // only a grab restarts the label's time
  QCOMPARE(Positions(*slider), (QList<int>{0, 100, 300, 600, 1000}));  // a press moves nothing
}

void TstTrislider::drag_data() {
  // Only the dragged thumb moves, and only as far as its neighbours. Columns:
  // 0 -> 20, 100 -> 64, 300 -> 151, 500 -> 238, 600 -> 282, 1000 -> 457.
  QTest::addColumn<QList<int>>("start");
  QTest::addColumn<int>("pressX");
  QTest::addColumn<QList<int>>("moves");
  QTest::addColumn<QList<int>>("expected");
  QTest::newRow("stops-at-the-right-neighbour")
      << QList<int>{0, 100, 300, 600, 1000} << 64 << QList<int>{200} << QList<int>{0, 300, 300, 600, 1000};
  QTest::newRow("free-move-left")
      << QList<int>{0, 100, 300, 600, 1000} << 457 << QList<int>{300} << QList<int>{0, 100, 300, 600, 641};
  QTest::newRow("free-move-right")
      << QList<int>{0, 100, 300, 600, 1000} << 151 << QList<int>{200} << QList<int>{0, 100, 412, 600, 1000};
  QTest::newRow("last-limited-to-max")
      << QList<int>{0, 100, 300, 600, 1000} << 457 << QList<int>{488} << QList<int>{0, 100, 300, 600, 1023};
  QTest::newRow("stops-at-the-left-neighbour")
      << QList<int>{0, 100, 300, 600, 1000} << 64 << QList<int>{0} << QList<int>{0, 0, 300, 600, 1000};
  QTest::newRow("back-and-forth")
      << QList<int>{0, 100, 300, 600, 1000} << 64 << QList<int>{200, 100} << QList<int>{0, 183, 300, 600, 1000};
  QTest::newRow("selected-only-does-not-move")
      << QList<int>{0, 100, 300, 600, 1000} << 100 << QList<int>{300} << QList<int>{0, 100, 300, 600, 1000};
}

void TstTrislider::drag() {
  QFETCH(QList<int>, start);
  QFETCH(int, pressX);
  QFETCH(QList<int>, moves);
  QFETCH(QList<int>, expected);
  auto slider = MakeAdcSlider();
  SetPositions(*slider, start);
  slider->TimerTick();
  QCOMPARE(Positions(*slider), start);

  QTest::mousePress(slider.get(), Qt::LeftButton, Qt::NoModifier, QPoint(pressX, 30));
  for (int x : moves) QTest::mouseMove(slider.get(), QPoint(x, 30));
  QCOMPARE(Positions(*slider), expected);
  QTest::mouseRelease(slider.get(), Qt::LeftButton, Qt::NoModifier, QPoint(moves.back(), 30));
  QVERIFY(!slider->Dragging());
  QCOMPARE(slider->LastX(), moves.back());

  // After the release a move with the button down again drags nothing.
  SendMove(slider.get(), 250, 30, Qt::LeftButton);
  QCOMPARE(Positions(*slider), expected);
  slider->TimerTick();
  QCOMPARE(Positions(*slider), expected);
}

void TstTrislider::valueLabelTenSeconds() {
  auto slider = MakeAdcSlider();
  SetPositions(*slider, {0, 23, 46, 69, 92});
  slider->show();
  // From creation: visible for ticks 1..99, gone at the 100th (10 s).
  for (int i = 0; i < 99; ++i) slider->TimerTick();
  QVERIFY(slider->LabelVisible());
  QVERIFY(LabelShown(*slider));
  slider->TimerTick();
  QVERIFY(!slider->LabelVisible());
  QVERIFY(!LabelShown(*slider));

  // A grab shows it again for thumb 2, a drag step restarts the ten seconds.
  QTest::mousePress(slider.get(), Qt::LeftButton, Qt::NoModifier, QPoint(40, 30));
  for (int i = 0; i < 60; ++i) slider->TimerTick();
  QVERIFY(LabelShown(*slider));
  QTest::mouseMove(slider.get(), QPoint(200, 30));
  QCOMPARE(slider->TickCount(), 0u);
  for (int i = 0; i < 99; ++i) slider->TimerTick();
  QVERIFY(LabelShown(*slider));
  QCOMPARE(slider->Selected(), 2);
  QCOMPARE(slider->GetPosition(2), 69);  // as far as thumb 3
  QTest::mouseRelease(slider.get(), Qt::LeftButton, Qt::NoModifier, QPoint(200, 30));
  slider->TimerTick();
  QVERIFY(!LabelShown(*slider));

  // Label numbers: centred over the thumb, just above the thumbs' top row.
  const TTrisliderGeometry g = slider->Geometry();
  QCOMPARE(g.LabelRect(500, 20, 15), (TEdgeRect{225, 1, 251, 18}));
  QCOMPARE(g.LabelTextOrigin(500, 20, 15), QPoint(228, 2));
}

void TstTrislider::idleSliderStopsItsTimer() {
  auto slider = MakeAdcSlider();
  slider->show();
  QVERIFY(slider->Timer()->isActive());
  for (int i = 0; i < 100; ++i) slider->TimerTick();
  // The label has gone: nothing changes by itself any more.
  QVERIFY(!slider->Timer()->isActive());
  // A value from outside redraws at once and does not wake the timer.
  const QImage before = slider->Buffer().copy();
  slider->SetPosition(4, 700);
  QVERIFY(!slider->Timer()->isActive());
  QVERIFY(slider->Buffer() != before);
  const QImage withLevel = slider->Buffer().copy();
  slider->SetLevel(300);
  QVERIFY(slider->Buffer() != withLevel);
  // Choosing a thumb shows its label and runs the timer until it goes.
  slider->SelectThumb(4);
  QVERIFY(slider->Timer()->isActive());
  QVERIFY(LabelShown(*slider));
  for (int i = 0; i < 100; ++i) slider->TimerTick();
  QVERIFY(!slider->Timer()->isActive());
  QCOMPARE(Positions(*slider), (QList<int>{0, 0, 0, 0, 700}));
}

void TstTrislider::hiddenControlDrawsOnlyWhenShown() {
  auto slider = MakeAdcSlider();
  slider->show();
  slider->TimerTick();
  const QImage before = slider->Buffer().copy();
  slider->hide();
  slider->SetPosition(3, 600);
  slider->SetPosition(4, 610);
  for (int i = 0; i < 3; ++i) slider->TimerTick();
  // Not drawn: nobody sees a hidden control.
  QCOMPARE(Positions(*slider), (QList<int>{0, 0, 0, 600, 610}));
  QCOMPARE(slider->Buffer(), before);
  // Shown, it draws at once rather than at the next tick.
  slider->show();
  QVERIFY(slider->Buffer() != before);
  const QImage shown = slider->Buffer().copy();
  slider->TimerTick();
  QCOMPARE(slider->Buffer(), shown);
}

void TstTrislider::mouseMovedAfterDragStep() {
  auto slider = MakeAdcSlider();
  SetPositions(*slider, {0, 100, 300, 600, 1000});
  slider->TimerTick();
  QList<int> seen;
  connect(slider.get(), &TTrislider::MouseMoved, slider.get(), [&](int, int) { seen = Positions(*slider); });
  QSignalSpy spy(slider.get(), &TTrislider::MouseMoved);

  QTest::mousePress(slider.get(), Qt::LeftButton, Qt::NoModifier, QPoint(64, 30));
  QTest::mouseMove(slider.get(), QPoint(200, 30));
  QCOMPARE(spy.count(), 1);
  QCOMPARE(spy.at(0).at(0).toInt(), 200);
  QCOMPARE(seen, (QList<int>{0, 300, 300, 600, 1000}));
  QTest::mouseRelease(slider.get(), Qt::LeftButton, Qt::NoModifier, QPoint(200, 30));

  // A move without a button is reported too and moves LastX, not a thumb.
  SendMove(slider.get(), 90, 45, Qt::NoButton);
  QCOMPARE(spy.count(), 2);
  QCOMPARE(spy.at(1).at(1).toInt(), 45);
  QCOMPARE(slider->LastX(), 90);
  QCOMPARE(seen, (QList<int>{0, 300, 300, 600, 1000}));
}

void TstTrislider::readersOnAnotherThread() {
  // Another thread reads thumbs while the GUI thread resizes, changes and
  // draws them. Under a sanitizer this also catches reads of a freed array.
  auto slider = MakeAdcSlider();
  std::atomic<bool> stop{false};
  std::atomic<bool> bad{false};
  std::thread reader([&] {
    try {
      while (!stop.load()) {
        const int count = slider->GetCount();
        const int first = slider->GetPosition(0);
        if (count < 1 || (first != 0 && first != 904 && first != 1000)) bad = true;
      }
    } catch (...) {
      bad = true;
    }
  });
  for (int round = 0; round < 200; ++round) {
    slider->SetCount(round % 2 == 0 ? 64 : 5);
    for (int i = 0; i < slider->GetCount(); ++i) slider->SetPosition(i, 1000 - i);
    slider->TimerTick();
  }
  stop = true;
  reader.join();
  QVERIFY(!bad.load());
}

void TstTrislider::picture() {
  auto slider = MakeAdcSlider();
  SetPositions(*slider, {0, 100, 110, 300, 400});
  slider->Level = 500;
  slider->TimerTick();
  QCOMPARE(Positions(*slider), (QList<int>{0, 100, 110, 300, 400}));  // thumbs 1 and 2 overlap
  const QImage shot = slider->grab().toImage().convertToFormat(QImage::Format_RGB32);
  QCOMPARE(shot.size(), QSize(489, 57));
  if (qEnvironmentVariableIsSet("OSTREL_SHOT_DIR")) {
    QVERIFY(shot.save(qEnvironmentVariable("OSTREL_SHOT_DIR") + "/trislider.png"));
  }

  // The buffer lands at (1, 1) inside the panel's bevel.
  const auto at = [&](int x, int y) { return shot.pixelColor(x + 1, y + 1); };
  QCOMPARE(at(300, 30), QColor(128, 128, 128));                   // track beyond the level
  QCOMPARE(at(100, 30), Role(*slider, QPalette::Highlight));      // level bar
  QCOMPARE(at(300, 17), QColor(128, 128, 128));                   // sunken edge of the track, top
  QCOMPARE(at(20, 17), QColor(Qt::black));                        // value label of thumb 0, bottom edge
  QCOMPARE(at(20, 40), QColor(Qt::black));                        // long tick under thumb 0
  QCOMPARE(at(151, 27), QColor(0, 12, 36));                       // inside thumb 3, dark on the track
  QCOMPARE(at(146, 25), QColor(Qt::white));                       // thumb 3's lit left side
  QCOMPARE(at(156, 25), QColor(128, 128, 128));                   // thumb 3's shaded right side
  QCOMPARE(at(5, 5), Role(*slider, QPalette::Button));            // background
  QVERIFY(shot.pixelColor(0, 0) != Role(*slider, QPalette::Button));  // the bevel
}

void TstTrislider::thumbColumns_data() {
  // On the ADC slider (buffer 487 wide, scale 447 / 1023): thumbs a thumb's
  // width apart stand over their values; closer ones side by side.
  QTest::addColumn<QList<int>>("positions");
  QTest::addColumn<QList<int>>("columns");
  QTest::newRow("apart") << QList<int>{0, 100, 300, 600, 1000} << QList<int>{20, 64, 151, 282, 457};
  QTest::newRow("equal-pair") << QList<int>{300, 300} << QList<int>{146, 156};
  QTest::newRow("close-pair") << QList<int>{100, 110} << QList<int>{61, 71};
  QTest::newRow("three-equal") << QList<int>{500, 500, 500} << QList<int>{228, 238, 248};
  QTest::newRow("five-at-min-stay-on-scale") << QList<int>{0, 0, 0, 0, 0} << QList<int>{20, 30, 40, 50, 60};
  QTest::newRow("four-at-max-stay-on-scale") << QList<int>{0, 1023, 1023, 1023, 1023}
                                             << QList<int>{20, 437, 447, 457, 467};
  QTest::newRow("runs-merge") << QList<int>{300, 300, 320, 320} << QList<int>{140, 150, 160, 170};
}

void TstTrislider::thumbColumns() {
  QFETCH(QList<int>, positions);
  QFETCH(QList<int>, columns);
  TTrisliderGeometry g;
  g.Width = 487;
  g.Height = 55;
  g.Max = 1023;
  const std::vector<int> got = g.ThumbColumns(std::vector<int>(positions.begin(), positions.end()));
  QCOMPARE(QList<int>(got.begin(), got.end()), columns);
}

void TstTrislider::equalThumbsTakeable_data() {
  // Each of several equal thumbs is taken where it is drawn and moves from
  // its value; the order rule still holds (it meets its neighbours, never
  // passes them).
  QTest::addColumn<QList<int>>("start");
  QTest::addColumn<int>("thumb");
  QTest::addColumn<int>("dx");
  QTest::addColumn<QList<int>>("expected");
  QTest::newRow("first-of-three-left") << QList<int>{300, 300, 300, 700, 700} << 0 << -40
                                       << QList<int>{208, 300, 300, 700, 700};
  QTest::newRow("last-of-three-right") << QList<int>{300, 300, 300, 700, 700} << 2 << 40
                                       << QList<int>{300, 300, 391, 700, 700};
  QTest::newRow("middle-held-by-neighbour") << QList<int>{300, 300, 300, 700, 700} << 1 << 40
                                            << QList<int>{300, 300, 300, 700, 700};
  QTest::newRow("first-of-pair-left") << QList<int>{300, 300, 300, 700, 700} << 3 << -40
                                      << QList<int>{300, 300, 300, 609, 700};
  QTest::newRow("second-at-max-left") << QList<int>{0, 1023, 1023, 1023, 1023} << 1 << -137
                                      << QList<int>{0, 709, 1023, 1023, 1023};
}

void TstTrislider::equalThumbsTakeable() {
  QFETCH(QList<int>, start);
  QFETCH(int, thumb);
  QFETCH(int, dx);
  QFETCH(QList<int>, expected);
  auto slider = MakeAdcSlider();
  SetPositions(*slider, start);
  slider->show();
  slider->TimerTick();
  const std::vector<int> columns = slider->Geometry().ThumbColumns(std::vector<int>(start.begin(), start.end()));
  // No two thumbs share a column: each is seen.
  for (std::size_t i = 1; i < columns.size(); ++i) QVERIFY(columns[i] - columns[i - 1] >= slider->ThumbWidth());
  const int x = columns[static_cast<std::size_t>(thumb)];
  QTest::mousePress(slider.get(), Qt::LeftButton, Qt::NoModifier, QPoint(x, 30));
  QCOMPARE(slider->Selected(), thumb);
  QVERIFY(slider->Dragging());
  QTest::mouseMove(slider.get(), QPoint(x + dx, 30));
  QTest::mouseRelease(slider.get(), Qt::LeftButton, Qt::NoModifier, QPoint(x + dx, 30));
  QCOMPARE(Positions(*slider), expected);
}

void TstTrislider::equalThumbsByKeys() {
  auto slider = MakeAdcSlider();
  SetPositions(*slider, {300, 300, 300, 700, 700});
  slider->show();
  slider->setFocus();
  QSignalSpy moved(slider.get(), &TTrislider::ThumbMoved);
  QTest::keyClick(slider.get(), Qt::Key_3);
  QCOMPARE(slider->Selected(), 2);
  QTest::keyClick(slider.get(), Qt::Key_Right);
  QTest::keyClick(slider.get(), Qt::Key_1);
  QTest::keyClick(slider.get(), Qt::Key_Left);
  QTest::keyClick(slider.get(), Qt::Key_2);
  QTest::keyClick(slider.get(), Qt::Key_Right);  // held by thumb 2, now at 301
  QTest::keyClick(slider.get(), Qt::Key_Right);
  QCOMPARE(Positions(*slider), (QList<int>{299, 301, 301, 700, 700}));
  QCOMPARE(moved.count(), 4);
  QCOMPARE(moved.last().at(0).toInt(), 1);
}

void TstTrislider::readingMarker_data() {
  QTest::addColumn<int>("level");
  QTest::newRow("left-end") << 0;
  QTest::newRow("three-digits-under-a-thumb") << 511;
  QTest::newRow("right-end") << 1023;
  QTest::newRow("between-equal-thumbs") << 300;
}

void TstTrislider::readingMarker() {
  // With the reading's band the reading is a marker under the scale with its
  // own label: whole, inside the control, and never under a thumb.
  QFETCH(int, level);
  auto slider = MakeAdcSlider();
  slider->resize(489, 81);
  slider->SetReadingBand(24);
  SetPositions(*slider, {0, 300, 300, 511, 1023});
  slider->show();
  slider->SetLevel(level);
  const TTrisliderGeometry g = slider->Geometry();
  QCOMPARE(g.Height, 55);  // the thumbs' part is the classic slider's
  const QFontMetrics metrics(slider->font());
  const QString text = QString::number(level);
  const TEdgeRect label = g.ReadingLabelRect(level, metrics.horizontalAdvance(text), metrics.height());
  QVERIFY(label.Left >= 0 && label.Right <= g.Width);
  QVERIFY(label.Bottom <= slider->Buffer().height());
  QVERIFY(label.Right - label.Left >= metrics.horizontalAdvance(text) + 6);
  const QRect labelRect(label.Left, label.Top, label.Right - label.Left, label.Bottom - label.Top);
  const auto marker = g.ReadingMarker(level);
  QCOMPARE(marker[0].x(), g.X(level));  // the marker points at the reading
  for (int p : Positions(*slider)) {
    const auto thumb = g.ThumbPolygonAt(g.X(p));
    const QRect thumbRect = QPolygon(QList<QPoint>(thumb.begin(), thumb.end())).boundingRect();
    QVERIFY2(!thumbRect.intersects(labelRect), qPrintable(QStringLiteral("label under thumb at %1").arg(p)));
    QVERIFY(marker[0].y() > thumbRect.bottom());
  }
  // Drawn: dark text on the label's white, and no bar in the track.
  int dark = 0;
  for (int y = label.Top + 1; y < label.Bottom - 1; ++y)
    for (int x = label.Left + 1; x < label.Right - 1; ++x) dark += BufferPixel(*slider, x, y).lightness() < 80 ? 1 : 0;
  QVERIFY(dark > 5);
  QCOMPARE(BufferPixel(*slider, label.Left + 1, label.Top + 1), QColor(Qt::white));
  QCOMPARE(BufferPixel(*slider, g.X(level) > 200 ? 100 : 400, g.Mid() + 8), QColor(128, 128, 128));
}

namespace {

// WCAG 2 relative luminance and contrast ratio.
double Luminance(const QColor& c) {
  const auto channel = [](double v) {
    v /= 255.0;
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

double Contrast(const QColor& a, const QColor& b) {
  const double la = Luminance(a);
  const double lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

void TstTrislider::contrast() {
  // Thumbs against the track and the page, and every text against what it
  // stands on: at least 4.5:1, measured on the drawn picture.
  auto slider = MakeAdcSlider();
  slider->resize(489, 81);
  slider->SetReadingBand(24);
  SetPositions(*slider, {0, 100, 300, 600, 1000});
  slider->show();
  slider->SetLevel(700);
  slider->SelectThumb(2);  // its value label is up
  const TTrisliderGeometry g = slider->Geometry();
  const QColor face = BufferPixel(*slider, 2, 2);
  const QColor track = BufferPixel(*slider, g.X(800), g.Mid());
  const QColor thumb = BufferPixel(*slider, g.X(600), g.Margin + 4);
  const QFontMetrics metrics(slider->font());
  const auto darkest = [&](const TEdgeRect& r) {
    QColor best = Qt::white;
    for (int y = r.Top + 1; y < r.Bottom - 1; ++y)
      for (int x = r.Left + 1; x < r.Right - 1; ++x)
        if (Luminance(BufferPixel(*slider, x, y)) < Luminance(best)) best = BufferPixel(*slider, x, y);
    return best;
  };
  const TEdgeRect reading = g.ReadingLabelRect(700, metrics.horizontalAdvance("700"), metrics.height());
  const QColor readingBack = BufferPixel(*slider, reading.Left + 1, reading.Top + 1);
  const QColor readingText = darkest(reading);
  const TEdgeRect value = LabelRect(*slider);
  const QColor valueBack = BufferPixel(*slider, value.Left + 1, value.Bottom - 3);
  const QColor valueText = darkest(value);
  const struct {
    const char* What;
    QColor A, B;
  } pairs[] = {{"thumb on track", thumb, track},
               {"thumb on page", thumb, face},
               {"track on page (3:1 for a part of a control)", track, face},
               {"reading text", readingText, readingBack},
               {"value label text", valueText, valueBack}};
  for (const auto& pair : pairs) {
    const double ratio = Contrast(pair.A, pair.B);
    const double least = QByteArray(pair.What).startsWith("track") ? 3.0 : 4.5;
    QVERIFY2(ratio >= least, qPrintable(QStringLiteral("%1: %2:1").arg(pair.What).arg(ratio, 0, 'f', 2)));
  }
}

QTEST_MAIN(TstTrislider)
#include "tst_trislider.moc"
