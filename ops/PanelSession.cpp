#include "ops/PanelSession.h"

#include <unistd.h>

#include <QSocketNotifier>
#include <chrono>
#include <cstdint>

#include "link/xModem.h"

TPanelSession::TPanelSession(TClock* clock) : clock_(clock) {
  // The link posts faster than one element a command; the queue is drained
  // while an operation runs so that it never fills.
  drainTimer_.setInterval(20);
  QObject::connect(&drainTimer_, &QTimer::timeout, &loop_, [this] {
    Drain();
    if (result_ || (link_ && link_->Finished())) loop_.quit();
  });
}

TPanelSession::~TPanelSession() { Disconnect(); }

bool TPanelSession::Connected() const { return link_ && !link_->Finished(); }

void TPanelSession::Drain() {
  TOutElement* e = nullptr;
  while (queue_.Pop(e) != 0) {
    if (Watch) Watch(*e);
    if (e->Kind == okReading && onReading_) onReading_(static_cast<const TReadingOut&>(*e));
    if (e->Kind == okResult) result_ = static_cast<TResultOut*>(e)->Result;
  }
}

TOperationResult TPanelSession::Ended(uint8_t mode) const {
  TOperationResult r;
  r.Mode = mode;
  r.Settings.Groups = TGroups::None();
  r.Detail = link_ ? link_->FaultLine() : std::string();
  r.Outcome = interrupted_ ? TOutcome::Interrupted : TOutcome::LinkLost;
  return r;
}

// Serves the event loop until the operation's result is drained or the link
// ends; a signal ends the wait too.
TOperationResult TPanelSession::Wait(uint8_t mode) {
  drainTimer_.start();
  while (!result_ && !interrupted_ && link_ && !link_->Finished()) loop_.exec();
  drainTimer_.stop();
  Drain();
  if (result_ && !interrupted_) return *result_;
  return Ended(mode);
}

TOperationResult TPanelSession::Connect(const std::string& port, const std::string& phone) {
  Disconnect();
  result_.reset();
  link_ = std::make_unique<TModem>(port, phone, queue_, device_, true, clock_);
  device_.SetLink(link_.get());
  // The link says when an operation or the link itself has ended.
  notifier_ = new QSocketNotifier(link_->StateFd(), QSocketNotifier::Read);
  const int fd = link_->StateFd();
  QObject::connect(notifier_, &QSocketNotifier::activated, &loop_, [this, fd] {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(fd, &count, sizeof count);
    Drain();
    loop_.quit();
  });
  link_->Start();
  return Wait(Modes::Check);
}

TOperationResult TPanelSession::Run(uint8_t mode, const std::string& page, const TSettings& settings) {
  result_.reset();
  if (!Connected() || interrupted_) return Ended(mode);
  device_.SetPage(page);
  device_.SetSettings(settings);
  link_->SetMode(mode);
  return Wait(mode);
}

TOperationResult TPanelSession::Monitor(uint8_t channels, int64_t durationMs,
                                        std::function<void(const TReadingOut&)> onReading) {
  result_.reset();
  if (!Connected() || interrupted_) return Ended(Modes::Monitor);
  onReading_ = std::move(onReading);
  device_.SetMonitorChannels(channels);
  QTimer timeUp;
  timeUp.setSingleShot(true);
  timeUp.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timeUp, &QTimer::timeout, &loop_, [this] { StopMonitor(); });
  link_->SetMode(Modes::Monitor);
  if (durationMs >= 0) timeUp.start(std::chrono::milliseconds(durationMs));
  TOperationResult result = Wait(Modes::Monitor);
  onReading_ = nullptr;
  return result;
}

void TPanelSession::StopMonitor() {
  if (link_ && link_->GetMode() == Modes::Monitor) link_->SetMode(0);
}

void TPanelSession::Disconnect() {
  if (!link_) return;
  delete notifier_;
  notifier_ = nullptr;
  link_->Terminate();
  link_->WaitFor();
  Drain();
  link_.reset();
  device_.SetLink(nullptr);
}

void TPanelSession::Interrupt() {
  interrupted_ = true;
  if (link_) link_->Terminate();
  loop_.quit();
}
