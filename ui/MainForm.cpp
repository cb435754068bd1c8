#include "ui/MainForm.h"

#include <QApplication>
#include <QCheckBox>
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
#include "ui/MemoLines.h"
#include "ui/MessageBox.h"
#include "ui/NavBar.h"
#include "ui/NavIcons.h"
#include "ui/OperationProgress.h"
#include "ui/Panel.h"
#include "ui/PageSettings.h"
#include "ui/Page.h"
#include "ui/Provision.h"
#include "ui/RecentFiles.h"
#include "ui/Sites.h"
#include "ui/SplashDlg.h"
#include "ui/StatusPane.h"
#include "ui/Unsaved.h"
#include "ui/WindowTexts.h"
#include "persist/WireText.h"
#include "ui/f_ACP.h"
#include "ui/AdcMonitor.h"
#include "model/Operation.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/f_keys.h"

namespace {

// How often the window's timer looks at the queue: while output waits or an
// operation runs; while the ADC monitor runs alone, as often as its plots
// are drawn.
constexpr int kDrainMs = 50;
constexpr int kMonitorDrainMs = 250;

void StartDrainTimer(QTimer* timer, bool monitorAlone) {
  timer->setInterval(monitorAlone ? kMonitorDrainMs : kDrainMs);
  timer->start();
}

const char* const Caption = "Настройка охранной панели \"Ostrel GSM\" v" OSTREL_VERSION;

}  // namespace

