// Round trips over the whole settings space, in process: the device, the
// settings file's codec and the simulator's panel engine, through the real
// link and port code with a virtual clock. For panel states drawn by
// RapidCheck, a read saved as a settings file passes write's strict check,
// means what was read, writes back, reads back the same, and leaves the
// panel in its canonical form. The cases the generator found stand in the
// table below; the four ways of comparing two settings agree.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "library/LibraryUse.h"
#include "model/Fields.h"
#include "ops/ProvisionSteps.h"
#include "persist/IniFile.h"
#include "persist/SettingsCodec.h"
#include "tests/common/PanelStates.h"
#include "tests/protocol/ExchangeRig.h"
#include "tools/PanelSim.h"

using ostrel::sim::CanonicalPanel;
using ostrel::sim::CheckProperty;
using ostrel::sim::FirstDifference;
using ostrel::sim::TPanelSim;
using ostrel::sim::TPanelState;
namespace gen = ostrel::sim::gen;

namespace {

// One panel and one device for every state of a run.
struct TPanelRig {
  TPanelRig() { panel.Start(); }
  ~TPanelRig() { panel.Stop(); }

  // Read all and the ADC channels; "" or why not.
  std::string Read(TSettings& settings, TOperationResult* result = nullptr) {
    TOutput all = rig.Run(Pages::Common, Modes::ReadAll);
    if (!all.Result.Succeeded()) return "read all: " + OutcomeText(all.Result.Outcome) + " " + all.Result.Command;
    const TOutput adc = rig.Run(Pages::ACP, Modes::ReadPage);
    if (!adc.Result.Succeeded()) return "ADC read: " + OutcomeText(adc.Result.Outcome) + " " + adc.Result.Command;
    settings = all.Read();
    CopyGroup(settings, adc.Read(), TGroup::Adc);
    for (const TOutput* out : {static_cast<const TOutput*>(&all), &adc})
      for (const TOutput::TLine& line : out->Memo)
        if (line.Text.find("!!!") != std::string::npos) return "the read says: " + line.Text;
    if (result) {
      *result = all.Result;
      result->Settings = settings;
    }
    return {};
  }
  // Write all and the ADC thresholds; "" or why not.
  std::string Write(const TSettings& settings) {
    rig.settings = settings;
    const TOutput all = rig.Run(Pages::Common, Modes::WriteAll);
    if (!all.Result.Succeeded()) return "write all: " + OutcomeText(all.Result.Outcome) + " " + all.Result.Command;
    const TOutput adc = rig.Run(Pages::ACP, Modes::WritePage);
    if (!adc.Result.Succeeded()) return "ADC write: " + OutcomeText(adc.Result.Outcome) + " " + adc.Result.Command;
    return {};
  }

