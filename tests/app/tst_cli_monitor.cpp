// ostrelgsm4 monitor end to end: the real binary against the panel simulator
// with scripted readings. The scripts count reading requests, not time, so
// what the monitor sees does not depend on the machine's speed.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <numeric>
#include <sstream>

#include "tests/common/Child.h"
#include "tests/common/WholeCommands.h"
#include "tools/PanelSim.h"

using ostrel::sim::EFault;
using ostrel::sim::TAdcScript;
using ostrel::sim::TFault;
using ostrel::sim::TPanelSim;
using ostrel::sim::TPanelState;
using ostrel::sim::test::TChild;
using ostrel::sim::test::TClock;

namespace {

constexpr int kGuardMs = 60000;  // only against a hang

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string LastLine(const std::string& text) {
  const std::vector<std::string> lines = Lines(text);
  return lines.empty() ? std::string() : lines.back();
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, ',')) fields.push_back(field);
  if (!line.empty() && line.back() == ',') fields.push_back("");
  return fields;
}

TAdcScript Script(const std::string& text) {
  TAdcScript script;
  std::string error;
  EXPECT_TRUE(ostrel::sim::ParseAdcScript(text, script, error)) << error;
  return script;
}

// Whether another opener would find the port taken.
bool PortTaken(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;
  int exclusive = 0;
  const bool set = ioctl(fd, TIOCGEXCL, &exclusive) != 0 || exclusive != 0;
  const bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0;
  close(fd);
  return set || locked;
}

}  // namespace

// A loop taken through every state in turn: each line names the state its
// level stands for under the thresholds read, a failed reading says so, and
// Ctrl+C ends it with 130 and the port free to open again.
TEST(CliMonitor, CsvStatesFollowTheScriptAndCtrlCFreesThePort) {
  TPanelSim sim;
  TPanelState state;
  state.Adc[0].Thresholds = {60, 200, 400, 600, 800};
  sim.SetState(state);
  // The thresholds' read takes the first reading; the monitor sees 3 of 30.
  sim.SetAdcScript(Script("1 30 4r\n1 100 3r\n1 250 3r\n1 450 3r\n1 650 3r\n1 900 3r\n"));
  // The monitor's fifth request of channel 1 is refused.
  sim.AddFault(TFault{"+c=0", EFault::Error, true, 5, ""});
  sim.Start();
  TChild child(OSTRELGSM4_BINARY, {"monitor", "--port", sim.SlavePath(), "--channel", "1", "--csv"});
  // Until the last level has come, and stayed.
  std::string out;
  const auto guard = TClock::now() + std::chrono::milliseconds(kGuardMs);
  while (out.find(",900,Оба разомкнуты\n") == std::string::npos && TClock::now() < guard) child.ReadMore(out, 1000);
  child.Signal(SIGINT);
  out += child.AllOutput(kGuardMs);
  EXPECT_EQ(child.WaitExit(kGuardMs), 130);
  EXPECT_EQ(LastLine(child.Errors()), "ostrelgsm4: interrupted");
  EXPECT_NE(child.Errors().find("channel 1 thresholds: КЗ 60, Оба замкнуты 200, 2-й замкнут 400, "
                                "1-й замкнут 600, Оба разомкнуты 800"),
            std::string::npos)
      << child.Errors();

  const std::vector<std::string> lines = Lines(out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "time,channel,value,state");
  std::vector<std::pair<std::string, std::string>> levels;  // value and state, each level once
  int failed = 0;
  double before = -1;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> f = Fields(lines[i]);
    ASSERT_EQ(f.size(), 4u) << lines[i];
    EXPECT_EQ(f[1], "1");
    const double time = std::stod(f[0]);
    EXPECT_GE(time, before);
    before = time;
    if (f[3] == "failed") {
      EXPECT_EQ(f[2], "") << "a failed reading has no value";
      ++failed;
      continue;
    }
    if (levels.empty() || levels.back().first != f[2]) levels.emplace_back(f[2], f[3]);
  }
  EXPECT_EQ(failed, 1);
  const std::vector<std::pair<std::string, std::string>> expected{
      {"30", ""}, {"100", "КЗ"}, {"250", "Оба замкнуты"}, {"450", "2-й замкнут"}, {"650", "1-й замкнут"},
      {"900", "Оба разомкнуты"}};
  EXPECT_EQ(levels, expected);
  const std::vector<std::string> commands = sim.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "+c=1"), 1) << "channel 2 only by the thresholds' read";
  ExpectWholeCommands(sim);

  EXPECT_FALSE(PortTaken(sim.SlavePath()));
  TChild again(OSTRELGSM4_BINARY, {"monitor", "--port", sim.SlavePath(), "--duration", "0.1", "--quiet"});
  EXPECT_EQ(again.WaitExit(kGuardMs), 0) << again.Errors();
}

