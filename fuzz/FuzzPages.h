// The four settings pages, made once for a whole fuzz run (they need the
// application that fuzz::StartApplication makes).
#pragma once

#include "ui/KeyDialog.h"
#include "ui/Trislider.h"
#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/f_keys.h"

namespace fuzz {

struct TPages {
  TformCommon common;
  TformKeys keys;
  TformACP acp;
  TformGSM gsm;
};

}  // namespace fuzz
