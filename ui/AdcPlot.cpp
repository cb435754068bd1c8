#include "ui/AdcPlot.h"

#include <QPainter>
#include <QPolygon>
#include <QTimer>

#include <algorithm>

#include "ui/Trislider.h"

namespace {

// Light tints under dark text and a dark line: every name and the line stand
// out from each band by far more than 4.5:1.
const QColor kBands[TSettings::kThresholds] = {
    QColor(255, 214, 214),  // КЗ
    QColor(255, 232, 196),  // Оба замкнуты
    QColor(246, 242, 196),  // 2-й замкнут
    QColor(214, 240, 214),  // 1-й замкнут
    QColor(212, 226, 250),  // Оба разомкнуты
};
const QColor kLine(10, 40, 80);
const QColor kGapMark(170, 0, 0);
const QColor kChangeMark(80, 80, 80);
constexpr int kScaleMax = 1023;
constexpr int kHeader = 40;  // rows above the plot for the state and the extremes

}  // namespace

TAdcPlot::TAdcPlot(TTrislider* slider, int channel, QWidget* parent)
    : QWidget(parent), slider_(slider), channel_(channel) {
  setObjectName(QStringLiteral("AdcPlot%1").arg(channel));
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Readings come dozens a second; the picture follows four times a second.
  repaint_ = new QTimer(this);
  repaint_->setSingleShot(true);
  repaint_->setInterval(250);
  connect(repaint_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
  // Thresholds moved on the slider or in its spin boxes redraw the bands at once.
  connect(slider_, &TTrislider::ThumbMoved, this, qOverload<>(&QWidget::update));
  connect(slider_, &TTrislider::PositionSet, this, qOverload<>(&QWidget::update));
}

AdcStates::TThresholds TAdcPlot::Thresholds() const {
  AdcStates::TThresholds t{};
  for (int k = 0; k < TSettings::kThresholds && k < slider_->GetCount(); ++k) t[static_cast<std::size_t>(k)] = slider_->GetPosition(k);
  return t;
}

std::vector<std::optional<int>> TAdcPlot::MarkStates() const {
  std::vector<std::optional<int>> states;
  for (const TMark& mark : marks_) states.push_back(mark.State);
  return states;
}

void TAdcPlot::Restart() {
  samples_.clear();
  marks_.clear();
  state_.reset();
  last_.reset();
  min_.reset();
  max_.reset();
  stated_ = false;
  readings_ = failures_ = changes_ = 0;
  update();
}

void TAdcPlot::AddReading(std::uint32_t timeMs, std::optional<int> value) {
  now_ = timeMs;
  samples_.push_back({timeMs, value});
  last_ = value;
  if (!value) {
    ++failures_;
  } else {
    ++readings_;
    min_ = std::min(min_.value_or(*value), *value);
    max_ = std::max(max_.value_or(*value), *value);
    const std::optional<int> state = AdcStates::StateOf(*value, Thresholds());
    if (stated_ && state != state_) {
      ++changes_;
      marks_.push_back({timeMs, state});
    }
    state_ = state;
    stated_ = true;
  }
  Prune();
  Dirty();
}

void TAdcPlot::Prune() {
  const auto old = [this](std::uint32_t t) { return now_ - t > kSpanMs; };
  while (!samples_.empty() && (old(samples_.front().TimeMs) || samples_.size() > kMostReadings)) samples_.pop_front();
  while (!marks_.empty() && old(marks_.front().TimeMs)) marks_.pop_front();
}

void TAdcPlot::Dirty() {
  if (!repaint_->isActive()) repaint_->start();
}

double TAdcPlot::Rate() const {
  constexpr std::uint32_t window = 5000;
  int count = 0;
  std::uint32_t first = now_;
  for (auto it = samples_.rbegin(); it != samples_.rend() && now_ - it->TimeMs <= window; ++it) {
    if (it->Value) ++count;
    first = it->TimeMs;
  }
  const std::uint32_t span = now_ - first;
  return span == 0 ? 0.0 : (count - 1) * 1000.0 / span;
}

void TAdcPlot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect all = rect();
  p.fillRect(all, palette().color(QPalette::Window));
  const QColor text = palette().color(QPalette::WindowText);

  // The header: the channel, its state in large text, the extremes and failures.
  QFont big = font();
  big.setPointSizeF(font().pointSizeF() * 1.6);
  big.setBold(true);
  p.setPen(text);
  p.setFont(font());
  const QString channel = QStringLiteral("Канал %1").arg(channel_);
  p.drawText(QRect(4, 0, 80, kHeader), Qt::AlignLeft | Qt::AlignVCenter, channel);
  QString state = QStringLiteral("—");
  if (last_ && state_) state = QString::fromUtf8(AdcStates::Name(*state_));
  if (last_ && !state_) state = QStringLiteral("ниже порогов");
  if (!last_ && failures_ > 0) state = QStringLiteral("нет ответа");
  p.setFont(big);
  const int stateLeft = 4 + QFontMetrics(font()).horizontalAdvance(channel) + 12;
  p.drawText(QRect(stateLeft, 0, all.width() - stateLeft, kHeader), Qt::AlignLeft | Qt::AlignVCenter, state);
  p.setFont(font());
  QString extremes;
  if (min_ && max_) extremes = QStringLiteral("мин %1  макс %2").arg(*min_).arg(*max_);
  if (failures_ > 0) extremes += QStringLiteral("  сбоев %1").arg(failures_);
  p.drawText(QRect(0, 0, all.width() - 4, kHeader), Qt::AlignRight | Qt::AlignVCenter, extremes);

  const QRect plot(4, kHeader, all.width() - 8, all.height() - kHeader - 4);
  if (plot.width() < 10 || plot.height() < 10) return;
  const auto y = [&](int value) {
    const int v = std::clamp(value, 0, kScaleMax);
    return plot.bottom() - (v * (plot.height() - 1)) / kScaleMax;
  };
  const auto x = [&](std::uint32_t t) {
    return plot.right() - static_cast<int>(static_cast<double>(now_ - t) * (plot.width() - 1) / kSpanMs);
  };

  // The bands, shaded and named; below threshold 0 is no state and stays white.
  p.fillRect(plot, Qt::white);
  const AdcStates::TThresholds t = Thresholds();
  for (int k = 0; k < TSettings::kThresholds; ++k) {
    const int low = t[static_cast<std::size_t>(k)];
    const int high = k + 1 < TSettings::kThresholds ? t[static_cast<std::size_t>(k + 1)] : kScaleMax + 1;
    if (high <= low) continue;
    const QRect band(QPoint(plot.left(), y(high)), QPoint(plot.right(), y(low)));
    p.fillRect(band, kBands[k]);
    p.setPen(text);
    if (band.height() >= QFontMetrics(font()).height())
      p.drawText(band.adjusted(4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(AdcStates::Name(k)));
  }
  p.setPen(QPen(QColor(128, 128, 128), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(plot.adjusted(0, 0, -1, -1));

  // A mark at every change of state.
  p.setPen(QPen(kChangeMark, 1, Qt::DashLine));
  for (const TMark& mark : marks_) p.drawLine(x(mark.TimeMs), plot.top(), x(mark.TimeMs), plot.bottom());

  // The readings: a line broken at each failure, which is marked under it.
  QPolygon line;
  const auto flush = [&] {
    if (line.size() == 1) p.drawPoint(line[0]);
    if (line.size() > 1) p.drawPolyline(line);
    line.clear();
  };
  p.setPen(QPen(kLine, 2));
  for (const TSample& s : samples_) {
    if (s.Value) {
      line << QPoint(x(s.TimeMs), y(*s.Value));
      continue;
    }
    flush();
    p.setPen(QPen(kGapMark, 2));
    p.drawLine(x(s.TimeMs), plot.bottom() - 6, x(s.TimeMs), plot.bottom());
    p.setPen(QPen(kLine, 2));
  }
  flush();
}
