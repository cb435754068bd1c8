// TformACP: the ADC thresholds page ("АЦП").
//
// For each of the two ADC channels, a multi-thumb slider (ts, ts2: Min 0,
// Max 1023, five thumbs, TickInterval 20) whose thumbs are the channel's five
// thresholds and whose Level is its reading, and a row of five value panes
// (TPanel, caption "0" at start) under the state labels:
//   thumb 0 "КЗ"             lbKZ1  / lbKZ2   pKZ1  / pKZ2
//   thumb 1 "Оба замкнуты"   lbZam1 / lbZam2  pZam1 / pZam2
//   thumb 2 "2-й замкнут"    lb2Z1  / lb2Z2   p2Z1  / p2Z2
//   thumb 3 "1-й замкнут"    lb1Z1  / lb1Z2   p1Z1  / p1Z2
//   thumb 4 "Оба разомкнуты" lbRaz1 / lbRaz2  pRaz1 / pRaz2
// Channel labels lbACP1 and lbACP2 stand above the sliders.
//
// Every mouse move over a slider, after the slider has handled it, copies the
// slider's five positions into its channel's panes. Otherwise the panes
// change only through what the device posts for them. GUI thread only.
#pragma once

#include <array>

#include "ui/Page.h"

class QFrame;
class QGroupBox;
class QLabel;
class TPanel;
class TTrislider;

class TformACP : public TPage {
  Q_OBJECT

 public:
  static constexpr int kThumbs = 5;
  // The caption over thumb 0..4: the state its threshold begins ("КЗ", ...).
  static QString StateCaption(int thumb);
  // Before anything is read or loaded the thumbs stand one thumb's width
  // apart on the page's scale: 0, 23, 46, 69, 92.
  static constexpr int DefaultThreshold(int thumb) { return thumb * 23; }

  explicit TformACP(QWidget* parent = nullptr);

  TTrislider* Slider(int channel) const { return channel == 1 ? ts_ : ts2_; }

  // The value panes show the sliders' positions (after settings were applied).
  void ShowThresholds() {
    tsMouseMove();
    ts2MouseMove();
  }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  using TPanes = std::array<TPanel*, kThumbs>;
  using TLabels = std::array<QLabel*, kThumbs>;

  struct TChannel {
    TLabels States{};
    TPanes Panes{};
    QLabel* Caption = nullptr;  // lbACP1, lbACP2
    TTrislider* Slider = nullptr;
  };

  void BuildChannel(int channel, TChannel& block);
  // Places the controls from the font's metrics; returns the block's bottom.
  int ArrangeChannel(const TChannel& block, int top);
  void Arrange();
  void tsMouseMove();
  void ts2MouseMove();
  static void ShowPositions(const TTrislider* slider, const TPanes& panes);

  QGroupBox* group_ = nullptr;  // RzGroupBox1
  QLabel* title_ = nullptr;     // Label6
  QFrame* separator_ = nullptr;  // RzSeparator1
  TChannel channel1_;
  TChannel channel2_;
  TTrislider* ts_ = nullptr;
  TTrislider* ts2_ = nullptr;
};
