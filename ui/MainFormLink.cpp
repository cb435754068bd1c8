// The main window: connecting, the link and its ending.
#include "ui/MainForm.h"
#include <QApplication>
#include <QFileInfo>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSocketNotifier>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <unistd.h>
#include "OstrelVersion.h"
#include "persist/DebugLog.h"
#include "persist/Layout.h"
#include "persist/ProgramDir.h"
#include "persist/SettingsDialogs.h"
#include "serial/GuiSync.h"
#include "ui/ConnectDlg.h"
#include "ui/GuiThread.h"
#include "ui/KeyDialog.h"
#include "ui/MessageBox.h"
#include "ui/NavBar.h"
#include "ui/OperationProgress.h"
#include "ui/Panel.h"
#include "ui/PageSettings.h"
#include "ui/Page.h"
#include "ui/Provision.h"
#include "ui/RecentFiles.h"
#include "ui/Sites.h"
#include "ui/SplashDlg.h"
#include "ui/StatusPane.h"
#include "ui/WindowTexts.h"
#include "persist/WireText.h"
#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/f_keys.h"

void TForm1::Connect() {
  if (dlgConnect_->exec() != QDialog::Accepted) return;
  // The dialog refuses a modem call to a number with nothing to dial, so a
  // call is never turned into a direct link here.
  const bool call = dlgConnect_->ViaModem();
  ConnectLink(dlgConnect_->ComPorts()->currentText(), call ? ToWire(dlgConnect_->Phone()) : std::string(),
              !call || dlgConnect_->WaitForNetwork());
}

void TForm1::ConnectLink(const QString& port, const std::string& phone, bool waitForNetwork) {
  StartLink(port, phone, waitForNetwork);
  callFailed_ = false;
  if (splash_->exec() == QDialog::Accepted) {
    EnterConnectedState();
    return;
  }
  if (link_) link_->Terminate();
  if (!callFailed_) return;
  // A call that failed by itself says where and with which words of the modem.
  callFailed_ = false;
  const TCallFailure failure = link_ ? link_->CallFailure() : TCallFailure();
  const QString stage = failure.Empty() ? splash_->Panel2()->Caption() : FromWire(failure.Stage);
  const QString text = WindowTexts::CallFailed(stage, failure.Empty() ? nullptr : &failure.Words);
  memo_->appendPlainText(text);
  MessageBox::Show(text, isVisible() ? this : nullptr);
}

void TForm1::LinkEndedWhileConnecting() {
  if (!splash_->isVisible()) return;
  if (splash_->Cancelling()) {
    splash_->LinkEnded();
    return;
  }
  // A direct link's failure stays in the dialog until the user cancels; a
  // call's failure closes it and is said in a box (Connect).
  if (link_ && !link_->Phone().empty()) {
    callFailed_ = true;
    splash_->done(QDialog::Rejected);
  }
}

void TForm1::HangUpShowing() {
  // Within a drain the timer is stopped and could not report the link's end.
  if (!link_ || link_->Finished() || link_->Phone().empty() || draining_) return;
  // Not connected any more: the ending link posts no "Click" for Отключиться.
  SetConnectedState(false);
  link_->Terminate();
  splash_->BeginConnection(true);
  splash_->ShowEnding();
}

void TForm1::StartLink(const QString& port, const std::string& phone, bool waitForNetwork) {
  RequireGuiThread("TForm1::StartLink");
  // A cancelled connection's link thread is awaited and freed first, so it
  // can neither hold the port nor disconnect the new connection.
  FreeLink();
  firmware_.clear();
  splash_->BeginConnection(!phone.empty());
  // The progress of an operation says when it runs over the slower line.
  progress_->SetLine(phone.empty() ? QString() : QString::fromUtf8("через GSM-модем, 9600 бит/с"));
  link_ = std::make_unique<TModem>(ToWire(port), phone, queue_, device_, waitForNetwork, linkClock_);
  link_->SetConnectedCheck([this] { return connected_.load(); });
  linkEndReported_ = false;
  operationCut_ = false;
  // The link says when an operation or the link itself has ended: its output
  // is applied then, not only at the next tick of the timer.
  linkNotifier_ = new QSocketNotifier(link_->StateFd(), QSocketNotifier::Read, this);
  const int fd = link_->StateFd();
  connect(linkNotifier_, &QSocketNotifier::activated, this, [this, fd] {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(fd, &count, sizeof count);
    TimerTick();
  });
  pane1_->SetCaption(EscapeControls(port));
  device_.SetLink(link_.get());
  link_->Start();
  emit LinkStarted(port, QString::fromStdString(phone));
}