  TPanelSim panel;
  TRig rig{panel.SlavePath(), panel};
};

// The settings as a settings file's text, as read --out saves them.
QByteArray FileText(const TSettings& settings) {
  TIniFile ini{QString()};
  ini.LoadText(QByteArray());
  EncodeSettings(settings, {QStringLiteral("/dev/pts/7"), false}, ini);
  return ini.Text();
}

// The text read as strictly as write reads a file.
TDecodedSettings Strict(const QByteArray& text) {
  TIniFile ini{QString()};
  ini.LoadText(text);
  TSettings none;
  none.Groups = TGroups::None();
  return DecodeSettings(ini, none, TGroups::AllWithAdc());
}

std::string Named(const std::vector<TDifference>& differences) {
  if (differences.empty()) return {};
  const TDifference& d = differences.front();
  return FieldName(*d.Field).toStdString() + ": '" + d.Left + "' / '" + d.Right + "'";
}

// Read → file → strict check → the file means what was read → write → read
// back the same → the panel holds the canonical form. "" or the first thing
// that went wrong.
std::string RoundTrip(TPanelRig& p, const TPanelState& state, const TPanelState& before) {
  p.panel.SetState(state);
  TSettings read;
  if (std::string why = p.Read(read); !why.empty()) return why;
  if (const std::vector<const TField*> broken = BrokenFields(read); !broken.empty())
    return "the read breaks write's rules: " + FieldName(*broken.front()).toStdString();
  const QByteArray text = FileText(read);
  const TDecodedSettings file = Strict(text);
  if (!file.Problems.empty()) return "write refuses the file: " + file.Problems.front().Text.toStdString();
  if (file.Missing) return "the file lacks " + file.Missing->toStdString();
  if (const std::string d = Named(Differences(read, file.Settings)); !d.empty()) return "the file differs: " + d;

  // Written over another state, so that every value has to travel.
  p.panel.SetState(before);
  TProvisionSteps steps = TProvisionSteps::ForWrite(false, true);
  steps.Writing(file.Settings);
  if (std::string why = p.Write(file.Settings); !why.empty()) return why;
  steps.Written(TOperationResult{});
  TSettings back;
  TOperationResult backResult;
  if (std::string why = p.Read(back, &backResult); !why.empty()) return "verify: " + why;
  steps.VerifyRead(backResult, back);
  if (steps.End() != TProvisionEnd::Done) return "verify: the panel did not keep " + Named(steps.Found());

  TPanelState expected = CanonicalPanel(state);
  // The readings are the panel's own: a write leaves them.
  for (int c = 0; c < ostrel::sim::kAdcChannels; ++c) expected.Adc[c].Reading = before.Adc[c].Reading;
  if (const std::string d = FirstDifference(p.panel.State(), expected); !d.empty())
    return "the panel holds " + d + " (the canonical form)";
  return {};
}

TEST(RoundTrips, EveryPanelStateReadsWritesAndComesBack) {
  TPanelRig p;
  const std::string failure =
      CheckProperty("RoundTrips", 200, [&p](const TPanelState& state, const TPanelState& before) {
        const std::string why = RoundTrip(p, state, before);
        if (!why.empty()) RC_FAIL(why);
      });
  EXPECT_TRUE(failure.empty()) << failure;
}

// The cases the generator found, and the edges it must keep finding.
TEST(RoundTrips, Cases) {
  struct TCase {
    const char* name;
    void (*set)(TPanelState&);
  };
  const TCase cases[] = {
      {"both rows of a loop normal", [](TPanelState& s) { s.Flags[6] = "101", s.Flags[10] = "001"; }},
      {"both rows of every loop normal",
       [](TPanelState& s) { for (int e = 5; e <= 12; ++e) s.Flags[e - 1] = "011"; }},
      {"neither row normal, 24 hours on the lower row", [](TPanelState& s) { s.Flags[4] = "100", s.Flags[8] = "010"; }},
      {"an event with 24 hours and normal state", [](TPanelState& s) { s.Flags[0] = "111", s.Flags[3] = "011"; }},
      {"a key of all ones", [](TPanelState& s) { s.Keys[2] = "FFFFFFFFFFFFFFFF"; }},
      {"a key of all ones in small letters", [](TPanelState& s) { s.Keys[9] = "ffffffffffffffff"; }},
      {"a key in small letters", [](TPanelState& s) { s.Keys[0] = "00a1b2c3d4e5f607"; }},
      {"phones of 0, 1 and 20 characters",
       [](TPanelState& s) { s.Phones[0] = "", s.Phones[1] = "+", s.Phones[11] = "+1234567890123456789"; }},
      {"delays at both ends", [](TPanelState& s) { s.EntryDelay = 255, s.ExitDelay = 0; }},
      {"the modem, ring 6", [](TPanelState& s) { s.GsmModule = 2, s.Ring = 6; }},
      {"thresholds all equal at the top", [](TPanelState& s) { s.Adc[0].Thresholds = {1023, 1023, 1023, 1023, 1023}; }},
      {"thresholds all zero, adjacent", [](TPanelState& s) { s.Adc[1].Thresholds = {0, 0, 1, 2, 2}; }},
  };
  TPanelRig p;
  TPanelState before;
  before.Phones.fill("+7999");
  before.Flags.fill("111");
  for (const TCase& c : cases) {
    TPanelState state;
    c.set(state);
    EXPECT_EQ(RoundTrip(p, state, before), "") << c.name;
  }
}

// A panel whose thresholds fall: the read stands as the panel holds it,
// names nothing, and travels back as it is.
TEST(RoundTrips, ThresholdsThatFallTravelAsThePanelHoldsThem) {
  TPanelRig p;
  TPanelState state;
  state.Adc[1].Thresholds = {500, 400, 400, 0, 1023};
  p.panel.SetState(state);
  const TOutput out = p.rig.Run(Pages::ACP, Modes::ReadPage);
  EXPECT_TRUE(out.Result.Succeeded());
  EXPECT_EQ(out.Read().Threshold[1], (std::array<int, 5>{500, 400, 400, 0, 1023}));
  for (const TOutput::TLine& line : out.Memo) EXPECT_EQ(line.Text.find("проверку записи"), std::string::npos);
  TPanelState before;
  before.Adc[1].Thresholds = {1, 2, 3, 4, 5};
  EXPECT_EQ(RoundTrip(p, state, before), "");
}

// diff, --verify, history --diff and the window's compare of two records all
// list the same differences for the same two panel states.
TEST(RoundTrips, TheFourComparisonsAgree) {
  TPanelRig p;
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath("site.ini");
  const std::string failure = CheckProperty("Comparisons", 60, [&] {
    // Two panels as read; the second also as a file, as a record.
    TSettings left, right;
    p.panel.SetState(*gen::PanelState());
    RC_ASSERT(p.Read(left) == "");
    p.panel.SetState(*gen::PanelState());
    RC_ASSERT(p.Read(right) == "");
    const std::vector<TDifference> direct = Differences(left, right);

    // diff: the panel against the file, read as strictly as write reads it.
    {
      QFile out(file);
      RC_ASSERT(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
      out.write(FileText(right));
    }
    TSettings fromFile;
    const auto refused = ReadSettingsForWrite(file, TGroups::AllWithAdc(), &fromFile);
    RC_ASSERT(!refused.has_value());
    TProvisionSteps compare = TProvisionSteps::ForCompare();
    compare.CompareRead(TOperationResult{}, left, fromFile);
    // --verify: the panel read back against what was sent.
    TProvisionSteps verify = TProvisionSteps::ForWrite(false, true);
    verify.Writing(fromFile);
    verify.Written(TOperationResult{});
    verify.VerifyRead(TOperationResult{}, left);
    // history --diff and the window's compare of two records: the records'
    // texts read back.
    const std::vector<TDifference> records =
        Differences(RecordSettings(RecordSettingsText(left, "/dev/pts/7")),
                    RecordSettings(RecordSettingsText(right, "/dev/pts/8")));

    const auto named = [](const std::vector<TDifference>& d) {
      std::vector<std::string> lines;
      for (const TDifference& x : d) lines.push_back(FieldName(*x.Field).toStdString() + " " + x.Left + "|" + x.Right);
      return lines;
    };
    RC_ASSERT(named(compare.Found()) == named(direct));
    RC_ASSERT(named(verify.Found()) == named(direct));
    RC_ASSERT(named(records) == named(direct));
  });
  EXPECT_TRUE(failure.empty()) << failure;
}

}  // namespace
