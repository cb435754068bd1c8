// The link thread's life on a real pseudo-terminal and in real time.
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <atomic>
#include <functional>
#include <thread>

#include "link/xModem.h"
#include "tests/common/Drain.h"
#include "tests/common/ScriptedPeer.h"

namespace {

// Counts the steps the link loop hands it; mode 1 goes straight to idle.
class TStepCounter : public TDevice {
 public:
  void ReadPage() override {}
  void WritePage() override {}
  void ReadAll() override {}
  void WriteAll() override {}
  void Step(uint8_t mode) override {
    if (mode == 1) {
      ++checks;
      timerSlackNs = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
      link->SetMode(0);
    } else {
      ++idles;
      link->Sleep(idleMs.load());
    }
  }
  TModem* link = nullptr;
  std::atomic<int> checks{0};
  std::atomic<int> idles{0};
  std::atomic<int> timerSlackNs{-1};  // as the link thread sees it
  std::atomic<uint32_t> idleMs{50};    // the wait of each idle step
};

// Waits, for as long as a loaded machine may need, until done() holds.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 6000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

std::vector<std::string> WithoutDates(const TDrained& d) {
  std::vector<std::string> lines;
  for (const auto& line : d.Memo) lines.push_back(line.Text.rfind("DT ", 0) == 0 ? line.Text.substr(3) : line.Text);
  return lines;
}

}  // namespace

TEST(LinkThread, NormalRunOpensStepsAndCloses) {
  TScriptedPeer peer;
  TOutArray queue;
  queue.DateTimeText = [] { return std::string("DT"); };
  TStepCounter device;
  TModem link(peer.Path(), "", queue, device, true);
  device.link = &link;
  std::atomic<bool> connected{true};
  link.SetConnectedCheck([&] { return connected.load(); });
  EXPECT_EQ(link.GetMode(), 0);
  link.Start();
  ASSERT_TRUE(Eventually([&] { return device.idles.load() >= 3; }));
  EXPECT_EQ(device.checks.load(), 1);
  // Its many short waits end on time, not up to 50 us late each.
  EXPECT_EQ(device.timerSlackNs.load(), 1);
  // The idle step's wait ends at the stop request, not at its own end.
  const uint32_t longIdleMs = 600'000;
  device.idleMs = longIdleMs;
  const int shortIdles = device.idles.load();  // the next idle step waits long
  ASSERT_TRUE(Eventually([&] { return device.idles.load() > shortIdles; }));
  const auto stopAsked = std::chrono::steady_clock::now();
  link.Terminate();
  link.WaitFor();
  EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, std::chrono::milliseconds(longIdleMs));
  EXPECT_TRUE(link.Finished());

  TDrained d = Drain(queue);
  const std::vector<std::string> expected = {" # Поток начал работу", " # Успешно открыли COM порт: " + peer.Path(),
                                             " # Успешно закрыли COM порт: " + peer.Path(), " # Поток завершил работу"};
  EXPECT_EQ(WithoutDates(d), expected);
  for (const auto& line : d.Memo) EXPECT_TRUE(line.Shown);
  EXPECT_EQ(d.TextsFor(Targets::Panel2), (std::vector<std::string>{"Открываем COM порт: " + peer.Path(),
                                                                     "Успешно открыли COM порт: " + peer.Path()}));
  // The window showed the connected state: the link asks it to disconnect.
  ASSERT_EQ(d.Persistent.size(), 1u);
  EXPECT_EQ(d.Persistent[0].first, Targets::DisconnectItem);
  EXPECT_EQ(d.Persistent[0].second, "Click");
  // A direct link sends nothing of its own.
  EXPECT_EQ(peer.Received(), "");
}

TEST(LinkThread, PortThatCannotBeOpenedEndsWithoutRetrying) {
  TOutArray queue;
  queue.DateTimeText = [] { return std::string("DT"); };
  TStepCounter device;
  const std::string name = "/nonexistent/ostrel-port";
  TModem link(name, "", queue, device, true);
  device.link = &link;
  link.SetConnectedCheck([] { return false; });
  link.Start();
  link.WaitFor();
  TDrained d = Drain(queue);
  EXPECT_EQ(WithoutDates(d), (std::vector<std::string>{" # Поток начал работу",
                                                       " # !!! Ошибка открытия COM порта: Cannot open device " + name +
                                                           ": No such file or directory",
                                                       " # Поток завершил работу"}));
  // The system's reason follows the fixed texts.
  EXPECT_EQ(d.TextsFor(Targets::Panel2),
            (std::vector<std::string>{"Открываем COM порт: " + name,
                                      "Ошибка при открытии COM порта: " + name + ": No such file or directory"}));
  EXPECT_TRUE(d.Persistent.empty());
  EXPECT_EQ(device.checks.load() + device.idles.load(), 0);
}

TEST(LinkThread, LineLostWhileIdleEndsTheLink) {
  TScriptedPeer peer;
  TOutArray queue;
  queue.DateTimeText = [] { return std::string("DT"); };
  // Idle steps drain the port, as the panel device does.
  class TDrainer : public TStepCounter {
   public:
    void Step(uint8_t mode) override {
      TStepCounter::Step(mode);
      if (mode == 0) link->DrainInput();
    }
  } device;
  TModem link(peer.Path(), "", queue, device, true);
  device.link = &link;
  link.Start();
  ASSERT_TRUE(Eventually([&] { return device.idles.load() >= 2; }));
  peer.CloseLine();
  ASSERT_TRUE(Eventually([&] { return link.Finished(); })) << "a lost line must end the link by itself";
  link.WaitFor();
  const auto lines = WithoutDates(Drain(queue));
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3].rfind(" # !!! Ошибка при чтении данных из COM порта: Unable to read from port.", 0),
            0u);
  EXPECT_EQ(lines.back(), " # Поток завершил работу");
}

TEST(LinkThread, DestroyingARunningLinkStopsIt) {
  TScriptedPeer peer;
  TOutArray queue;
  TStepCounter device;
  {
    TModem link(peer.Path(), "", queue, device, true);
    device.link = &link;
    link.Start();
    ASSERT_TRUE(Eventually([&] { return device.idles.load() >= 1; }));
  }
  const auto lines = WithoutDates(Drain(queue));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().find(" # Поток завершил работу"), lines.back().size() - std::string(" # Поток завершил работу").size());
}
