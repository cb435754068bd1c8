// How a window operation on the panel ended, as the site library records it:
// its kind, the outcome's code (with what the code leaves open) and the
// settings it carried (what a read brought, what a write sent). The window and the
// provisioning steps say it at their ends; the site library takes it from
// there. A plain value; GUI thread.
#pragma once

#include <QMetaType>
#include <QString>

#include "library/Library.h"
#include "library/LibraryUse.h"
#include "model/Operation.h"
#include "model/Settings.h"

struct TOperationEnd {
  TRecordKind Kind = TRecordKind::Read;
  TRecordOutcome Outcome = TRecordOutcome::Success;
  QString Detail;
  TSettings Settings;
  // Read all brought the whole panel: it may be offered for a site.
  bool WholeRead = false;
};

Q_DECLARE_METATYPE(TOperationEnd)
