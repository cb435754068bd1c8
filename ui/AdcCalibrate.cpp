#include "ui/AdcCalibrate.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "ui/Trislider.h"

namespace {

QString StateName(int k) { return QString::fromUtf8(AdcStates::Name(k)); }

QString Words(const AdcProposal::TWarning& w) {
  switch (w.Kind) {
    case AdcProposal::TWarningKind::NoReadings:
      return QStringLiteral("«%1»: нет показаний, порог оставлен прежним").arg(StateName(w.State));
    case AdcProposal::TWarningKind::Overlap:
      return QStringLiteral("«%1» и «%2»: показания перекрываются").arg(StateName(w.State - 1), StateName(w.State));
    case AdcProposal::TWarningKind::TooClose:
      return QStringLiteral("«%1» и «%2»: показания ближе %3 единиц")
          .arg(StateName(w.State - 1), StateName(w.State))
          .arg(AdcProposal::kMargin);
  }
  return {};
}

}  // namespace

TAdcCalibrate::TAdcCalibrate(TTrislider* ts, TTrislider* ts2, QWidget* parent) : QWidget(parent), ts_(ts), ts2_(ts2) {
  setObjectName(QStringLiteral("AdcCalibrate"));
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(2);

  channelBox_ = new QComboBox(this);
  channelBox_->setObjectName(QStringLiteral("cbCalibrateChannel"));
  channelBox_->addItems({QStringLiteral("Канал 1"), QStringLiteral("Канал 2")});
  channelBox_->setAccessibleName(QStringLiteral("Канал для подбора порогов"));
  connect(channelBox_, &QComboBox::currentIndexChanged, this, [this](int index) { SetChannel(index + 1); });
  grid->addWidget(channelBox_, 0, 0);

  buttons_ = new QButtonGroup(this);
  buttons_->setExclusive(false);
  for (int k = 0; k < TSettings::kThresholds; ++k) {
    auto* button = new QPushButton(StateName(k), this);
    button->setObjectName(QStringLiteral("btLevel%1").arg(k));
    button->setCheckable(true);
    button->setToolTip(QStringLiteral("Переведите шлейф в состояние «%1» и нажмите: показания запоминаются, пока не "
                                      "нажата другая кнопка")
                           .arg(StateName(k)));
    buttons_->addButton(button, k);
    grid->addWidget(button, 0, k + 1);
    seen_[static_cast<std::size_t>(k)] = new QLabel(this);
    current_[static_cast<std::size_t>(k)] = new QLabel(this);
    proposed_[static_cast<std::size_t>(k)] = new QLabel(this);
    proposed_[static_cast<std::size_t>(k)]->setObjectName(QStringLiteral("lbProposed%1").arg(k));
    grid->addWidget(seen_[static_cast<std::size_t>(k)], 1, k + 1, Qt::AlignCenter);
    grid->addWidget(current_[static_cast<std::size_t>(k)], 2, k + 1, Qt::AlignCenter);
    grid->addWidget(proposed_[static_cast<std::size_t>(k)], 3, k + 1, Qt::AlignCenter);
  }
  connect(buttons_, &QButtonGroup::idClicked, this, [this](int k) {
    Record(recording_ == k ? std::nullopt : std::optional<int>(k));
  });
  grid->addWidget(new QLabel(QStringLiteral("Показания"), this), 1, 0);
  grid->addWidget(new QLabel(QStringLiteral("Пороги сейчас"), this), 2, 0);
  grid->addWidget(new QLabel(QStringLiteral("Предложено"), this), 3, 0);

  warning_ = new QLabel(this);
  warning_->setObjectName(QStringLiteral("lbCalibrateWarning"));
  warning_->setWordWrap(true);
  grid->addWidget(warning_, 4, 0, 1, TSettings::kThresholds + 1);

  auto* clear = new QPushButton(QStringLiteral("Сбросить"), this);
  clear->setObjectName(QStringLiteral("btCalibrateClear"));
  connect(clear, &QPushButton::clicked, this, &TAdcCalibrate::Clear);
  accept_ = new QPushButton(QStringLiteral("Принять"), this);
  accept_->setObjectName(QStringLiteral("btCalibrateAccept"));
  accept_->setToolTip(QStringLiteral("Поставить предложенные пороги на ползунок; в панель они попадут по «Записать»"));
  connect(accept_, &QPushButton::clicked, this, &TAdcCalibrate::Accept);
  grid->addWidget(clear, 5, TSettings::kThresholds - 1);
  grid->addWidget(accept_, 5, TSettings::kThresholds);

  for (TTrislider* slider : {ts_, ts2_}) {
    connect(slider, &TTrislider::ThumbMoved, this, &TAdcCalibrate::Refresh);
    connect(slider, &TTrislider::PositionSet, this, &TAdcCalibrate::Refresh);
  }
  Refresh();
}

void TAdcCalibrate::AddReading(int channel, std::optional<int> value) {
  if (!value || channel != channel_ || !recording_) return;
  levels_[static_cast<std::size_t>(channel - 1)][static_cast<std::size_t>(*recording_)].Add(*value);
  Refresh();
}

void TAdcCalibrate::SetChannel(int channel) {
  if (channel != 1 && channel != 2) return;
  if (channel != channel_) Record(std::nullopt);
  channel_ = channel;
  if (channelBox_->currentIndex() != channel - 1) channelBox_->setCurrentIndex(channel - 1);
  Refresh();
}

void TAdcCalibrate::Record(std::optional<int> state) {
  recording_ = state;
  for (int k = 0; k < TSettings::kThresholds; ++k) buttons_->button(k)->setChecked(state == k);
}

AdcProposal::TProposal TAdcCalibrate::Proposal() const {
  AdcStates::TThresholds current{};
  for (int k = 0; k < TSettings::kThresholds; ++k) current[static_cast<std::size_t>(k)] = Slider()->GetPosition(k);
  return AdcProposal::Propose(Levels(channel_), current);
}

void TAdcCalibrate::Accept() {
  const AdcProposal::TProposal proposal = Proposal();
  // Set as a whole (a move would stop each thumb at its old neighbours); the
  // page's settings take them as edits, to be written with "Записать".
  for (int k = 0; k < TSettings::kThresholds; ++k) Slider()->SetPosition(k, proposal.Thresholds[static_cast<std::size_t>(k)]);
}

void TAdcCalibrate::Clear() {
  levels_[static_cast<std::size_t>(channel_ - 1)] = {};
  Refresh();
}

void TAdcCalibrate::Refresh() {
  const AdcProposal::TLevels& levels = Levels(channel_);
  const AdcProposal::TProposal proposal = Proposal();
  bool any = false;
  for (const AdcProposal::TLevel& level : levels) any = any || level.Count > 0;
  for (int k = 0; k < TSettings::kThresholds; ++k) {
    const AdcProposal::TLevel& level = levels[static_cast<std::size_t>(k)];
    seen_[static_cast<std::size_t>(k)]->setText(
        level.Count == 0 ? QStringLiteral("—") : QStringLiteral("%1…%2 (%3)").arg(level.Min).arg(level.Max).arg(level.Count));
    current_[static_cast<std::size_t>(k)]->setText(QString::number(Slider()->GetPosition(k)));
    proposed_[static_cast<std::size_t>(k)]->setText(any ? QString::number(proposal.Thresholds[static_cast<std::size_t>(k)])
                                                        : QStringLiteral("—"));
  }
  QStringList lines;
  if (any)
    for (const AdcProposal::TWarning& w : proposal.Warnings) lines << Words(w);
  warning_->setText(lines.join(QLatin1Char('\n')));
  accept_->setEnabled(any);
}
