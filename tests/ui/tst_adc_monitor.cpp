// The ADC monitor in the window, against the panel simulator's scripted
// levels: the states named, the plot's counts, the proposal from readings,
// and the monitor giving way at once to everything else.
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

#include "GuiFixture.h"
#include "tools/AdcScript.h"
#include "tools/PanelSim.h"
#include "ui/AdcCalibrate.h"
#include "ui/AdcMonitor.h"
#include "ui/AdcPlot.h"

using ostrel::sim::TPanelSim;

namespace {

using TStates = std::vector<std::optional<int>>;

void Script(TPanelSim& panel, const char* text) {
  ostrel::sim::TAdcScript script;
  std::string error;
  QVERIFY2(ostrel::sim::ParseAdcScript(text, script, error), error.c_str());
  panel.SetAdcScript(script);
}

void SetThresholds(TTrislider* slider, std::array<int, 5> values) {
  for (int k = 0; k < 5; ++k) slider->SetPosition(k, values[static_cast<std::size_t>(k)]);
}

}  // namespace

class TstAdcMonitor : public QObject {
  Q_OBJECT

  gui::TSandbox sandbox_;

  // A connected window on the ADC page with the monitor running.
  void StartWatching(TForm1& form, TPanelSim& panel) {
    form.SetAdcItemVisible(true);
    form.show();
    form.ShowPage(form.ACPPage());
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    QPushButton* watch = form.ACPPage()->WatchButton();
    QVERIFY(watch->isEnabled());
    QTest::mouseClick(watch, Qt::LeftButton);
    QVERIFY(form.IsMonitoring());
    QVERIFY(watch->isChecked());
  }

 private slots:
  void init() { sandbox_.Enter(); }
  void cleanup() { sandbox_.Leave(); }

  void builtOnlyWhenAsked() {
    TForm1 form(nullptr, false);
    form.show();
    // Start-up and an idle window pay nothing for it.
    QVERIFY(form.ACPPage()->Monitor() == nullptr);
    QVERIFY(!form.ACPPage()->WatchButton()->isEnabled());  // no link
    QVERIFY(!form.StartMonitor());
    QVERIFY(form.ACPPage()->Monitor() == nullptr);
  }

  void statesFollowTheScript() {
    TPanelSim panel;
    Script(panel, "1 50 6r\n1 300 6r\n1 500 6r\n1 700 6r\n1 900 6r\n2 600 1r\n");
    panel.Start();
    TForm1 form(nullptr, false);
    SetThresholds(form.ACPPage()->Slider(1), {0, 200, 400, 600, 800});
    StartWatching(form, panel);
    TAdcPlot* plot = form.ACPPage()->Monitor()->Plot(1);
    QTRY_VERIFY_WITH_TIMEOUT(plot->Readings() >= 36, 20000);
    // One change of state per level of the script, each named by the thresholds.
    QCOMPARE(plot->MarkStates(), (TStates{1, 2, 3, 4}));
    QCOMPARE(plot->CurrentState(), std::optional<int>(4));
    QCOMPARE(plot->MinSeen(), std::optional<int>(50));
    QCOMPARE(plot->MaxSeen(), std::optional<int>(900));
    QCOMPARE(plot->Failures(), 0);
    // Channel 2 at 600 over the default thresholds 0, 23, 46, 69, 92.
    QCOMPARE(form.ACPPage()->Monitor()->Plot(2)->CurrentState(), std::optional<int>(4));
    // Moving a threshold names the reading anew at once.
    form.ACPPage()->Slider(1)->SetPosition(4, 950);
    QCOMPARE(AdcStates::StateOf(900, plot->Thresholds()), std::optional<int>(3));
    // The traffic stays out of the memo.
    QVERIFY(!gui::MemoLines(form).join('\n').contains("+c=0"));

    QTest::mouseClick(form.ACPPage()->WatchButton(), Qt::LeftButton);
    QVERIFY(!form.IsMonitoring());
    QVERIFY(!form.ACPPage()->WatchButton()->isChecked());
    QTRY_COMPARE_WITH_TIMEOUT(int(form.Link()->GetMode()), 0, 10000);
  }

  void failedReadingIsAGap() {
    TPanelSim panel;
    panel.AddFault({"+c=0", ostrel::sim::EFault::Silence, false});
    panel.Start();
    TForm1 form(nullptr, false);
    StartWatching(form, panel);
    TAdcPlot* plot = form.ACPPage()->Monitor()->Plot(1);
    QTRY_VERIFY_WITH_TIMEOUT(plot->Failures() >= 1, 20000);
    QVERIFY(plot->Readings() + plot->Failures() >= 1);
    form.StopMonitor();
  }

