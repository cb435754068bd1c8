#include "ui/AdcMonitor.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/AdcCalibrate.h"
#include "ui/AdcPlot.h"
#include "ui/Trislider.h"

TAdcMonitor::TAdcMonitor(TTrislider* ts, TTrislider* ts2, QWidget* parent) : QWidget(parent), sliders_{ts, ts2} {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("lbMonitor"));
  column->addWidget(status_);
  for (int channel = 1; channel <= 2; ++channel) {
    auto* plot = new TAdcPlot(sliders_[static_cast<std::size_t>(channel - 1)], channel, this);
    plots_[static_cast<std::size_t>(channel - 1)] = plot;
    column->addWidget(plot, 1);
  }
  calibrateButton_ = new QPushButton(QStringLiteral("Задать по показаниям"), this);
  calibrateButton_->setObjectName(QStringLiteral("btCalibrate"));
  calibrateButton_->setCheckable(true);
  column->addWidget(calibrateButton_, 0, Qt::AlignLeft);
  calibrate_ = new TAdcCalibrate(ts, ts2, this);
  calibrate_->hide();
  column->addWidget(calibrate_);
  connect(calibrateButton_, &QPushButton::toggled, calibrate_, &QWidget::setVisible);

  follow_ = new QTimer(this);
  follow_->setInterval(250);
  connect(follow_, &QTimer::timeout, this, &TAdcMonitor::Follow);
  SetRunning(false);
}

QSize TAdcMonitor::minimumSizeHint() const {
  const QSize plots(Plot(1)->minimumSizeHint().width(), 2 * Plot(1)->minimumSizeHint().height());
  const QSize calibrate = calibrate_->isVisible() ? calibrate_->sizeHint() : QSize();
  return {std::max(plots.width(), calibrate.width()),
          plots.height() + status_->sizeHint().height() + calibrateButton_->sizeHint().height() + calibrate.height() + 16};
}

void TAdcMonitor::AddReading(std::uint32_t timeMs, int channel, std::optional<int> value) {
  if (channel != 0 && channel != 1) return;
  plots_[static_cast<std::size_t>(channel)]->AddReading(timeMs, value);
  calibrate_->AddReading(channel + 1, value);
  if (value) last_[static_cast<std::size_t>(channel)] = value;
}

void TAdcMonitor::SetRunning(bool running) {
  if (running && !running_)
    for (TAdcPlot* plot : plots_) plot->Restart();
  running_ = running;
  if (running) {
    follow_->start();
  } else {
    follow_->stop();
    calibrate_->Record(std::nullopt);
  }
  Follow();
}

void TAdcMonitor::Follow() {
  // The sliders' markers show the last readings, at the plots' pace.
  for (std::size_t c = 0; c < 2; ++c)
    if (last_[c] && sliders_[c]->Level != *last_[c]) sliders_[c]->SetLevel(*last_[c]);
  QString line = running_ ? QStringLiteral("Наблюдение идёт") : QStringLiteral("Наблюдение остановлено");
  if (plots_[0]->Readings() + plots_[0]->Failures() + plots_[1]->Readings() + plots_[1]->Failures() > 0) {
    line += QStringLiteral(": показаний в секунду %1 и %2")
                .arg(plots_[0]->Rate(), 0, 'f', 1)
                .arg(plots_[1]->Rate(), 0, 'f', 1);
  }
  status_->setText(line);
}
