#include "library/RecordOutcome.h"

#include <QStringList>

namespace {

const char* const kCodes[kRecordOutcomes] = {"success",   "failed-request", "refused",  "link-lost",
                                             "interrupted", "not-connected", "not-saved", "not-kept",
                                             "same",      "different",      "imported", "unknown"};

}  // namespace

QString OutcomeCode(TRecordOutcome outcome) { return QString::fromLatin1(kCodes[int(outcome)]); }

std::optional<TRecordOutcome> OutcomeFromCode(const QString& code) {
  for (int i = 0; i < kRecordOutcomes; ++i)
    if (code == QLatin1String(kCodes[i])) return TRecordOutcome(i);
  return std::nullopt;
}

QString OutcomeCodesSql() {
  QStringList quoted;
  for (const char* code : kCodes) quoted << QStringLiteral("'%1'").arg(QLatin1String(code));
  return quoted.join(QStringLiteral(", "));
}

// The sentences are those the command line and the window recorded; the
// mapping never changes, since the integrity check of an older record
// compares its code and detail with what it gives.
std::pair<TRecordOutcome, QString> OutcomeOfSentence(const QString& sentence) {
  static const struct {
    const char* Sentence;
    TRecordOutcome Outcome;
  } whole[] = {{"success", TRecordOutcome::Success},
               {"the panel did not confirm", TRecordOutcome::FailedRequest},
               {"the panel refused", TRecordOutcome::Refused},
               {"the link to the panel was lost", TRecordOutcome::LinkLost},
               {"interrupted", TRecordOutcome::Interrupted},
               {"the backup file was not saved", TRecordOutcome::NotSaved}};
  for (const auto& w : whole)
    if (sentence == QLatin1String(w.Sentence)) return {w.Outcome, QString()};
  static const struct {
    const char* Start;
    TRecordOutcome Outcome;
  } starts[] = {{"the panel did not keep: ", TRecordOutcome::NotKept},
                {"same as ", TRecordOutcome::Same},
                {"imported from ", TRecordOutcome::Imported}};
  // The detail is what follows the start.
  for (const auto& s : starts) {
    const QLatin1String start(s.Start);
    if (sentence.startsWith(start) && sentence.size() > start.size()) return {s.Outcome, sentence.mid(start.size())};
  }
  // "3 settings differ from FILE": the sentence is its own detail.
  const int differ = sentence.indexOf(QLatin1String(" settings differ from "));
  if (differ > 0) {
    bool number = false;
    sentence.left(differ).toInt(&number);
    if (number && sentence.size() > differ + 22) return {TRecordOutcome::Different, sentence};
  }
  return {TRecordOutcome::Unknown, sentence};
}