  void givesWayAtOnce_data() {
    QTest::addColumn<QString>("action");
    for (const char* action : {"read", "write", "read-all", "write-all", "disconnect", "lost-link", "close"})
      QTest::newRow(action) << QString::fromLatin1(action);
  }
  void givesWayAtOnce() {
    QFETCH(QString, action);
    TPanelSim panel;
    Script(panel, "1 300 1r\n2 600 1r\n");
    panel.Start();
    auto form = std::make_unique<TForm1>(nullptr, false);
    StartWatching(*form, panel);
    TAdcPlot* plot = form->ACPPage()->Monitor()->Plot(1);
    QTRY_VERIFY_WITH_TIMEOUT(plot->Readings() >= 5, 20000);

    if (action == "read") QVERIFY(form->Read());
    if (action == "write") QVERIFY(form->Write());
    if (action == "read-all") QVERIFY(form->ReadAll());
    if (action == "write-all") QVERIFY(form->WriteAll());
    if (action == "disconnect") form->Disconnect();
    if (action == "lost-link") panel.CloseLine();
    if (action == "close") {
      form->close();
      form.reset();  // the link is stopped with the window
      QVERIFY(panel.WaitForLineClosed(0) || true);
      return;
    }
    if (action != "lost-link") {
      // At once: the page says it stopped before the link has even answered.
      QVERIFY(!form->IsMonitoring());
      QVERIFY(!form->ACPPage()->WatchButton()->isChecked());
    }
    if (action == "lost-link") {
      QTRY_VERIFY_WITH_TIMEOUT(!form->IsConnected(), 20000);
      QVERIFY(!form->IsMonitoring());
      // The usual lost-link box, which may come after the state is shown.
      QTRY_VERIFY_WITH_TIMEOUT(!sandbox_.messages.isEmpty(), 20000);
      return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(!form->IsBusy(), 30000);
    if (action != "disconnect") {
      QVERIFY2(form->LastResult().Succeeded(), "the operation ran whole after the monitor");
      QCOMPARE(form->LastResult().Mode, uint8_t(action == "read" ? 3 : action == "write" ? 4 : action == "read-all" ? 5 : 6));
    }
    // Readings taken before the end are still shown; none is taken after it.
    QTRY_VERIFY_WITH_TIMEOUT(form->Queue().HasPending() == 0, 10000);
    QTest::qWait(50);
    const int seen = plot->Readings();
    QTest::qWait(200);
    QCOMPARE(plot->Readings(), seen);  // no reading after the monitor ended
  }

  void proposalFromReadings() {
    // The installer records each state in turn; the proposal lies between the
    // levels, shows beside the thresholds, and moves the thumbs only on "Принять".
    TformACP page;
    TAdcMonitor* monitor = page.EnsureMonitor();
    TAdcCalibrate* calibrate = monitor->Calibrate();
    SetThresholds(page.Slider(1), {0, 23, 46, 69, 92});
    const int levels[5] = {50, 300, 500, 700, 900};
    std::uint32_t t = 0;
    for (int k = 0; k < 5; ++k) {
      calibrate->Record(k);
      for (int i = -3; i <= 3; ++i) monitor->AddReading(t += 30, 0, levels[k] + i);
      monitor->AddReading(t += 30, 1, 5);  // the other channel keeps nothing
      monitor->AddReading(t += 30, 0, std::nullopt);  // nor does a failure
    }
    calibrate->Record(std::nullopt);
    monitor->AddReading(t += 30, 0, 1000);  // not recording
    QCOMPARE(calibrate->Levels(1)[4].Count, 7);
    QCOMPARE(calibrate->Levels(2)[0].Count, 0);
    const AdcProposal::TProposal proposal = calibrate->Proposal();
    QCOMPARE(proposal.Thresholds, (AdcStates::TThresholds{0, 175, 400, 600, 800}));
    QVERIFY(proposal.Warnings.empty());
    QVERIFY(calibrate->WarningLabel()->text().isEmpty());
    QCOMPARE(page.findChild<QLabel*>("lbProposed2")->text(), QString("400"));
    QCOMPARE(page.Slider(1)->GetPosition(2), 46);  // nothing moves before it is accepted
    QSignalSpy set(page.Slider(1), &TTrislider::PositionSet);
    page.findChild<QPushButton*>("btCalibrateAccept")->click();
    QCOMPARE(page.Slider(1)->GetPosition(2), 400);
    QCOMPARE(page.SpinBox(1, 4)->value(), 800);
    QCOMPARE(set.count(), 5);

    // Readings of two states that overlap give the warning.
    calibrate->Record(3);
    monitor->AddReading(t += 30, 0, 480);
    QVERIFY(calibrate->WarningLabel()->text().contains(QString::fromUtf8("перекрываются")));
  }
};

QTEST_MAIN(TstAdcMonitor)
#include "tst_adc_monitor.moc"
