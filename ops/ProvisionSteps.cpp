#include "ops/ProvisionSteps.h"

TProvisionSteps TProvisionSteps::ForWrite(bool backup, bool verify) {
  TProvisionSteps steps;
  steps.backup_ = backup;
  steps.verify_ = verify;
  steps.step_ = backup ? TProvisionStep::BackupRead : TProvisionStep::Write;
  return steps;
}

TProvisionSteps TProvisionSteps::ForCompare() {
  TProvisionSteps steps;
  steps.step_ = TProvisionStep::CompareRead;
  return steps;
}

TProvisionStep TProvisionSteps::Finish(TProvisionEnd end) {
  end_ = end;
  step_ = TProvisionStep::None;
  return step_;
}

TProvisionStep TProvisionSteps::BackupRead(const TOperationResult& result, bool saved) {
  if (step_ != TProvisionStep::BackupRead) return step_;
  // Nothing is written without a backup in its file.
  if (!result.Succeeded()) return Finish(TProvisionEnd::BackupNotRead);
  if (!saved) return Finish(TProvisionEnd::BackupNotSaved);
  return step_ = TProvisionStep::Write;
}

void TProvisionSteps::Writing(const TSettings& sent) {
  if (step_ == TProvisionStep::Write) sent_ = sent;
}

TProvisionStep TProvisionSteps::Written(const TOperationResult& result) {
  if (step_ != TProvisionStep::Write) return step_;
  if (!result.Succeeded()) return Finish(TProvisionEnd::WriteFailed);
  if (!verify_) return Finish(TProvisionEnd::Done);
  return step_ = TProvisionStep::VerifyRead;
}

TProvisionStep TProvisionSteps::VerifyRead(const TOperationResult& result, const TSettings& read) {
  if (step_ != TProvisionStep::VerifyRead) return step_;
  if (!result.Succeeded()) return Finish(TProvisionEnd::VerifyNotDone);
  found_ = Differences(read, sent_);
  return Finish(found_.empty() ? TProvisionEnd::Done : TProvisionEnd::VerifyDiffers);
}

TProvisionStep TProvisionSteps::CompareRead(const TOperationResult& result, const TSettings& read,
                                            const TSettings& against) {
  if (step_ != TProvisionStep::CompareRead) return step_;
  if (!result.Succeeded()) return Finish(TProvisionEnd::CompareNotDone);
  found_ = Differences(read, against);
  return Finish(found_.empty() ? TProvisionEnd::Same : TProvisionEnd::Different);
}

void TProvisionSteps::Abandon() {
  if (step_ != TProvisionStep::None) Finish(TProvisionEnd::Abandoned);
}
