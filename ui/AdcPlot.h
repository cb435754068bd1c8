// TAdcPlot: one ADC channel's readings of the last 60 seconds, painted over
// the channel's five threshold bands.
//
// The vertical scale is the slider's (0 at the bottom, 1023 at the top); the
// bands between the slider's thresholds are shaded and named, and follow the
// thumbs at once. The current state is named in large text beside the
// minimum and maximum seen since the monitor started; every change of state
// is marked with a vertical line. A failed reading is a gap in the line,
// counted, never a value. The readings live in a ring bounded in time and
// count, so the memory does not grow with the monitor's duration.
//
// GUI thread only. Readings come from the window's applier; the picture is
// repainted at most four times a second while readings arrive.
#pragma once

#include <QWidget>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "model/AdcStates.h"

class QTimer;
class TTrislider;

class TAdcPlot : public QWidget {
  Q_OBJECT

 public:
  // The window of time shown, and the most readings kept (60 s at far more
  // than the link's rate).
  static constexpr std::uint32_t kSpanMs = 60'000;
  static constexpr std::size_t kMostReadings = 8192;

  // channel 1 or 2; slider is the channel's, whose thumbs are the thresholds.
  TAdcPlot(TTrislider* slider, int channel, QWidget* parent = nullptr);

  // One reading at the link clock's timeMs; none for a failed request.
  void AddReading(std::uint32_t timeMs, std::optional<int> value);
  // A new run of the monitor: the readings, marks, extremes and counts go.
  void Restart();

  // What the plot shows, for the monitor's line and for tests.
  AdcStates::TThresholds Thresholds() const;
  std::optional<int> CurrentState() const { return state_; }
  std::optional<int> LastValue() const { return last_; }
  std::optional<int> MinSeen() const { return min_; }
  std::optional<int> MaxSeen() const { return max_; }
  int Readings() const { return readings_; }
  int Failures() const { return failures_; }
  int StateChanges() const { return changes_; }
  std::size_t Kept() const { return samples_.size(); }
  // The states entered at the marks still in view, oldest first.
  std::vector<std::optional<int>> MarkStates() const;
  // Readings per second over the last five seconds of link time.
  double Rate() const;

  QSize minimumSizeHint() const override { return {320, 150}; }
  QSize sizeHint() const override { return {480, 190}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  struct TSample {
    std::uint32_t TimeMs = 0;
    std::optional<int> Value;
  };
  struct TMark {
    std::uint32_t TimeMs = 0;
    std::optional<int> State;
  };
  void Prune();
  void Dirty();

  TTrislider* slider_;
  int channel_;
  std::deque<TSample> samples_;
  std::deque<TMark> marks_;
  std::optional<int> state_;
  std::optional<int> last_;
  std::optional<int> min_;
  std::optional<int> max_;
  bool stated_ = false;  // a reading has set state_
  int readings_ = 0;
  int failures_ = 0;
  int changes_ = 0;
  std::uint32_t now_ = 0;
  QTimer* repaint_ = nullptr;
};