// The notifier's own handler may end the link (its output clicks
// "Отключиться"), so the notifier is silenced at once, before the link
// closes its descriptor, and deleted once that handler has returned.
void TForm1::ReleaseLinkNotifier() {
  if (!linkNotifier_) return;
  linkNotifier_->setEnabled(false);
  linkNotifier_->disconnect(this);
  linkNotifier_->deleteLater();
  linkNotifier_ = nullptr;
}

void TForm1::EnterConnectedState() {
  // Stored before looking at the link; the link marks itself finished before
  // it looks at this flag, so one of the two always sees the other.
  SetConnectedState(true);
  // A link that ended just before the window showed the connected state
  // could not ask for the disconnect itself.
  if (!link_ || link_->Finished()) Disconnect();
}

void TForm1::FreeLink() {
  if (!link_) return;
  ReleaseLinkNotifier();
  link_->Terminate();
  link_->WaitFor();
  link_.reset();
  device_.SetLink(nullptr);
}

void TForm1::Disconnect() {
  RequireGuiThread("TForm1::Disconnect");
  const bool hadLink = link_ != nullptr;
  // A link that ended by itself while connected was lost: the user did not
  // ask for it, so the window says so.
  const bool lost = hadLink && connected_.load() && link_->Finished();
  const int systemError = hadLink ? link_->LastSystemError() : 0;
  const bool duringOperation = busy_ || operationCut_;
  const bool call = hadLink && !link_->Phone().empty();
  const TCallFailure failure = hadLink ? link_->CallFailure() : TCallFailure();
  operationCut_ = false;
  LeaveMonitor();
  HangUpShowing();
  FreeLink();
  SetConnectedState(false);
  // The version belongs to the connection; after a loss the port too.
  pane2_->SetCaption(QString());
  if (lost) pane1_->SetCaption(QString());
  // The link's last output, its result among it, before the operation ends.
  if (busy_ && !draining_ && queue_.HasPending() != 0) applier_.ApplyOutput(queue_);
  if (busy_) EndOperation();
  // The box is the window's: a front end that drives the pages unseen and
  // unsaved (the command line) reports the loss its own way.
  if (lost && (persistent_ || isVisible())) {
    const QString text = call && systemError == 0
                             ? WindowTexts::CallLost(FromWire(failure.Stage), FromWire(failure.Words), duringOperation)
                             : WindowTexts::LinkLost(systemError, duringOperation);
    memo_->appendPlainText(text);
    // Shown once the drain that applied the link's last elements is over.
    QTimer::singleShot(0, this, [this, text] { MessageBox::Show(text, isVisible() ? this : nullptr); });
  }
  if (hadLink && !linkEndReported_) {
    linkEndReported_ = true;
    emit LinkFinished();
  }
}

void TForm1::SetConnectedState(bool connected) {
  connected_.store(connected);
  mnuConnect_->setEnabled(!connected);
  groupConnection_->Item(QString::fromUtf8("Подключиться"))->setEnabled(!connected);
  mnuDisconnect_->setEnabled(connected);
  groupConnection_->Item(QString::fromUtf8("Отключиться"))->setEnabled(connected);
  groupSettings_->setVisible(connected);
  if (acp_) acp_->SetWatchEnabled(connected && !busy_);
  if (provision_) provision_->UpdateActions();
  UpdateMenuActions();
}
