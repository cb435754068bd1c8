// How an operation of the device ended: the typed outcome that the window's
// message boxes and the command line's exit status and final line are
// derived from, with the settings a read brought.
//
// A plain value; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "model/Settings.h"

enum class TOutcome : uint8_t {
  Success,
  FailedRequest,  // a request the panel did not confirm, or a value its field cannot hold
  Refused,        // the panel answered "ERR" or "ERROR"
  LinkLost,       // the line or the call is gone
  Interrupted     // a stop was asked for
};

// Link modes of the operations (the connection check is 1).
namespace Modes {
constexpr uint8_t Check = 1;
constexpr uint8_t ReadPage = 3;
constexpr uint8_t WritePage = 4;
constexpr uint8_t ReadAll = 5;
constexpr uint8_t WriteAll = 6;
// Polls the ADC channels' readings until another mode is set or the link
// ends (protocol/DevOstrel.h, Monitor).
constexpr uint8_t Monitor = 7;
}  // namespace Modes

struct TOperationResult {
  uint8_t Mode = 0;
  // The page of Read or Write; for Read all and Write all the page whose
  // group failed (empty when none did).
  std::string Page;
  TOutcome Outcome = TOutcome::Success;
  // The first request that failed, as sent ("+rt03").
  std::string Command;
  // The link's own error line when the link was lost; the failure that the
  // connection check showed (the progress dialog's text).
  std::string Detail;
  // What a read brought: the groups read whole (and the version).
  TSettings Settings;

  bool Succeeded() const { return Outcome == TOutcome::Success; }
  bool IsRead() const { return Mode == Modes::ReadPage || Mode == Modes::ReadAll; }
  bool IsWrite() const { return Mode == Modes::WritePage || Mode == Modes::WriteAll; }
};

// The group of settings a page holds (Common for an unknown page).
TGroup GroupOfPage(const std::string& page);
// The message box that the window shows for a result; "" for none. The
// success boxes appear only for an operation on the current page.
std::string ResultMessage(const TOperationResult& result);
// The outcome in a few English words ("the link to the panel was lost").
std::string OutcomeText(TOutcome outcome);
