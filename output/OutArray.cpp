#include "output/OutArray.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

std::string LocalDateTimeText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S", &local);
  return text;
}

}  // namespace

TOutArray::TOutArray()
    : DateTimeText(LocalDateTimeText), readyFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TOutArray::~TOutArray() {
  if (readyFd_ >= 0) close(readyFd_);
}

void TOutArray::ClearReady() {
  uint64_t count = 0;
  [[maybe_unused]] ssize_t n = read(readyFd_, &count, sizeof count);
}

void TOutArray::SignalReady() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(readyFd_, &one, sizeof one);
}

uint8_t TOutArray::HasPending() const {
  const int read = readIndex_.load(std::memory_order_relaxed);
  if (read != writeIndex_.load(std::memory_order_acquire)) return slots_[read - 1]->Kind;
  if (!overflowUsed_.load(std::memory_order_acquire)) return 0;
  std::lock_guard lock(mutex_);
  return overflow_.empty() ? 0 : overflow_.front()->Kind;
}

uint8_t TOutArray::Pop(TOutElement*& element) {
  element = nullptr;
  const int read = readIndex_.load(std::memory_order_relaxed);
  if (read != writeIndex_.load(std::memory_order_acquire)) {
    element = Slot(read).get();
    // Free the element handed out by the previous take; the producer may
    // reuse that slot only after it sees the new read index.
    Slot(read == 1 ? SlotCount : read - 1).reset();
    lastOverflow_.reset();
    readIndex_.store(Next(read), std::memory_order_release);
    { std::lock_guard lock(mutex_); }
    spaceCv_.notify_one();
    return element->Kind;
  }
  if (!overflowUsed_.load(std::memory_order_acquire)) return 0;
  std::lock_guard lock(mutex_);
  if (overflow_.empty()) return 0;
  lastOverflow_ = std::move(overflow_.front());
  overflow_.pop_front();
  if (overflow_.empty()) overflowUsed_.store(false, std::memory_order_release);
  element = lastOverflow_.get();
  return element->Kind;
}

int TOutArray::WaitingCount() const {
  const int read = readIndex_.load(std::memory_order_acquire);
  const int write = writeIndex_.load(std::memory_order_acquire);
  std::lock_guard lock(mutex_);
  return (write - read + SlotCount) % SlotCount + static_cast<int>(overflow_.size());
}

void TOutArray::SetProducerStop(std::function<bool()> stopRequested) {
  std::lock_guard lock(mutex_);
  stopRequested_ = std::move(stopRequested);
}

void TOutArray::WakeProducer() {
  { std::lock_guard lock(mutex_); }
  spaceCv_.notify_all();
}

void TOutArray::Post(std::unique_ptr<TOutElement> element) {
  const int write = writeIndex_.load(std::memory_order_relaxed);
  auto ringFull = [&] { return Next(write) == readIndex_.load(std::memory_order_acquire); };
  auto stopping = [&] { return stopRequested_ && stopRequested_(); };

  std::unique_lock lock(mutex_);
  // Once elements wait in the overflow list, later ones go behind them.
  if (!overflow_.empty()) {
    overflow_.push_back(std::move(element));
    lock.unlock();
    return SignalReady();
  }
  if (ringFull()) {
    spaceCv_.wait(lock, [&] { return !ringFull() || stopping(); });
    if (ringFull()) {
      overflow_.push_back(std::move(element));
      overflowUsed_.store(true, std::memory_order_release);
      lock.unlock();
      return SignalReady();
    }
  }
  lock.unlock();
  Slot(write) = std::move(element);
  writeIndex_.store(Next(write), std::memory_order_release);
  SignalReady();
}

void TOutArray::PostMemo(const std::string& text, bool showInMemo, bool withDateTime) {
  PostMemo(text, showInMemo, withDateTime, false);
}

void TOutArray::PostMemo(const std::string& text, bool showInMemo, bool withDateTime, bool traffic,
                         const TSerialFault& serial) {
  auto e = std::make_unique<TMemoOut>();
  e->ShowInMemo = showInMemo;
  e->Text = withDateTime ? DateTimeText() + " " + text : text;
  e->Traffic = traffic;
  e->Serial = serial;
  Post(std::move(e));
}

