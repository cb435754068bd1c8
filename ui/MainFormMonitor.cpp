// The main window's part of the ADC monitor: starting and stopping it on the
// link, and handing its readings to the ADC page. GUI thread only.
#include "model/Operation.h"
#include "ui/AdcMonitor.h"
#include "ui/GuiThread.h"
#include "ui/MainForm.h"
#include "ui/f_ACP.h"

bool TForm1::StartMonitor() {
  RequireGuiThread("TForm1::StartMonitor");
  if (!link_ || busy_ || link_->Finished() || !connected_.load()) return false;
  if (monitoring_) return true;
  acp_->EnsureMonitor();
  device_.SetMonitorChannels(TDevOstrel::kBothChannels);
  monitoring_ = true;
  acp_->SetWatching(true);
  link_->SetMode(Modes::Monitor);
  return true;
}

void TForm1::StopMonitor() {
  RequireGuiThread("TForm1::StopMonitor");
  if (!monitoring_) return;
  LeaveMonitor();
  // Back to idle; the link ends the monitor after the request in flight.
  if (link_ && link_->GetMode() == Modes::Monitor) link_->SetMode(0);
}

void TForm1::LeaveMonitor() {
  if (!monitoring_) return;
  monitoring_ = false;
  if (acp_) acp_->SetWatching(false);
}

void TForm1::MonitorEnded() {
  // Ended by the link itself (a loss, a stop): the page shows it stopped. A
  // lost link is said by the disconnect that follows.
  LeaveMonitor();
}
