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
// change only through what the device posts for them.
//
// Beside each thumb's state label stands a spin box (seKZ1 ... seRaz2) in the
// panes' place: it always shows its thumb's value, and a value typed or
// stepped in it is the user's move of that thumb (the slider's rules: on the
// scale, between its neighbours). The panes stay as the store the device
// posts to, unseen. The reading is a marker under each slider's scale.
//
// "Наблюдать" (btWatch) asks the main window to start or stop the ADC
// monitor; its plots and the proposal from readings are built the first time
// the monitor is shown (ui/AdcMonitor.h). GUI thread only.
#pragma once

#include <array>

#include "ui/Page.h"

class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QSpinBox;
class TAdcMonitor;
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
  // The spin box of thumb k (0..4) of channel 1 or 2.
  QSpinBox* SpinBox(int channel, int thumb) const {
    return (channel == 1 ? channel1_ : channel2_).Spins[static_cast<std::size_t>(thumb)];
  }

  // "Наблюдать": its check mark follows the monitor (SetWatching), a click
  // asks for the change (WatchRequested); enabled only while the monitor can run.
  QPushButton* WatchButton() const { return watch_; }
  void SetWatchEnabled(bool enabled);
  void SetWatching(bool watching);
  // The monitor's panel, built and shown on first use; null before.
  TAdcMonitor* Monitor() const { return monitor_; }
  TAdcMonitor* EnsureMonitor();

  // The value panes show the sliders' positions (after settings were applied).
  void ShowThresholds() {
    tsMouseMove();
    ts2MouseMove();
  }

 protected:
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 signals:
  void WatchRequested(bool watch);

 private:
  using TPanes = std::array<TPanel*, kThumbs>;
  using TLabels = std::array<QLabel*, kThumbs>;
  using TSpins = std::array<QSpinBox*, kThumbs>;

  struct TChannel {
    TLabels States{};
    TPanes Panes{};
    TSpins Spins{};
    QLabel* Caption = nullptr;  // lbACP1, lbACP2
    TTrislider* Slider = nullptr;
  };

  void BuildChannel(int channel, TChannel& block);
  // Places the controls from the font's metrics; returns the block's bottom.
  int ArrangeChannel(const TChannel& block, int top);
  void Arrange();
  // Places the group and, when built, the monitor beside or under it.
  void PlaceContent();
  // Ties the spin boxes to their slider both ways.
  void TieSpins(TChannel& block);
  static void ShowSpin(QSpinBox* spin, int value);
  void tsMouseMove();
  void ts2MouseMove();
  static void ShowPositions(const TTrislider* slider, const TPanes& panes);

  QScrollArea* scroll_ = nullptr;  // sbACP: the page scrolls in a small window
  QWidget* content_ = nullptr;
  QPushButton* watch_ = nullptr;  // btWatch
  TAdcMonitor* monitor_ = nullptr;
  QGroupBox* group_ = nullptr;  // RzGroupBox1
  QLabel* title_ = nullptr;     // Label6
  QFrame* separator_ = nullptr;  // RzSeparator1
  TChannel channel1_;
  TChannel channel2_;
  TTrislider* ts_ = nullptr;
  TTrislider* ts2_ = nullptr;
};
