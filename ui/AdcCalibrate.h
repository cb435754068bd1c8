// TAdcCalibrate: "Задать по показаниям", thresholds proposed from readings.
//
// The installer chooses a channel, puts its loop into a state and presses
// that state's button: from then on the channel's readings are kept for that
// state, until another state's button is pressed or the same one again. The
// proposal (model/AdcProposal.h) is shown under the current thresholds with
// its warnings, and "Принять" moves the slider's thumbs to it; nothing goes
// to the panel until the user writes. GUI thread only.
#pragma once

#include <QWidget>

#include <array>
#include <optional>

#include "model/AdcProposal.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QPushButton;
class TTrislider;

class TAdcCalibrate : public QWidget {
  Q_OBJECT

 public:
  TAdcCalibrate(TTrislider* ts, TTrislider* ts2, QWidget* parent = nullptr);

  // A reading of channel 1 or 2 (none: failed, not kept).
  void AddReading(int channel, std::optional<int> value);
  // Chooses the channel (1 or 2) and the state whose readings are kept (none: stop).
  void SetChannel(int channel);
  int Channel() const { return channel_; }
  void Record(std::optional<int> state);
  std::optional<int> Recording() const { return recording_; }
  // The readings kept for a channel, and the proposal from them.
  const AdcProposal::TLevels& Levels(int channel) const { return levels_[static_cast<std::size_t>(channel - 1)]; }
  AdcProposal::TProposal Proposal() const;
  // "Принять": the chosen channel's thumbs take the proposal.
  void Accept();
  // "Сбросить": the chosen channel's readings go.
  void Clear();
  QLabel* WarningLabel() const { return warning_; }

 private:
  TTrislider* Slider() const { return channel_ == 1 ? ts_ : ts2_; }
  void Refresh();

  TTrislider* ts_;
  TTrislider* ts2_;
  int channel_ = 1;
  std::optional<int> recording_;
  std::array<AdcProposal::TLevels, TSettings::kChannels> levels_{};
  QComboBox* channelBox_ = nullptr;
  QButtonGroup* buttons_ = nullptr;
  std::array<QLabel*, TSettings::kThresholds> seen_{};
  std::array<QLabel*, TSettings::kThresholds> current_{};
  std::array<QLabel*, TSettings::kThresholds> proposed_{};
  QLabel* warning_ = nullptr;
  QPushButton* accept_ = nullptr;
};
