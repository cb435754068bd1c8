// The order of a safe write and of a compare: which step follows which end,
// that nothing is written after a failed backup, that a check compares the
// read-back with exactly what was sent, and how each whole ends.
#include <QTest>

#include "ops/ProvisionSteps.h"

Q_DECLARE_METATYPE(TProvisionEnd)

namespace {

TOperationResult Ended(TOutcome outcome) {
  TOperationResult r;
  r.Outcome = outcome;
  return r;
}

// What the write sends.
TSettings Sent() {
  TSettings s;
  s.Groups = TGroups::All();
  s.Phone[2] = "+79001234567";
  s.Key[4] = "0123456789ABCDEF";
  return s;
}

// The panel holding other values in two fields: phone 3 and key 5.
TSettings Changed() {
  TSettings s = Sent();
  s.Phone[2] = "+79007654321";
  s.Key[4] = TSettings::EmptyKey;
  return s;
}

const char* Name(TProvisionStep step) {
  switch (step) {
    case TProvisionStep::BackupRead:
      return "backup";
    case TProvisionStep::Write:
      return "write";
    case TProvisionStep::VerifyRead:
      return "verify";
    case TProvisionStep::CompareRead:
      return "compare";
    case TProvisionStep::None:
      break;
  }
  return "none";
}

// One token a step: "ok"; "unsaved" (a backup read but not saved);
// "differs" (a read finds Changed()); "refused", "lost", "stopped" (the
// step's operation ended so).
TOutcome OutcomeOf(const QString& token) {
  if (token == "refused") return TOutcome::Refused;
  if (token == "lost") return TOutcome::LinkLost;
  if (token == "stopped") return TOutcome::Interrupted;
  return TOutcome::Success;
}

}  // namespace

class TestProvisionSteps : public QObject {
  Q_OBJECT
 private slots:
  void Story_data();
  void Story();
  void EndsOutOfTurnAreIgnored();
  void Abandon();
};

void TestProvisionSteps::Story_data() {
  QTest::addColumn<QString>("kind");  // "write", "backup", "verify", "both", "compare"
  QTest::addColumn<QString>("ends");
  QTest::addColumn<QString>("steps");
  QTest::addColumn<TProvisionEnd>("end");
  QTest::addColumn<int>("found");

  QTest::newRow("write") << "write" << "ok" << "write" << TProvisionEnd::Done << 0;
  QTest::newRow("write refused") << "write" << "refused" << "write" << TProvisionEnd::WriteFailed << 0;
  QTest::newRow("backup, write") << "backup" << "ok ok" << "backup write" << TProvisionEnd::Done << 0;
  QTest::newRow("backup read lost") << "backup" << "lost" << "backup" << TProvisionEnd::BackupNotRead << 0;
  QTest::newRow("backup stopped") << "backup" << "stopped" << "backup" << TProvisionEnd::BackupNotRead << 0;
  QTest::newRow("backup not saved") << "backup" << "unsaved" << "backup" << TProvisionEnd::BackupNotSaved << 0;
  QTest::newRow("backup, write lost") << "backup" << "ok lost" << "backup write" << TProvisionEnd::WriteFailed << 0;
  QTest::newRow("write, verify kept") << "verify" << "ok ok" << "write verify" << TProvisionEnd::Done << 0;
  QTest::newRow("write refused, no verify") << "verify" << "refused" << "write" << TProvisionEnd::WriteFailed << 0;
  QTest::newRow("verify read lost") << "verify" << "ok lost" << "write verify" << TProvisionEnd::VerifyNotDone << 0;
  QTest::newRow("verify differs") << "verify" << "ok differs" << "write verify" << TProvisionEnd::VerifyDiffers << 2;
  QTest::newRow("backup, write, verify") << "both" << "ok ok ok" << "backup write verify" << TProvisionEnd::Done << 0;
  QTest::newRow("backup lost, nothing more") << "both" << "lost" << "backup" << TProvisionEnd::BackupNotRead << 0;
  QTest::newRow("all, verify differs") << "both" << "ok ok differs" << "backup write verify"
                                       << TProvisionEnd::VerifyDiffers << 2;
  QTest::newRow("compare same") << "compare" << "ok" << "compare" << TProvisionEnd::Same << 0;
  QTest::newRow("compare different") << "compare" << "differs" << "compare" << TProvisionEnd::Different << 2;
  QTest::newRow("compare refused") << "compare" << "refused" << "compare" << TProvisionEnd::CompareNotDone << 0;
}

