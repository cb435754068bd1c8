// The output queue: the one-way channel from the link thread to the GUI thread.
//
// A fixed ring of 1024 slots, one producer (the link thread) and one consumer
// (the GUI thread's drain). An element is stored before the write index moves
// past it (release), and the consumer reads a slot only after it has seen the
// index move (acquire). The element taken last stays alive until the next take.
//
// A full ring never loses or overwrites an element: the producer waits for
// space. A producer whose link is stopping must not hang on a GUI that no
// longer drains (the main window waits for the link thread without applying
// elements), so while its stop check says so it queues the element in an
// overflow list behind the ring instead; order is kept.
//
// Every post also makes ReadyFd readable, so a consumer that has nothing to
// do sleeps on it instead of looking at the queue on a timer.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <mutex>
#include <string>

#include "output/OutElement.h"

class TOutArray {
 public:
  static constexpr int SlotCount = 1024;

  TOutArray();
  ~TOutArray();
  TOutArray(const TOutArray&) = delete;
  TOutArray& operator=(const TOutArray&) = delete;

  // Consumer (GUI thread).
  // Kind of the next waiting element, 0 when the queue is empty.
  uint8_t HasPending() const;
  // Hands out the next element (valid until the next Pop) and returns its
  // Kind; 0 and nullptr when the queue is empty.
  uint8_t Pop(TOutElement*& element);

  // Producer (link thread).
  void PostMemo(const std::string& text, bool showInMemo, bool withDateTime);
  // The same for a traffic line, or a line that quotes a serial fault.
  void PostMemo(const std::string& text, bool showInMemo, bool withDateTime, bool traffic,
                const TSerialFault& serial = {});
  void PostControlText(const TTarget& control, const std::string& text);
  void PostControlColor(const TTarget& control, uint32_t colour);
  void PostListItem(const TTarget& listView, const std::string& rowNumber, const std::string& text,
                    int32_t stateImage);
  void PostTriSlider(const TTarget& slider, int32_t index, const std::string& text);
  void PostMsg(const std::string& text);
  void PostPersistent(const TTarget& target, const std::string& text);
  void PostResult(const TOperationResult& result);
  // An ADC reading of the monitor; value none for a failed one.
  void PostReading(uint32_t timeMs, int32_t channel, std::optional<int32_t> value);

  // Producer: the check that tells a waiting post that its link is stopping.
  // Set by the link thread when its body starts, cleared when it ends.
  void SetProducerStop(std::function<bool()> stopRequested);
  // Any thread: wakes a post that waits for space, so it looks at its stop check.
  void WakeProducer();

  // Text put before a memo line with date and time: local short date, a space,
  // long time. Replaceable for tests; set it before any producer runs.
  std::function<std::string()> DateTimeText;

  // Number of elements waiting (either thread; a snapshot).
  int WaitingCount() const;

  // Consumer: a descriptor (an eventfd) that a post makes readable. The
  // consumer going to sleep calls ClearReady and then looks at HasPending
  // once more: a post after that look makes the descriptor readable again.
  int ReadyFd() const { return readyFd_; }
  void ClearReady();

 private:
  void Post(std::unique_ptr<TOutElement> element);
  void SignalReady();
  static int Next(int index) { return index == SlotCount ? 1 : index + 1; }
  std::unique_ptr<TOutElement>& Slot(int index) { return slots_[index - 1]; }

  std::array<std::unique_ptr<TOutElement>, SlotCount> slots_;
  std::atomic<int> readIndex_{1};
  std::atomic<int> writeIndex_{1};

  mutable std::mutex mutex_;  // guards overflow_ and the producer's wait
  std::condition_variable spaceCv_;
  std::deque<std::unique_ptr<TOutElement>> overflow_;
  std::atomic<bool> overflowUsed_{false};
  std::unique_ptr<TOutElement> lastOverflow_;  // consumer only
  int readyFd_ = -1;
  std::function<bool()> stopRequested_;        // producer only
};

// Name of a colour value (0x00BBGGRR, or a system colour 0x800000nn):
// "clRed", "clBlue", "clWindowText"..., else "$" and eight hex digits.
std::string ColorToString(uint32_t colour);

// Colour values used by the device.
constexpr uint32_t clRed = 0x000000FF;
constexpr uint32_t clGreen = 0x00008000;
constexpr uint32_t clBlue = 0x00FF0000;
constexpr uint32_t clWindowText = 0x80000008;