TForm1::TForm1(QWidget* parent, bool persistent)
    : QMainWindow(parent),
      device_(queue_),
      persistent_(persistent) {
  setObjectName("Form1");
  setWindowTitle(QString::fromUtf8(Caption));
  setGeometry(207, 64, 894, 628);

  // Calls that other threads hand to the GUI thread are served from the event
  // loop, modal loops included.
  TGuiSync::Instance().AttachGuiThread();
  syncNotifier_ = new QSocketNotifier(TGuiSync::Instance().WakeFd(), QSocketNotifier::Read, this);
  connect(syncNotifier_, &QSocketNotifier::activated, this, [] { TGuiSync::Instance().Serve(); });

  CreateMenus();

  auto* central = new QWidget(this);
  auto* centralLayout = new QVBoxLayout(central);
  centralLayout->setContentsMargins(0, 0, 0, 0);
  splitter_ = new QSplitter(Qt::Vertical, central);
  splitter_->setObjectName("RzSplitter1");
  splitter_->setHandleWidth(7);
  splitter_->setChildrenCollapsible(false);
  centralLayout->addWidget(splitter_);
  setCentralWidget(central);

  auto* upper = new QWidget(splitter_);
  auto* upperLayout = new QHBoxLayout(upper);
  upperLayout->setContentsMargins(0, 0, 0, 0);
  upperLayout->setSpacing(0);
  navBar_ = new TRzGroupBar(upper);
  navBar_->setFixedWidth(161);
  upperLayout->addWidget(navBar_);
  mpanel_ = new QWidget(upper);
  mpanel_->setObjectName("mpanel");
  mpanel_->installEventFilter(this);
  upperLayout->addWidget(mpanel_, 1);

  auto* lower = new QWidget(splitter_);
  auto* lowerLayout = new QHBoxLayout(lower);
  lowerLayout->setContentsMargins(0, 0, 0, 0);
  memo_ = new QPlainTextEdit(lower);
  memo_->setObjectName("Memo1");
  memo_->setReadOnly(true);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_->setMaximumBlockCount(50000);
  lowerLayout->addWidget(memo_, 1);
  auto* column = new QWidget(lower);
  // 88 pixels as designed, wider only when "Подробно" would not fit.
  column->setMinimumWidth(88);
  column->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  auto* columnLayout = new QVBoxLayout(column);
  columnLayout->setContentsMargins(4, 4, 4, 4);
  auto* clear = new QPushButton(QString::fromUtf8("Очистить"), column);
  clear->setObjectName("RzBitBtn1");
  connect(clear, &QPushButton::clicked, memo_, &QPlainTextEdit::clear);
  columnLayout->addWidget(clear);
  // The memo shows the installer's lines; "Подробно" adds the traffic.
  auto* verbose = new QCheckBox(QString::fromUtf8("Подробно"), column);
  verbose->setObjectName("cbVerbose");
  verbose->setToolTip(QString::fromUtf8("Показывать обмен с панелью: команды, ответы, попытки"));
  connect(verbose, &QCheckBox::toggled, memo_, [this](bool on) { MemoLines::ShowTraffic(memo_, on); });
  columnLayout->addWidget(verbose);
  columnLayout->addStretch(1);
  lowerLayout->addWidget(column);
  splitter_->setStretchFactor(0, 76);
  splitter_->setStretchFactor(1, 24);
  splitter_->setSizes({420, 628 - 420});

  statusBar()->setObjectName("StatusBar1");
  statusBar()->setSizeGripEnabled(false);
  pane1_ = new TRzStatusPane(this);
  pane1_->setObjectName("RzStatusPane1");
  pane1_->setMinimumWidth(100);
  pane1_->setMaximumWidth(340);
  pane2_ = new TRzStatusPane(this);
  pane2_->setObjectName("RzStatusPane2");
  pane2_->setMinimumWidth(100);
  pane2_->setMaximumWidth(300);
  statusBar()->addWidget(pane1_);
  statusBar()->addWidget(pane2_);
  busyLabel_ = new QLabel(QString::fromUtf8("Идёт обмен с панелью…"), this);
  busyLabel_->setObjectName("lbBusy");
  busyLabel_->hide();
  statusBar()->addWidget(busyLabel_);

  // Persistence, creation steps 1 and 2: the stored layout and placement,
  // then logging off. The splitter holds its share (76 percent as designed).
  // The minimum size comes first, so that the layout is fitted with it.
  setMinimumSize(kMinWidth, kMinHeight);
  upper->setMinimumHeight(100);
  lower->setMinimumHeight(60);
  new TSplitterShare(splitter_, 76);
  if (persistent_) {
    layout_ = std::make_unique<TWindowLayout>(this, ProgramDir() + QStringLiteral("Windows.ini"));
    PersistStep([this](QString*) { layout_->Load(); layout_->RestorePlacement(); return true; });
    log_ = std::make_unique<TDebugLog>(DataDir() + QStringLiteral("log.txt"));
  }
  applier_.LogLine = nullptr;

  applier_.Resolve = [this](const TTarget& t) { return Resolve(t); };
  applier_.Memo = memo_;
  applier_.OnResult = [this](const TOperationResult& result) { ResultArrived(result); };

  // The pages, in the order the window creates them.
  keys_ = new TformKeys(mpanel_);
  keys_->ClearPage();
  keys_->show();
  acp_ = new TformACP(mpanel_);
  acp_->show();
  gsm_ = new TformGSM(mpanel_);
  gsm_->hide();
  common_ = new TformCommon(mpanel_);
  common_->show();
  sitesPage_ = new TformSites(mpanel_);
  sitesPage_->hide();
  // The one store of settings, shown by the pages: at first the pages' own
  // initial values.
  TSettings initial;
  for (auto& channel : initial.Threshold)
    for (int k = 0; k < TSettings::kThresholds; ++k) channel[k] = TformACP::DefaultThreshold(k);
  model_ = new TSettingsModel(initial, this);
  view_ = new TPagesView(*model_, common_, keys_, acp_, gsm_, this);
  connect(acp_, &TformACP::WatchRequested, this, [this](bool watch) {
    if (watch) {
      StartMonitor();
    } else {
      StopMonitor();
    }
  });
  applier_.OnReading = [this](std::uint32_t timeMs, int channel, std::optional<int> value) {
    if (TAdcMonitor* monitor = acp_ ? acp_->Monitor() : nullptr) monitor->AddReading(timeMs, channel, value);
  };
  dlgConnect_ = new TdlgConnect(this);

  CreateNavigation();
  groupPages_->Item(QString::fromUtf8("Общие"))->Click();
  provision_ = std::make_unique<TProvision>(*this, menuBar()->findChild<QMenu*>("mnuProperties"), groupSettings_);
  recent_ = new TRecentFiles(menuBar()->findChild<QMenu*>("mnuFile"), findChild<QAction*>("mnuSaveAs"),
                             [this](const QString& f) { LoadRecentFile(f); }, this);
  if (persistent_) recent_->Load(layout_->FileName());
  FinishMenus();

  splash_ = new TdlgSplash(this);
  // Отмена asks the link to stop and waits for its end: a modem call is hung
  // up and the port is free when the dialog closes.
  splash_->OnCancel = [this] {
    if (!link_ || link_->Finished()) return false;
    link_->Terminate();
    return true;
  };
  connect(this, &TForm1::LinkFinished, this, &TForm1::LinkEndedWhileConnecting);
  keys_->SetKeyDialog(new TOKRightDlg(this));
  sites_ = new TSites(*this, navBar_, sitesPage_);

  // The timer looks at the queue every 50 ms while there is output to apply
  // or an operation runs; otherwise it rests, and the queue's first post
  // wakes it: an idle window does not wake at all. While the ADC monitor
  // runs alone its readings are taken four times a second, as the plots
  // are drawn (each reading carries the link's time of its own).
  timer_ = new QTimer(this);
  timer_->setObjectName("Timer1");
  timer_->setInterval(kDrainMs);
  connect(timer_, &QTimer::timeout, this, &TForm1::TimerTick);
  readyNotifier_ = new QSocketNotifier(queue_.ReadyFd(), QSocketNotifier::Read, this);
  connect(readyNotifier_, &QSocketNotifier::activated, this, [this] {
    readyNotifier_->setEnabled(false);
    if (!timer_->isActive()) StartDrainTimer(timer_, monitoring_ && !busy_);
  });

  SetUpDesktop();
  // The first key the user presses acts on "Подключиться".
  groupConnection_->Item(QString::fromUtf8("Подключиться"))->setFocus();

  // Persistence, creation step 11: the settings of the last run.
  if (persistent_) PersistStep([this](QString* e) { return LoadSettingsSaying(ProgramDir() + "current.ini", e); });
  if (persistent_) provision_->LoadOptions(ProgramDir() + "current.ini");
  if (persistent_) dlgConnect_->LoadCall(ProgramDir() + "current.ini");
  if (persistent_) sites_->LoadCurrent(ProgramDir() + "current.ini");
  if (persistent_) sites_->OpenLibrary();
  SetUpUnsaved();
}

