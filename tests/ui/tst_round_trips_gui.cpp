// The window's round trip for panel states drawn by RapidCheck: Read all,
// Save, Load (over pages that show another panel meanwhile), Write all
// leaves the panel in the canonical form of what was read; the pages show
// what the window's settings hold all along.
#include <QTemporaryDir>
#include <QTest>

#include "tests/common/PanelStates.h"
#include "tests/ui/GuiFixture.h"
#include "tools/PanelSim.h"

using ostrel::sim::CanonicalPanel;
using ostrel::sim::CheckProperty;
using ostrel::sim::FirstDifference;
using ostrel::sim::TPanelSim;
using ostrel::sim::TPanelState;
namespace gen = ostrel::sim::gen;

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

}  // namespace

class TestRoundTripsGui : public QObject {
  Q_OBJECT

 private slots:
  void init() { sandbox.Enter(); }
  void cleanup() { sandbox.Leave(); }

  void readSaveLoadWriteKeepsThePanel() {
    TPanelSim panel;
    panel.Start();
    TForm1 form(nullptr, false);
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
    QVERIFY(form.IsConnected());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath("panel.ini");

    // One operation of the window to its end: "" or what went wrong.
    const auto operation = [&](bool (TForm1::*start)(), const char* done) -> std::string {
      sandbox.messages.clear();
      if (!(form.*start)()) return std::string("not started: ") + done;
      if (!QTest::qWaitFor([&] { return !form.IsBusy(); }, 30000)) return std::string("still busy: ") + done;
      if (sandbox.messages != QStringList{U(done)}) return sandbox.messages.join(" / ").toStdString();
      return {};
    };
    const auto roundTrip = [&](const TPanelState& state, const TPanelState& before) -> std::string {
      panel.SetState(state);
      if (std::string why = operation(&TForm1::ReadAll, "Чтение всех параметров завершено!"); !why.empty()) return why;
      QString error;
      if (!form.SaveSettings(file, &error)) return "Save: " + error.toStdString();
      // The pages show another panel before the file comes back.
      panel.SetState(before);
      if (std::string why = operation(&TForm1::ReadAll, "Чтение всех параметров завершено!"); !why.empty()) return why;
      if (!form.LoadSettings(file, &error)) return "Load: " + error.toStdString();
      if (const QStringList wrong = gui::PagesAgainstModel(form); !wrong.isEmpty())
        return "the pages after Load: " + wrong.join(", ").toStdString();
      if (std::string why = operation(&TForm1::WriteAll, "Запись всех параметров завершена!"); !why.empty()) return why;
      // Write all leaves the ADC channels alone.
      TPanelState expected = CanonicalPanel(state);
      expected.Adc = before.Adc;
      if (const std::string d = FirstDifference(panel.State(), expected); !d.empty())
        return "the panel holds " + d + " (the canonical form)";
      return {};
    };

    const std::string failure = CheckProperty("RoundTripsGui", 6, [&] {
      const std::string why = roundTrip(*gen::PanelState(), *gen::PanelState());
      if (!why.empty()) RC_FAIL(why);
    });
    QVERIFY2(failure.empty(), failure.c_str());

    // The case that made this test: the window keeps the lower row.
    TPanelState both;
    both.Flags[6] = "101";
    both.Flags[10] = "001";
    TPanelState before;
    before.Flags.fill("011");
    const std::string why = roundTrip(both, before);
    QVERIFY2(why.empty(), why.c_str());
  }

 private:
  gui::TSandbox sandbox;
};

QTEST_MAIN(TestRoundTripsGui)
#include "tst_round_trips_gui.moc"
