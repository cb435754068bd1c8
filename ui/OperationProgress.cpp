#include "ui/OperationProgress.h"

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

#include "output/OutElement.h"

TOperationProgress::TOperationProgress(QStatusBar* bar, std::function<uint8_t()> linkMode)
    : QObject(bar), linkMode_(std::move(linkMode)) {
  label_ = new QLabel(bar);
  label_->setObjectName(QStringLiteral("lbProgress"));
  bar_ = new QProgressBar(bar);
  bar_->setObjectName(QStringLiteral("pbProgress"));
  bar_->setTextVisible(false);
  bar_->setFixedSize(120, 12);
  bar->addPermanentWidget(label_);
  bar->addPermanentWidget(bar_);
  label_->hide();
  bar_->hide();
  watch_ = new QTimer(this);
  watch_->setInterval(100);
  connect(watch_, &QTimer::timeout, this, [this] {
    if (!sequence_ && linkMode_() != mode_) Finish();
  });
}

void TOperationProgress::Start(uint8_t mode, int total) {
  mode_ = mode;
  done_ = 0;
  total_ = total;
  bar_->setRange(0, total);
  Show();
  label_->show();
  bar_->show();
  watch_->start();
}

void TOperationProgress::StartSequence(int total) {
  sequence_ = true;
  Start(0xFF, total);
}

void TOperationProgress::EndSequence() {
  if (!sequence_) return;
  sequence_ = false;
  Finish();
}

void TOperationProgress::See(const TOutElement& element) {
  if (!IsRunning() || element.Kind != okMemo) return;
  if (static_cast<const TMemoOut&>(element).Text.rfind("-> ", 0) != 0) return;
  if (done_ < total_) ++done_;
  Show();
}

void TOperationProgress::Show() {
  QString text = QStringLiteral("%1 из %2").arg(done_).arg(total_);
  if (!line_.isEmpty()) text += QStringLiteral(" (") + line_ + QLatin1Char(')');
  label_->setText(text);
  bar_->setValue(done_);
}

void TOperationProgress::Finish() {
  mode_ = 0;
  sequence_ = false;
  watch_->stop();
  label_->hide();
  bar_->hide();
}