// Both channels in turn, one JSON object a line, until the time is up.
TEST(CliMonitor, JsonLinesForBothChannelsUntilTheTimeIsUp) {
  TPanelSim sim;
  TPanelState state;
  state.Adc[0].Reading = 0x2A0;
  state.Adc[1].Reading = 0x010;
  sim.SetState(state);
  sim.Start();
  TChild child(OSTRELGSM4_BINARY, {"monitor", "--port", sim.SlavePath(), "--json", "--duration", "0.3", "--quiet"});
  const std::string out = child.AllOutput(kGuardMs);
  EXPECT_EQ(child.WaitExit(kGuardMs), 0) << child.Errors();
  const std::vector<std::string> lines = Lines(out);
  ASSERT_GE(lines.size(), 2u);
  for (size_t i = 0; i < lines.size(); ++i) {
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(lines[i])).object();
    EXPECT_EQ(o.value("channel").toInt(), int(i % 2) + 1) << lines[i];
    EXPECT_EQ(o.value("value").toInt(), i % 2 == 0 ? 0x2A0 : 0x010) << lines[i];
    EXPECT_EQ(o.value("state").toString(), i % 2 == 0 ? QString::fromUtf8("2-й замкнут") : QString()) << lines[i];
    EXPECT_TRUE(o.value("time").isDouble());
  }
  EXPECT_FALSE(PortTaken(sim.SlavePath()));
}

// The line dropped while monitoring: the usual lost-link line, status 3, and
// nothing the panel took was half a command.
TEST(CliMonitor, ALostLinkEndsItAsAReadEnds) {
  TPanelSim sim;
  int readings = 0;
  sim.SetCommandHandler([&](const std::string& command) {
    if (command.rfind("+c=", 0) == 0 && ++readings == 9) sim.CloseLine();
  });
  sim.Start();
  TChild child(OSTRELGSM4_BINARY, {"monitor", "--port", sim.SlavePath()});
  const std::string out = child.AllOutput(kGuardMs);
  EXPECT_EQ(child.WaitExit(kGuardMs), 3);
  const std::string last = LastLine(child.Errors());
  EXPECT_EQ(last.rfind("ostrelgsm4: monitoring the ADC channels failed: the link to the panel was lost (", 0), 0u)
      << last;
  EXPECT_FALSE(Lines(out).empty());
  ExpectWholeCommands(sim);
}

TEST(CliMonitor, RefusesBadOptionsBeforeOpeningThePort) {
  const std::vector<std::vector<std::string>> cases{
      {"--channel", "3"},          {"--channel", "both"}, {"--duration", "0"}, {"--duration", "-1"},
      {"--duration", "soon"},      {"--csv", "--json"},   {"--in", "x.ini"},   {"--adc"},
  };
  for (const auto& extra : cases) {
    std::vector<std::string> args{"monitor", "--port", "/nonexistent/port"};
    args.insert(args.end(), extra.begin(), extra.end());
    TChild child(OSTRELGSM4_BINARY, args);
    EXPECT_EQ(child.WaitExit(kGuardMs), 1) << extra[0];
    EXPECT_EQ(child.Errors().find("connection failed"), std::string::npos) << child.Errors();
  }
}
