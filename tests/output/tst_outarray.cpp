#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>

#include "output/OutArray.h"

namespace {

std::string PopText(TOutArray& queue) {
  TOutElement* e = nullptr;
  if (queue.Pop(e) != okMemo) return "<none>";
  return static_cast<TMemoOut*>(e)->Text;
}

}  // namespace

TEST(OutArray, EmptyQueueHandsOutNothing) {
  TOutArray queue;
  TOutElement* e = reinterpret_cast<TOutElement*>(1);
  EXPECT_EQ(queue.HasPending(), 0);
  EXPECT_EQ(queue.Pop(e), 0);
  EXPECT_EQ(e, nullptr);
}

TEST(OutArray, KeepsOrderAcrossTheWrapInBatches) {
  TOutArray queue;
  int next = 0;
  int expected = 0;
  for (int batch : {1, 1023, 7, 1000, 1023, 3}) {
    for (int i = 0; i < batch; ++i) queue.PostMemo(std::to_string(next++), true, false);
    for (int i = 0; i < batch; ++i) ASSERT_EQ(PopText(queue), std::to_string(expected++));
    EXPECT_EQ(queue.HasPending(), 0);
  }
}

TEST(OutArray, PostingSetsKindAndFields) {
  TOutArray queue;
  queue.DateTimeText = [] { return std::string("09.12.2026 10:11:12"); };
  queue.PostMemo("x", false, true);
  queue.PostMemo("", true, false);
  queue.PostControlColor(Targets::Panel2, clRed);
  queue.PostControlColor(Targets::Panel2, 0x00123456);
  queue.PostListItem({"TformKeys", "TMLV"}, "3", "0011223344556677", -1);
  queue.PostPersistent(Targets::DisconnectItem, "Click");

  TOutElement* e = nullptr;
  ASSERT_EQ(queue.HasPending(), okMemo);
  ASSERT_EQ(queue.Pop(e), okMemo);
  EXPECT_EQ(static_cast<TMemoOut*>(e)->Text, "09.12.2026 10:11:12 x");
  EXPECT_FALSE(static_cast<TMemoOut*>(e)->ShowInMemo);
  ASSERT_EQ(queue.Pop(e), okMemo);
  EXPECT_EQ(static_cast<TMemoOut*>(e)->Text, "");
  ASSERT_EQ(queue.Pop(e), okControlColor);
  EXPECT_EQ(static_cast<TControlOut*>(e)->Text, "clRed");
  ASSERT_EQ(queue.Pop(e), okControlColor);
  EXPECT_EQ(static_cast<TControlOut*>(e)->Text, "$00123456");
  ASSERT_EQ(queue.Pop(e), okListRow);
  EXPECT_EQ(static_cast<TListOut*>(e)->RowNumber, "3");
  EXPECT_EQ(static_cast<TListOut*>(e)->StateImage, -1);
  ASSERT_EQ(queue.Pop(e), okPersistent);
  EXPECT_EQ(static_cast<TPOut*>(e)->Target, Targets::DisconnectItem);
}

TEST(OutArray, ColourNames) {
  EXPECT_EQ(ColorToString(clRed), "clRed");
  EXPECT_EQ(ColorToString(clGreen), "clGreen");
  EXPECT_EQ(ColorToString(clBlue), "clBlue");
  EXPECT_EQ(ColorToString(clWindowText), "clWindowText");
}

// The element handed out stays alive until the next take of a waiting
// element (the address-sanitizer build catches a read of a freed element).
TEST(OutArray, LastTakenElementStaysAliveUntilTheNextTake) {
  TOutArray queue;
  queue.PostMemo("first", true, false);
  TOutElement* first = nullptr;
  queue.Pop(first);
  TOutElement* none = nullptr;
  EXPECT_EQ(queue.Pop(none), 0);  // an empty take frees nothing
  EXPECT_EQ(static_cast<TMemoOut*>(first)->Text, "first");
  queue.PostMemo("second", true, false);
  TOutElement* second = nullptr;
  queue.Pop(second);
  EXPECT_EQ(static_cast<TMemoOut*>(second)->Text, "second");
}

