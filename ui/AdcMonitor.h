// TAdcMonitor: the ADC page's monitor, a plot per channel and the thresholds
// proposed from readings.
//
// The window feeds it the monitor's readings (AddReading) and tells it when
// the monitor runs (SetRunning); a new run starts the plots afresh. The
// sliders' reading markers follow the last readings four times a second.
// Built the first time the monitor is shown, so the window's start-up and an
// idle window do not pay for it. GUI thread only.
#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>

class QLabel;
class QPushButton;
class QTimer;
class TAdcCalibrate;
class TAdcPlot;
class TTrislider;

class TAdcMonitor : public QWidget {
  Q_OBJECT

 public:
  TAdcMonitor(TTrislider* ts, TTrislider* ts2, QWidget* parent = nullptr);

  // A reading of channel 0 or 1 (as the link numbers them) at the link
  // clock's timeMs; none for a failed request.
  void AddReading(std::uint32_t timeMs, int channel, std::optional<int> value);
  void SetRunning(bool running);
  bool Running() const { return running_; }

  TAdcPlot* Plot(int channel) const { return plots_[static_cast<std::size_t>(channel - 1)]; }
  TAdcCalibrate* Calibrate() const { return calibrate_; }
  QPushButton* CalibrateButton() const { return calibrateButton_; }

  QSize minimumSizeHint() const override;

 private:
  void Follow();

  std::array<TTrislider*, 2> sliders_{};
  std::array<TAdcPlot*, 2> plots_{};
  std::array<std::optional<int>, 2> last_{};
  QLabel* status_ = nullptr;
  QPushButton* calibrateButton_ = nullptr;
  TAdcCalibrate* calibrate_ = nullptr;
  QTimer* follow_ = nullptr;
  bool running_ = false;
};
