// How a window operation on the panel ended, as the site library records it:
// its kind, the outcome in the command line's words and the settings it
// carried (what a read brought, what a write sent). The window and the
// provisioning steps say it at their ends; the site library takes it from
// there. A plain value; GUI thread.
#pragma once

#include <QMetaType>
#include <QString>

#include "library/Library.h"
#include "model/Operation.h"
#include "model/Settings.h"

struct TOperationEnd {
  TRecordKind Kind = TRecordKind::Read;
  QString Outcome;  // "success", or "a request the panel did not confirm", ...
  TSettings Settings;
  // Read all brought the whole panel: it may be offered for a site.
  bool WholeRead = false;
};

// "success", or the outcome's words as the command line records them.
inline QString OutcomeWords(const TOperationResult& result) {
  return result.Succeeded() ? QStringLiteral("success") : QString::fromStdString(OutcomeText(result.Outcome));
}

Q_DECLARE_METATYPE(TOperationEnd)