// Drives the steps as the window and the command line do, one token for
// each step that is run.
void TestProvisionSteps::Story() {
  QFETCH(QString, kind);
  QFETCH(QString, ends);
  QFETCH(QString, steps);
  QFETCH(TProvisionEnd, end);
  QFETCH(int, found);

  TProvisionSteps s = kind == "compare" ? TProvisionSteps::ForCompare()
                                        : TProvisionSteps::ForWrite(kind == "backup" || kind == "both",
                                                                    kind == "verify" || kind == "both");
  QStringList run;
  for (const QString& token : ends.split(' ')) {
    QVERIFY2(!s.Ended(), qPrintable("ended before " + token));
    const TOperationResult result = Ended(OutcomeOf(token));
    const TSettings read = token == "differs" ? Changed() : Sent();
    run << Name(s.Step());
    switch (s.Step()) {
      case TProvisionStep::BackupRead:
        s.BackupRead(result, result.Succeeded() && token != "unsaved");
        break;
      case TProvisionStep::Write:
        s.Writing(Sent());
        s.Written(result);
        break;
      case TProvisionStep::VerifyRead:
        s.VerifyRead(result, read);
        break;
      case TProvisionStep::CompareRead:
        s.CompareRead(result, read, Sent());
        break;
      case TProvisionStep::None:
        QFAIL("no step to run");
    }
  }
  QCOMPARE(run.join(' '), steps);
  QVERIFY(s.Ended());
  QCOMPARE(s.Step(), TProvisionStep::None);
  QCOMPARE(s.End(), end);
  QCOMPARE(int(s.Found().size()), found);
  if (found) {
    // The panel on the left, what was sent (or compared with) on the right.
    QCOMPARE(s.Found()[0].Field->Section, std::string("Phones"));
    QCOMPARE(s.Found()[0].Left, std::string("+79007654321"));
    QCOMPARE(s.Found()[0].Right, std::string("+79001234567"));
    QCOMPARE(s.Found()[1].Field->Section, std::string("Keys"));
  }
}

// An end told for a step that is not the current one changes nothing; the
// check compares with what the write sent, not with what the driver holds
// later.
void TestProvisionSteps::EndsOutOfTurnAreIgnored() {
  TProvisionSteps s = TProvisionSteps::ForWrite(true, true);
  const TOperationResult ok = Ended(TOutcome::Success);
  QCOMPARE(s.Written(ok), TProvisionStep::BackupRead);
  s.Writing(Changed());  // not the write's turn: not what is sent
  QCOMPARE(s.VerifyRead(ok, Sent()), TProvisionStep::BackupRead);
  QCOMPARE(s.BackupRead(ok, true), TProvisionStep::Write);
  s.Writing(Sent());
  QCOMPARE(s.BackupRead(ok, false), TProvisionStep::Write);
  QCOMPARE(s.Written(ok), TProvisionStep::VerifyRead);
  QCOMPARE(s.VerifyRead(ok, Sent()), TProvisionStep::None);
  QCOMPARE(s.End(), TProvisionEnd::Done);
  // Once ended, no end is taken.
  QCOMPARE(s.VerifyRead(Ended(TOutcome::Refused), Changed()), TProvisionStep::None);
  QCOMPARE(s.End(), TProvisionEnd::Done);
  QVERIFY(s.Found().empty());
}

void TestProvisionSteps::Abandon() {
  TProvisionSteps s = TProvisionSteps::ForWrite(false, true);
  s.Writing(Sent());
  s.Written(Ended(TOutcome::Success));
  s.Abandon();  // the link ended under the check
  QCOMPARE(s.Step(), TProvisionStep::None);
  QCOMPARE(s.End(), TProvisionEnd::Abandoned);

  TProvisionSteps done = TProvisionSteps::ForCompare();
  done.CompareRead(Ended(TOutcome::Success), Changed(), Sent());
  done.Abandon();  // an ended whole keeps its end and its differences
  QCOMPARE(done.End(), TProvisionEnd::Different);
  QCOMPARE(int(done.Found().size()), 2);

  const TProvisionSteps idle;
  QCOMPARE(idle.Step(), TProvisionStep::None);
  QVERIFY(!idle.Ended());
}

QTEST_GUILESS_MAIN(TestProvisionSteps)
#include "tst_provision_steps.moc"