TForm1::~TForm1() {
  // Persistence, destruction step 1: the layout.
  if (layout_)
    PersistStep([this](QString* e) {
      return Said(layout_->Save(e) && recent_->Save(layout_->FileName(), e), layout_->FileName(), e);
    });
  timer_->stop();
  // The queue's descriptor closes with the queue, before the window's children go.
  delete readyNotifier_;
  readyNotifier_ = nullptr;
  if (link_) {
    ReleaseLinkNotifier();
    link_->Terminate();
    link_->WaitFor();
  }
  link_.reset();
  if (busy_) QApplication::restoreOverrideCursor();
  // Persistence, destruction steps 4 to 6: the log's closing block (the menu
  // keeps its mark, so the settings record logging as on), "current.ini",
  // then the pages.
  applier_.LogLine = nullptr;
  if (log_ && log_->IsOn())
    PersistStep([this](QString* e) { return Said(log_->SwitchOff(e), ProgramDir() + "log.txt", e); });
  if (persistent_)
    PersistStep([this](QString* e) {
      const QString file = ProgramDir() + "current.ini";
      return Said(SaveSettings(file, e) && provision_->SaveOptions(file, e) && dlgConnect_->SaveCall(file, e) &&
                      sites_->SaveCurrent(file, e),
                  file, e);
    });
  provision_.reset();
  delete view_;
  view_ = nullptr;
  delete keys_;
  keys_ = nullptr;
  delete common_;
  common_ = nullptr;
  delete acp_;
  acp_ = nullptr;
  delete gsm_;
  gsm_ = nullptr;
  TGuiSync::Instance().DetachGuiThread();
}

void TForm1::CreateNavigation() {
  groupConnection_ = navBar_->AddGroup("RzGroup1", QString::fromUtf8("Соединение"));
  groupConnection_->AddItem(QString::fromUtf8("Подключиться"), NavIcon(TNavIcon::Connect),
                            [this] { Connect(); });
  groupConnection_->AddItem(QString::fromUtf8("Отключиться"), NavIcon(TNavIcon::Disconnect),
                            [this] { Disconnect(); })
      ->setEnabled(false);

  groupPages_ = navBar_->AddGroup("RzGroup2", "Ostrel");
  const QIcon pageIcon = NavIcon(TNavIcon::Page);
  groupPages_->AddItem(QString::fromUtf8("Общие"), pageIcon, [this] { ShowPage(common_); });
  groupPages_->AddItem(QString::fromUtf8("Ключи"), pageIcon, [this] { ShowPage(keys_); });
  groupPages_->AddItem(QString::fromUtf8("АЦП"), pageIcon, [this] { ShowPage(acp_); })->setVisible(false);
  groupPages_->AddItem("GSM", pageIcon, [this] { ShowPage(gsm_); });

  groupSettings_ = navBar_->AddGroup("RzGroup3", QString::fromUtf8("Настройки"));
  groupSettings_->AddItem(QString::fromUtf8("Прочитать"), NavIcon(TNavIcon::Read),
                          [this] { Read(); });
  groupSettings_->AddItem(QString::fromUtf8("Записать"), NavIcon(TNavIcon::Write),
                          [this] { Write(); });
  groupSettings_->AddItem(QString::fromUtf8("Прочитать всё"), NavIcon(TNavIcon::Read),
                          [this] { ReadAll(); });
  groupSettings_->AddItem(QString::fromUtf8("Записать всё"), NavIcon(TNavIcon::Write),
                          [this] { WriteAllAction(); });
  groupSettings_->hide();

  groupProgram_ = navBar_->AddGroup("RzGroup4", QString::fromUtf8("Настройки программы"));
  groupProgram_->AddItem(QString::fromUtf8("Сохранить"), NavIcon(TNavIcon::Save),
                         [this] { SaveAction(); });
  groupProgram_->AddItem(QString::fromUtf8("Загрузить"), NavIcon(TNavIcon::Open),
                         [this] { LoadAction(); });
}