void TOutArray::PostControlText(const TTarget& control, const std::string& text) {
  auto e = std::make_unique<TControlOut>(okControlText);
  e->Control = control;
  e->Text = text;
  Post(std::move(e));
}

void TOutArray::PostControlColor(const TTarget& control, uint32_t colour) {
  auto e = std::make_unique<TControlOut>(okControlColor);
  e->Control = control;
  e->Text = ColorToString(colour);
  Post(std::move(e));
}

void TOutArray::PostListItem(const TTarget& listView, const std::string& rowNumber, const std::string& text,
                             int32_t stateImage) {
  auto e = std::make_unique<TListOut>();
  e->ListView = listView;
  e->RowNumber = rowNumber;
  e->Text = text;
  e->StateImage = stateImage;
  Post(std::move(e));
}

void TOutArray::PostTriSlider(const TTarget& slider, int32_t index, const std::string& text) {
  auto e = std::make_unique<TTriSliderOut>();
  e->Slider = slider;
  e->Index = index;
  e->Text = text;
  Post(std::move(e));
}

void TOutArray::PostMsg(const std::string& text) {
  auto e = std::make_unique<TMsgOut>();
  e->Text = text;
  Post(std::move(e));
}

void TOutArray::PostPersistent(const TTarget& target, const std::string& text) {
  auto e = std::make_unique<TPOut>();
  e->Target = target;
  e->Text = text;
  Post(std::move(e));
}

void TOutArray::PostResult(const TOperationResult& result) {
  auto element = std::make_unique<TResultOut>();
  element->Result = result;
  Post(std::move(element));
}

void TOutArray::PostReading(uint32_t timeMs, int32_t channel, std::optional<int32_t> value) {
  auto element = std::make_unique<TReadingOut>();
  element->TimeMs = timeMs;
  element->Channel = channel;
  element->Value = value;
  Post(std::move(element));
}

std::string ColorToString(uint32_t colour) {
  struct TColourName {
    uint32_t value;
    const char* name;
  };
  static const TColourName names[] = {
      {0x000000, "clBlack"},   {0x000080, "clMaroon"},  {0x008000, "clGreen"},
      {0x008080, "clOlive"},   {0x800000, "clNavy"},    {0x800080, "clPurple"},
      {0x808000, "clTeal"},    {0x808080, "clGray"},    {0xC0C0C0, "clSilver"},
      {0x0000FF, "clRed"},     {0x00FF00, "clLime"},    {0x00FFFF, "clYellow"},
      {0xFF0000, "clBlue"},    {0xFF00FF, "clFuchsia"}, {0xFFFF00, "clAqua"},
      {0xFFFFFF, "clWhite"},   {0x1FFFFFFF, "clNone"},  {0x20000000, "clDefault"},
      {0x80000000, "clScrollBar"},      {0x80000001, "clBackground"},
      {0x80000002, "clActiveCaption"},  {0x80000003, "clInactiveCaption"},
      {0x80000004, "clMenu"},           {0x80000005, "clWindow"},
      {0x80000006, "clWindowFrame"},    {0x80000007, "clMenuText"},
      {0x80000008, "clWindowText"},     {0x80000009, "clCaptionText"},
      {0x8000000A, "clActiveBorder"},   {0x8000000B, "clInactiveBorder"},
      {0x8000000C, "clAppWorkSpace"},   {0x8000000D, "clHighlight"},
      {0x8000000E, "clHighlightText"},  {0x8000000F, "clBtnFace"},
      {0x80000010, "clBtnShadow"},      {0x80000011, "clGrayText"},
      {0x80000012, "clBtnText"},        {0x80000013, "clInactiveCaptionText"},
      {0x80000014, "clBtnHighlight"},   {0x80000015, "cl3DDkShadow"},
      {0x80000016, "cl3DLight"},        {0x80000017, "clInfoText"},
      {0x80000018, "clInfoBk"},
  };
  for (const auto& n : names)
    if (n.value == colour) return n.name;
  char text[16];
  std::snprintf(text, sizeof text, "$%08X", static_cast<unsigned>(colour));
  return text;
}
