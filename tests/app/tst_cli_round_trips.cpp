// The README's promises through the binary, for panel states drawn by
// RapidCheck (thirty a run): `read --out` makes a file that `diff` finds equal to the
// panel, `write --backup --verify` takes it and leaves the panel in the
// canonical form of the state read, and the backup writes the panel back;
// with and without --adc.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <array>
#include <thread>

#include "library/Library.h"
#include "library/LibraryUse.h"
#include "persist/SettingsCodec.h"
#include "tests/app/CliRun.h"
#include "tests/common/PanelStates.h"
#include "tools/PanelSim.h"

using ostrel::sim::CanonicalPanel;
using ostrel::sim::CheckProperty;
using ostrel::sim::FirstDifference;
using ostrel::sim::TPanelSim;
using ostrel::sim::TPanelState;
namespace gen = ostrel::sim::gen;

namespace {

// QProcess, which runs the binary, wants an application object.
struct TApp {
  int argc = 1;
  char name[4] = "tst";
  char* argv[2] = {name, nullptr};
  QCoreApplication app{argc, argv};
};

// "" when the run ended with status 0, else what it said.
std::string Ran(const QStringList& args, int wanted = 0) {
  const TRun run = Run(args);
  if (run.status == wanted) return {};
  return (args.join(' ') + " ended with " + QString::number(run.status) + ":\n" + run.out + run.err).toStdString();
}

// What the panel holds after a write of the settings read from state, over
// a panel that held before: without --adc the ADC channels stay as they
// were, with it only the readings do.
TPanelState AfterWrite(const TPanelState& state, const TPanelState& before, bool adc) {
  TPanelState expected = CanonicalPanel(state);
  if (!adc) expected.Adc = before.Adc;
  for (int c = 0; c < ostrel::sim::kAdcChannels; ++c) expected.Adc[c].Reading = before.Adc[c].Reading;
  return expected;
}

std::string RoundTrip(TPanelSim& sim, const QTemporaryDir& dir, const TPanelState& state, const TPanelState& before,
                      bool adc) {
  const QString port = Path(sim);
  const QString file = dir.filePath("panel.ini");
  const QString backup = dir.filePath("before.ini");
  QFile::remove(file);
  QFile::remove(backup);
  const QStringList more = adc ? QStringList{"--adc", "--quiet"} : QStringList{"--quiet"};

  sim.SetState(state);
  if (std::string why = Ran(QStringList{"read", "--port", port, "--out", file} + more); !why.empty()) return why;
  if (std::string why = Ran(QStringList{"diff", "--port", port, "--in", file} + more); !why.empty()) return why;

  sim.SetState(before);
  if (std::string why = Ran(QStringList{"write", "--port", port, "--in", file, "--backup", backup, "--verify"} + more);
      !why.empty())
    return why;
  if (const std::string d = FirstDifference(sim.State(), AfterWrite(state, before, adc)); !d.empty())
    return "after write the panel holds " + d + " (the canonical form)";

  // The backup undoes the write.
  if (std::string why = Ran(QStringList{"write", "--port", port, "--in", backup} + more); !why.empty())
    return "the backup: " + why;
  if (const std::string d = FirstDifference(sim.State(), AfterWrite(before, before, adc)); !d.empty())
    return "after the backup's write the panel holds " + d + " (the canonical form)";
  return {};
}

// Each case runs three panel states at once, on three simulators: the runs
// wait on the line far more than they work. Under the sanitizers they run
// one after the other on the test's thread: a child started from another
// thread (QProcess forks) confuses the thread checker.
TEST(CliRoundTrips, ReadDiffWriteVerifyAndUndo) {
  TApp app;
  constexpr int kLanes = 3;
  std::array<TPanelSim, kLanes> sims;
  std::array<QTemporaryDir, kLanes> dirs;
  for (int i = 0; i < kLanes; ++i) {
    sims[i].Start();
    ASSERT_TRUE(dirs[i].isValid());
  }
  const std::string failure = CheckProperty("CliRoundTrips", 10, [&] {
    struct TLane {
      TPanelState state, before;
      bool adc = false;
      std::string why;
    };
    std::array<TLane, kLanes> lanes;
    for (TLane& lane : lanes) {
      lane.state = *gen::PanelState();
      lane.before = *gen::PanelState();
      lane.adc = *gen::Choice<bool>({false, true});
    }
    const auto run = [&](int i) {
      TLane& lane = lanes[i];
      lane.why = RoundTrip(sims[i], dirs[i], lane.state, lane.before, lane.adc);
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < kLanes; ++i) {
      if (ostrel::sim::SanitizerStride() > 1)
        run(i);
      else
        threads.emplace_back(run, i);
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < kLanes; ++i)
      if (!lanes[i].why.empty())
        RC_FAIL("state " + std::to_string(i + 1) + (lanes[i].adc ? " with --adc: " : ": ") + lanes[i].why);
  });
  EXPECT_TRUE(failure.empty()) << failure;
}

// The case that made this test: a loop reporting the normal state on both
// rows, read, compared, written back and undone.
TEST(CliRoundTrips, BothRowsOfALoopNormal) {
  TApp app;
  TPanelSim sim;
  sim.Start();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TPanelState state;
  state.Flags[6] = "101";
  state.Flags[10] = "001";
  TPanelState before;
  before.Flags.fill("011");
  for (const bool adc : {false, true}) EXPECT_EQ(RoundTrip(sim, dir, state, before, adc), "") << "adc " << adc;
}

// A read recorded before reads were canonical holds both rows of loop 3 as
// its normal state: show prints it as a file write accepts, with the lower
// row, and history --diff reads it the same way.
TEST(CliRoundTrips, AnOldRecordOfBothRowsShowsTheLowerRow) {
  TApp app;
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath("library.sqlite");
  {
    TLibraryPlace place;
    place.File = file;
    TLibrary library;
    ASSERT_TRUE(library.Open(place)) << library.Error().toStdString();
    TSite site;
    site.Name = "old";
    ASSERT_TRUE(library.AddSite(site));
    TSettings settings;
    settings.Groups = TGroups::All();
    TRecord r;
    r.Kind = TRecordKind::Read;
    r.Outcome = TRecordOutcome::Success;
    r.Settings = RecordSettingsText(settings, QString()).replace("Norm7=0", "Norm7=1").replace("Norm11=0", "Norm11=1");
    ASSERT_TRUE(library.AddRecord("old", &r));
    TRecord plain = r;
    plain.Uid.clear();
    plain.Settings = RecordSettingsText(settings, QString());
    ASSERT_TRUE(library.AddRecord("old", &plain));
  }
  // The library's spool and the program's settings stay in the test's own
  // directory.
  qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
  qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
  const TRun show = ::Run({"show", "old", "--record", "1", "--library", file});
  ASSERT_EQ(show.status, 0) << show.err.toStdString();
  EXPECT_TRUE(show.out.contains("Norm7=0\r\n") && show.out.contains("Norm11=1\r\n")) << show.out.toStdString();
  const QString undo = dir.filePath("undo.ini");
  QFile out(undo);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(show.out.toUtf8());
  out.close();
  EXPECT_FALSE(ReadSettingsForWrite(undo, TGroups::All(), nullptr).has_value());

  const TRun diff = ::Run({"history", "old", "--diff", "1", "2", "--library", file});
  EXPECT_EQ(diff.status, 4) << diff.err.toStdString();
  EXPECT_EQ(diff.out, "[Norm] Norm11: record 1 '1' record 2 '0'\n");
}

}  // namespace