QList<TPage*> TForm1::Pages() const { return {keys_, common_, gsm_, acp_, sitesPage_}; }

QObject* TForm1::Resolve(const TTarget& target) const {
  const QString form = QString::fromStdString(target.Form);
  QObject* root = nullptr;
  if (form == objectName()) {
    root = const_cast<TForm1*>(this);
  } else if (form == splash_->objectName()) {
    // The device's "Click" for the hidden OK button is not taken: the typed
    // result of the connection check closes the dialog (ResultArrived).
    if (target.Name == Targets::Button1.Name) return nullptr;
    root = splash_;
  } else if (form == dlgConnect_->objectName()) {
    root = dlgConnect_;
  } else if (detached_ && target.Name.empty()) {
    // A read that stays out of the pages: its "Show" is ignored, the window keeps its page.
    return nullptr;
  } else {
    for (TPage* page : Pages())
      if (page && page->objectName() == form) root = page;
  }
  if (!root || target.Name.empty()) return root;
  return root->findChild<QObject*>(QString::fromStdString(target.Name));
}

void TForm1::TimerTick() {
  // The timer is off while it drains, so a modal window opened by an element
  // never lets a second drain start; the link's notifier may call in then too.
  if (draining_) return;
  draining_ = true;
  timer_->stop();
  readyNotifier_->setEnabled(false);
  // Looked at before draining: whatever the link posted before its mode went
  // back to 0, or before it ended, is then in the queue and applied below.
  const bool linkEnded = link_ && link_->Finished();
  const bool idle = !link_ || linkEnded || link_->GetMode() == 0;
  if (queue_.HasPending() != 0) applier_.ApplyOutput(queue_);
  if (busy_ && idle) EndOperation();
  if (linkEnded && !linkEndReported_) {
    linkEndReported_ = true;
    emit LinkFinished();
  }
  draining_ = false;
  if (busy_ || queue_.HasPending() != 0) return StartDrainTimer(timer_, monitoring_ && !busy_);
  // Rests: a post from here on makes the queue's descriptor readable again.
  queue_.ClearReady();
  if (queue_.HasPending() != 0) return StartDrainTimer(timer_, monitoring_ && !busy_);
  readyNotifier_->setEnabled(true);
}


