// Thresholds proposed from the readings kept for each state.
#include <QTest>

#include "model/AdcProposal.h"

using AdcProposal::TLevels;
using AdcProposal::TWarning;
using AdcProposal::TWarningKind;

Q_DECLARE_METATYPE(AdcStates::TThresholds)
Q_DECLARE_METATYPE(std::vector<TWarning>)

namespace {

// Levels from (min, max) per state; a min above max leaves the state without readings.
TLevels Levels(std::initializer_list<std::pair<int, int>> ranges) {
  TLevels levels{};
  std::size_t k = 0;
  for (auto [low, high] : ranges) {
    if (low <= high) {
      levels[k].Add(low);
      levels[k].Add(high);
    }
    ++k;
  }
  return levels;
}

}  // namespace

class TstAdcProposal : public QObject {
  Q_OBJECT

 private slots:
  void propose_data() {
    QTest::addColumn<TLevels>("levels");
    QTest::addColumn<AdcStates::TThresholds>("thresholds");
    QTest::addColumn<std::vector<TWarning>>("warnings");
    // A loop opened and closed as the simulator's script plays it.
    QTest::newRow("script-levels") << Levels({{40, 60}, {290, 310}, {490, 510}, {690, 710}, {890, 910}})
                                   << AdcStates::TThresholds{0, 175, 400, 600, 800} << std::vector<TWarning>{};
    QTest::newRow("overlap") << Levels({{40, 60}, {290, 420}, {400, 510}, {690, 710}, {890, 910}})
                             << AdcStates::TThresholds{0, 175, 410, 600, 800}
                             << std::vector<TWarning>{{TWarningKind::Overlap, 2}};
    QTest::newRow("too-close") << Levels({{40, 60}, {290, 310}, {320, 330}, {690, 710}, {890, 910}})
                               << AdcStates::TThresholds{0, 175, 315, 510, 800}
                               << std::vector<TWarning>{{TWarningKind::TooClose, 2}};
    QTest::newRow("state-not-seen-keeps-its-threshold")
        << Levels({{40, 60}, {290, 310}, {1, 0}, {690, 710}, {890, 910}}) << AdcStates::TThresholds{0, 175, 175, 680, 800}
        << std::vector<TWarning>{{TWarningKind::NoReadings, 2}};
    QTest::newRow("levels-in-the-wrong-order-never-fall")
        << Levels({{500, 510}, {100, 110}, {490, 510}, {690, 710}, {890, 910}})
        << AdcStates::TThresholds{0, 305, 305, 600, 800}
        << std::vector<TWarning>{{TWarningKind::Overlap, 1}};
  }
  void propose() {
    QFETCH(TLevels, levels);
    QFETCH(AdcStates::TThresholds, thresholds);
    QFETCH(std::vector<TWarning>, warnings);
    const AdcStates::TThresholds current{0, 23, 46, 69, 92};
    const AdcProposal::TProposal proposal = AdcProposal::Propose(levels, current);
    QCOMPARE(proposal.Thresholds, thresholds);
    QCOMPARE(proposal.Warnings, warnings);
    // Each proposed threshold between two seen states lies between their levels,
    // and classifies each level as its own state.
    if (warnings.empty()) {
      for (int k = 0; k < TSettings::kThresholds; ++k) {
        QCOMPARE(AdcStates::StateOf(levels[static_cast<std::size_t>(k)].Min, proposal.Thresholds), std::optional<int>(k));
        QCOMPARE(AdcStates::StateOf(levels[static_cast<std::size_t>(k)].Max, proposal.Thresholds), std::optional<int>(k));
      }
    }
  }
};

QTEST_APPLESS_MAIN(TstAdcProposal)
#include "tst_adc_proposal.moc"