TEST(OutArray, ConcurrentProducerAndConsumerDeliverEverythingInOrder) {
  TOutArray queue;
  constexpr int count = 200000;
  std::thread producer([&] {
    for (int i = 0; i < count; ++i) queue.PostMemo(std::to_string(i), true, false);
  });
  int expected = 0;
  while (expected < count) {
    TOutElement* e = nullptr;
    if (queue.Pop(e) == 0) {
      std::this_thread::yield();
      continue;
    }
    ASSERT_EQ(static_cast<TMemoOut*>(e)->Text, std::to_string(expected));
    ++expected;
  }
  producer.join();
  EXPECT_EQ(queue.HasPending(), 0);
}

TEST(OutArray, FullQueueMakesTheProducerWaitWithoutLosingElements) {
  TOutArray queue;
  std::atomic<int> posted{0};
  std::thread producer([&] {
    for (int i = 0; i < 1500; ++i) {
      queue.PostMemo(std::to_string(i), true, false);
      ++posted;
    }
  });
  // The ring holds 1023: the producer must stop there until we take some.
  while (posted.load() < 1023) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(posted.load(), 1023);
  for (int i = 0; i < 1500; ++i) {
    TOutElement* e = nullptr;
    while (queue.Pop(e) == 0) std::this_thread::yield();
    ASSERT_EQ(static_cast<TMemoOut*>(e)->Text, std::to_string(i));
  }
  producer.join();
}

TEST(OutArray, StoppingProducerQueuesBehindAFullRingInOrder) {
  TOutArray queue;
  std::atomic<bool> stop{false};
  queue.SetProducerStop([&] { return stop.load(); });
  std::atomic<int> posted{0};
  std::thread producer([&] {
    for (int i = 0; i < 1100; ++i) {
      queue.PostMemo(std::to_string(i), true, false);
      ++posted;
    }
  });
  while (posted.load() < 1023) std::this_thread::yield();
  stop = true;
  queue.WakeProducer();
  producer.join();  // a stopping producer never hangs on a GUI that does not drain
  EXPECT_EQ(queue.WaitingCount(), 1100);
  for (int i = 0; i < 1100; ++i) ASSERT_EQ(PopText(queue), std::to_string(i));
  queue.PostMemo("after", true, false);
  EXPECT_EQ(PopText(queue), "after");
  EXPECT_EQ(queue.HasPending(), 0);
}

namespace {

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

}  // namespace

// A consumer sleeps on ReadyFd: every post, into the ring or behind it,
// must wake it, and a look after ClearReady must see what came before.
TEST(OutArray, EveryPostMakesTheReadyDescriptorReadable) {
  TOutArray queue;
  EXPECT_FALSE(Readable(queue.ReadyFd()));
  queue.PostMemo("one", true, false);
  EXPECT_TRUE(Readable(queue.ReadyFd()));
  queue.ClearReady();
  EXPECT_FALSE(Readable(queue.ReadyFd()));
  EXPECT_EQ(queue.HasPending(), okMemo);  // cleared, yet the element waits
  EXPECT_EQ(PopText(queue), "one");

  // Behind a full ring, while the producer is stopping.
  queue.SetProducerStop([] { return true; });
  for (int i = 0; i < TOutArray::SlotCount - 1; ++i) queue.PostMemo("ring", true, false);
  queue.ClearReady();
  queue.PostMemo("overflow", true, false);
  EXPECT_TRUE(Readable(queue.ReadyFd()));
  queue.ClearReady();
  queue.PostMemo("overflow again", true, false);
  EXPECT_TRUE(Readable(queue.ReadyFd()));
  EXPECT_EQ(queue.WaitingCount(), TOutArray::SlotCount + 1);
}