void TForm1::ResultArrived(const TOperationResult& result) {
  // The monitor's end is its own; it is not the result of an operation.
  if (result.Mode == Modes::Monitor) return MonitorEnded();
  lastResult_ = result;
  if (result.Mode != Modes::Check) return;
  // The connection check decides "connected" and the firmware by its outcome.
  if (!result.Succeeded()) return;
  firmware_ = FromWire(result.Settings.Version);
  if (splash_->isVisible() && link_ && !link_->IsTerminated()) splash_->done(QDialog::Accepted);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == mpanel_ && event->type() == QEvent::Resize) {
    for (TPage* page : Pages())
      if (page) page->setGeometry(mpanel_->rect());
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::ShowPage(TPage* page) {
  RequireGuiThread("TForm1::ShowPage");
  for (TPage* p : Pages()) p->hide();
  page->setGeometry(mpanel_->rect());
  page->show();
  // The sites' page holds no settings: Read and Write keep to the last settings page.
  if (page != sitesPage_) device_.SetPage(page->objectName().toStdString());
  MarkCurrentPage(page);
}


bool TForm1::StartOperation(uint8_t mode) {
  RequireGuiThread("TForm1::StartOperation");
  if (!link_ || busy_ || link_->Finished()) return false;
  // The monitor gives way: the link ends it between two requests and runs
  // this operation next.
  LeaveMonitor();
  busy_ = true;
  UpdateOperationControls();
  // An operation cut short before its result arrives counts as interrupted.
  lastResult_ = TOperationResult();
  lastResult_.Mode = mode;
  lastResult_.Page = device_.GetPage();
  lastResult_.Outcome = TOutcome::Interrupted;
  lastResult_.Settings.Groups = TGroups::None();
  // A write sends a copy of the settings taken now; edits made meanwhile do
  // not mix into it.
  if (mode == Modes::WritePage || mode == Modes::WriteAll) {
    sent_ = PagesSettings(TGroups::AllWithAdc());
    device_.SetSettings(sent_);
  }
  link_->SetMode(mode);
  return true;
}

void TForm1::EndOperation() {
  // An operation that ended because the link went down is said with the loss.
  operationCut_ = link_ && link_->IsTerminated();
  const bool detached = detached_;
  if (detached_) {
    detached_ = false;
    device_.SetPage(detachedPage_);
  }
  busy_ = false;
  const TOperationResult& result = lastResult_;
  // A read reaches the settings only whole: a failed or interrupted one
  // leaves them, and every page, as they were.
  if (!detached && result.IsRead() && result.Succeeded()) ShowSettings(result.Settings);
  UpdateOperationControls();
  if (!detached && (result.IsRead() || result.IsWrite())) {
    // A read records what it brought, a write what it sent (Write all leaves
    // the ADC channels alone).
    TOperationEnd end;
    end.Kind = result.IsRead() ? TRecordKind::Read : TRecordKind::Write;
    end.Outcome = RecordOutcomeOf(result);
    end.Settings = result.IsRead() ? result.Settings : sent_;
    if (result.IsWrite())
      end.Settings.Groups = result.Mode == Modes::WriteAll ? TGroups::All() : TGroups(GroupOfPage(result.Page));
    end.WholeRead = result.Mode == Modes::ReadAll;
    emit OperationEnded(end);
  }
  if (!detached && !closing_) {
    const std::string message = ResultMessage(result);
    if (!message.empty()) MessageBox::Show(FromWire(message));
  }
  emit OperationFinished();
}

void TForm1::UpdateOperationControls() {
  const bool idle = !busy_;
  for (const char* item : {"Прочитать", "Записать", "Прочитать всё", "Записать всё"})
    groupSettings_->Item(QString::fromUtf8(item))->setEnabled(idle);
  for (const char* item : {"Сохранить", "Загрузить"}) groupProgram_->Item(QString::fromUtf8(item))->setEnabled(idle);
  mnuSave_->setEnabled(idle);
  mnuLoad_->setEnabled(idle);
  if (provision_) provision_->UpdateActions();
  UpdateMenuActions();
  busyLabel_->setVisible(busy_);
  if (acp_) acp_->SetWatchEnabled(idle && connected_.load());
  if (busy_)
    QApplication::setOverrideCursor(Qt::BusyCursor);
  else
    QApplication::restoreOverrideCursor();
}

bool TForm1::Read() { return StartOperation(3); }

bool TForm1::Write() { return StartOperation(4); }

bool TForm1::ReadAll() { return StartOperation(5); }

bool TForm1::WriteAll() { return StartOperation(6); }

void TForm1::WriteAllAction() {
  if (!provision_->WriteAll()) WriteAll();
}

bool TForm1::ReadAllDetached() {
  if (!link_ || busy_ || link_->Finished()) return false;
  detached_ = true;
  detachedPage_ = device_.GetPage();
  if (StartOperation(5)) return true;
  detached_ = false;
  return false;
}

void TForm1::closeEvent(QCloseEvent* event) {
  // Changes not yet written are asked about first; "Отмена" keeps the window.
  if (unsaved_ && !unsaved_->MayReplace(TReplacing::Close, TGroups::AllWithAdc(), QString(), [this] { close(); })) {
    event->ignore();
    return;
  }
  // An operation under way ends here, interrupted, while its record can
  // still be made; a call still up is hung up while the window can still
  // show it.
  if (busy_) {
    closing_ = true;
    Disconnect();
    closing_ = false;
  }
  HangUpShowing();
  // Persistence: the window placement is stored when the window closes.
  if (layout_) PersistStep([this](QString* e) { return Said(layout_->SavePlacement(e), layout_->FileName(), e); });
  QMainWindow::closeEvent(event);
}
