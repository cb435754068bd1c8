// How a step of a run on the panel ended, as its record keeps it: a closed
// set of codes, each stored and printed as one stable English word (the
// command line and its JSON print the words, the window its own texts), with
// a detail that only names what the code leaves open. Decisions look at the
// code, never at the detail.
//
// Records kept before the codes hold an English sentence instead; each such
// sentence maps onto a code and a detail (OutcomeOfSentence), and one the
// program never wrote maps onto Unknown, keeping the sentence as its detail.
//
// Plain values; any thread.
#pragma once

#include <QString>
#include <optional>
#include <utility>

enum class TRecordOutcome {
  Success,        // the step did what it was asked
  FailedRequest,  // a request the panel did not confirm
  Refused,        // the panel answered a request with an error
  LinkLost,       // the line or the call went down under the step
  Interrupted,    // a stop was asked for: a signal, a disconnect, the window closed
  NotConnected,   // the panel was never reached: the connection check failed
  NotSaved,       // the panel was read, but its file was not saved (detail: why)
  NotKept,        // written, but the panel did not keep it (detail: the settings' names)
  Same,           // compared: the same (detail: what with, a file or "the pages")
  Different,      // compared: differs (detail: "N settings differ from ...")
  Imported,       // taken from a settings file by library import (detail: the file)
  Unknown         // a sentence of an older record that no code matches (detail: the sentence)
};

inline constexpr int kRecordOutcomes = int(TRecordOutcome::Unknown) + 1;

// The stable word of a code: "success", "failed-request", "refused",
// "link-lost", "interrupted", "not-connected", "not-saved", "not-kept",
// "same", "different", "imported", "unknown".
QString OutcomeCode(TRecordOutcome outcome);
std::optional<TRecordOutcome> OutcomeFromCode(const QString& code);
// Every code's word, quoted and separated by commas: for SQL's IN (...).
QString OutcomeCodesSql();

// The code and detail of a sentence that records held before the codes.
std::pair<TRecordOutcome, QString> OutcomeOfSentence(const QString& sentence);
