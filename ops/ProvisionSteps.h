// The order of a safe write and of a compare, apart from how they are run
// and worded: a write with a backup read before it and a read-back after it,
// or a read compared with other settings. The driver runs the current step,
// tells its end, and is told the next step or how the whole ended. The
// window drives it one step per finished operation, the command line in a
// loop; each keeps its own words, progress and exit statuses.
//
// Threads: the driver's thread; a plain value.
#pragma once

#include <cstdint>
#include <vector>

#include "model/Fields.h"
#include "model/Operation.h"
#include "model/Settings.h"

enum class TProvisionStep : uint8_t {
  None,         // nothing to run: not started, or ended
  BackupRead,   // read the panel and save it to the backup file
  Write,        // write the settings
  VerifyRead,   // read the panel back
  CompareRead   // read the panel to compare it
};

enum class TProvisionEnd : uint8_t {
  None,            // not ended (or never started)
  Done,            // written; with a check, the panel keeps what was sent
  BackupNotRead,   // the backup's read failed: nothing written
  BackupNotSaved,  // the backup file was not saved: nothing written
  WriteFailed,     // the write failed (after a backup, if any)
  VerifyNotDone,   // written, but the read-back failed
  VerifyDiffers,   // written, but the panel did not keep it (Found())
  Same,            // compare: the panel holds the same
  Different,       // compare: the panel differs (Found())
  CompareNotDone,  // compare: the read failed
  Abandoned        // stopped under a step (the link ended, the step could not
                   // start); nothing more is run
};

class TProvisionSteps {
 public:
  TProvisionSteps() = default;
  static TProvisionSteps ForWrite(bool backup, bool verify);
  static TProvisionSteps ForCompare();

  TProvisionStep Step() const { return step_; }
  TProvisionEnd End() const { return end_; }
  bool Ended() const { return end_ != TProvisionEnd::None; }
  bool Backup() const { return backup_; }
  bool Verify() const { return verify_; }

  // The ends of the steps; each is taken only in its own step and returns
  // the step that follows (None when the whole has ended).
  //
  // The backup's read; saved: its file was written (false when the read
  // failed).
  TProvisionStep BackupRead(const TOperationResult& result, bool saved);
  // What the write sends, told as it starts: a check compares with exactly
  // this.
  void Writing(const TSettings& sent);
  TProvisionStep Written(const TOperationResult& result);
  TProvisionStep VerifyRead(const TOperationResult& result, const TSettings& read);
  // The panel as read against the settings it is compared with.
  TProvisionStep CompareRead(const TOperationResult& result, const TSettings& read, const TSettings& against);
  // The current step is given up (the link ended under it, or it could not
  // start); an ended whole keeps its end.
  void Abandon();

  // What was sent (Writing).
  const TSettings& Sent() const { return sent_; }
  // The differences of VerifyDiffers and Different: the panel on the left.
  const std::vector<TDifference>& Found() const { return found_; }

 private:
  TProvisionStep Finish(TProvisionEnd end);

  TProvisionStep step_ = TProvisionStep::None;
  TProvisionEnd end_ = TProvisionEnd::None;
  bool backup_ = false;
  bool verify_ = false;
  TSettings sent_;
  std::vector<TDifference> found_;
};
