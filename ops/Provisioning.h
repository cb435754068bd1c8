// The panel's operations as a whole, on a connection without a window: the
// whole panel read into one settings value, written from one, and the
// comparison that diff and a check after a write make. The command line runs
// them; every step ends in a typed result.
//
// Threads: the session's thread.
#pragma once

#include <vector>

#include "model/Fields.h"
#include "model/Operation.h"
#include "model/Settings.h"

class TPanelSession;

// Read all (common settings, keys, GSM), then with adc the ADC page, into
// *settings. The result of the first step that failed, or Success.
TOperationResult ReadPanel(TPanelSession& session, bool adc, TSettings* settings);
// Write all from settings, then with adc the ADC page.
TOperationResult WritePanel(TPanelSession& session, const TSettings& settings, bool adc);

// The groups a command works on.
inline TGroups PanelGroups(bool adc) { return adc ? TGroups::AllWithAdc() : TGroups::All(); }
