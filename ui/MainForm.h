// The main window: navigation, actions, the traffic memo, the 50 ms timer
// that applies output elements (resting while there are none), and the
// current link thread.
//
// Everything here runs on the GUI thread. It shares with the link thread the
// output queue (it is the only consumer), the link mode, and the connected
// state that the link thread reads at its end (an atomic flag).
#pragma once

#include <QMainWindow>
#include <atomic>
#include <memory>

#include "link/Clock.h"
#include "link/xModem.h"
#include "output/OutArray.h"
#include "model/Settings.h"
#include "protocol/DevOstrel.h"
#include "ui/Appliers.h"
#include "ui/OperationEnd.h"

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSocketNotifier;
class QSplitter;
class QTimer;
class TPage;
class TRzGroup;
class TRzGroupBar;
class TRzGroupItem;
class TRzStatusPane;
class TdlgConnect;
class TdlgSplash;
class TformCommon;
class TformKeys;
class TformACP;
class TformGSM;
class TDebugLog;
class TOperationProgress;
class TProvision;
class TWindowLayout;
class TRecentFiles;
class TPagesView;
class TSettingsModel;
class TSites;
class TformSites;
class TUnsaved;
struct TSettingsTargets;

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  // The smallest window at which the navigation, the pages (which scroll), the
  // memo and the status bar all stay whole.
  static constexpr int kMinWidth = 640;
  static constexpr int kMinHeight = 400;

  // persistent: false leaves "current.ini", the layout file and the debug
  // log alone (for callers that use the pages only, such as a front end
  // converting settings files, and for tests).
  explicit TForm1(QWidget* parent = nullptr, bool persistent = true);
  ~TForm1() override;

  // Actions.
  void ShowPage(TPage* page);
  void Connect();
  // What Connect does once a port is chosen: starts a link thread on the port
  // (a phone number makes it a GSM modem data call). The progress dialog's
  // OK (posted by the device on success) tells that the check passed.
  void StartLink(const QString& port, const std::string& phone, bool waitForNetwork = true);
  // Connect once the port is chosen: the link started, the progress dialog
  // until the check passes, then the connected state ("Позвонить" of a site).
  void ConnectLink(const QString& port, const std::string& phone, bool waitForNetwork);
  // Enters the connected state after a successful connection check.
  void EnterConnectedState();
  void Disconnect();
  // Read, Write, Read all and Write all set the link mode and return at once;
  // false when nothing was started: no link, or an operation still running
  // (one at a time: nothing is cleared then either).
  bool Read();
  bool Write();
  bool ReadAll();
  bool WriteAll();
  // Write all as the user starts it: with a backup first or a check after it
  // when those options are on (TProvision), otherwise WriteAll.
  void WriteAllAction();
  // The ADC monitor (MainFormMonitor.cpp): "Наблюдать" on the ADC page polls
  // both channels' readings while connected and no operation runs. Any
  // operation, a disconnect, a lost link or closing the window ends it
  // between two requests. Start is refused (false) as an operation is.
  bool StartMonitor();
  void StopMonitor();
  bool IsMonitoring() const { return monitoring_; }

  // Read all whose settings stay out of the window's pages (compare, backup,
  // verify): its result is LastResult(); no message box, and the current page
  // stays as it is. Refused as Read all is.
  bool ReadAllDetached();
  // The result of the last operation of the device (the connection check
  // included); an operation cut short without one counts as interrupted.
  const TOperationResult& LastResult() const { return lastResult_; }
  TProvision* Provision() const { return provision_.get(); }
  // The panel's version reply of the last successful connection check
  // (empty before one); kept after a disconnect until the next connection.
  const QString& Firmware() const { return firmware_; }
  // An operation started by one of the four is running: until its end has
  // been applied, they and Load and Save are refused.
  bool IsBusy() const { return busy_; }

  // Finds what an output element addresses.
  QObject* Resolve(const TTarget& target) const;
  // One pass of the timer: applies every waiting output element. Also run at
  // once when the link signals that an operation or the link itself ended.
  void TimerTick();

  TOutArray& Queue() { return queue_; }
  TApplier& Applier() { return applier_; }
  TDevOstrel& Device() { return device_; }
  TModem* Link() const { return link_.get(); }
  bool IsConnected() const { return connected_.load(); }
  TdlgConnect* ConnectDialog() const { return dlgConnect_; }
  TdlgSplash* SplashDialog() const { return splash_; }
  TformCommon* CommonPage() const { return common_; }
  TformKeys* KeysPage() const { return keys_; }
  TformACP* ACPPage() const { return acp_; }
  TformGSM* GSMPage() const { return gsm_; }
  QPlainTextEdit* Memo() const { return memo_; }
  QTimer* Timer() const { return timer_; }
  // Link threads use this clock (tests set a virtual one before Connect).
  void SetLinkClock(TClock* clock) { linkClock_ = clock; }

  // --- The settings: one model, the pages its views ---
  // The window's settings; every page shows it and every edit changes it.
  TSettingsModel* Model() const { return model_; }
  // A copy of the window's settings, of the groups asked for: what a write
  // sends, Save stores and compare and verify hold against the panel.
  TSettings PagesSettings(TGroups groups);
  // Shows the groups the settings hold in the pages (the model takes them).
  void ShowSettings(const TSettings& settings);

  // --- Persistence: settings files, the layout file and the debug log ---
  // A settings file holds the window's settings, the port name and mnuLog's
  // mark (ui/PageSettings.h). Failures come back in *error, never in a box.
  bool SaveSettings(const QString& fileName, QString* error = nullptr);
  bool LoadSettings(const QString& fileName, QString* error = nullptr);
  // The "Объекты" group: the site library, the current site, the records.
  TSites* Sites() const { return sites_; }
  // The Save and Load actions: a file dialog opened in FileDialogDir(), Save
  // suggesting a name from the current site and the date, then the above; a
  // failure is shown in a message box.
  void SaveAction();
  void LoadAction();
  // The folder of the last file loaded or saved, else the user's documents.
  QString FileDialogDir() const;
  // Loads a settings file as Load does: what the file lacks stays as it
  // was and is named in a box, with the values refused; a file missing,
  // unreadable or without settings is an error box and changes nothing.
  void LoadFile(const QString& file);
  // A file of the menu "Последние файлы": as LoadFile, but a file that is
  // gone is offered for removal from the menu.
  void LoadRecentFile(const QString& file);
  TRecentFiles* RecentFiles() const { return recent_; }
  // mnuLog's click: switches the debug log "log.txt" on when it is off and
  // off when it is on; the check mark follows. Without persistence only the
  // mark changes.
  void mnuLogClick();
  bool IsLogging() const;
  // The program is being stopped by a signal: no message box waits for a
  // user from now on; what one would say goes to standard error and, while
  // logging is on, to the debug log (MessageBox::ShowNoMore).
  void StopShowingBoxes();
  bool IsPersistent() const { return persistent_; }

  // --- Desktop use: icon, keyboard, wheel, layout, progress ---
  // Enables the menu items as the connection and the operations allow.
  void UpdateMenuActions();
  // "Справка": the shortcuts (keys, what they do) as the box lists them, and
  // the text of "О программе" (version, licence).
  QList<QPair<QString, QString>> ShortcutList() const;
  static QString AboutText();
  // Shows or hides the navigation item "АЦП" (hidden unless asked for).
  void SetAdcItemVisible(bool visible);
  TRzGroupBar* NavigationBar() const { return navBar_; }
  // "n из N" and a bar in the status bar during Read all and Write all.
  TOperationProgress* Progress() const { return progress_; }
  // The note of the last refused edit in the status bar.
  QLabel* NoteLabel() const { return noteLabel_; }

  // --- Changes not yet written (ui/Unsaved.cpp) ---
  // The marks, the question before a load, a read or closing, the undo of
  // a load and the compare with a file.
  TUnsaved* Unsaved() const { return unsaved_; }

 signals:
  // The running operation has ended and everything it posted is applied
  // (also when the link ended during it).
  void OperationFinished();
  // The link thread has ended and everything it posted is applied.
  void LinkFinished();
  // A link is started on port; phone is the number a modem calls (empty
  // for a direct link).
  void LinkStarted(const QString& port, const QString& phone);
  // Read, Write, Read all or Write all of the pages has ended (a read that
  // stays out of the pages is said by its own step): for the site library.
  void OperationEnded(const TOperationEnd& end);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Menus (MainFormMenus.cpp).
  void CreateMenus();
  void FinishMenus();
  QAction* AddMenuItem(QMenu* menu, const char* name, const char* text, const char* keys);
  void ShowShortcuts();
  void ShowAbout();
  void CreateNavigation();
  // A typed result reached the window: the last result; a successful
  // connection check also closes the progress dialog with OK.
  void ResultArrived(const TOperationResult& result);
  void SetConnectedState(bool connected);
  void FreeLink();
  // A modem call still up is hung up before the link is let go: the link is
  // asked to stop and the progress dialog shows the hang-up until it ends.
  void HangUpShowing();
  // The link ended while the progress dialog was up.
  void LinkEndedWhileConnecting();
  void ReleaseLinkNotifier();
  // Starts the link mode of an operation unless one is running.
  bool StartOperation(uint8_t mode);
  void EndOperation();
  // The monitor stops showing as running; the link's mode is left to the caller.
  void LeaveMonitor();
  // The link has ended the monitor (its result arrived).
  void MonitorEnded();
  // Enables or disables what an operation forbids while it runs.
  void UpdateOperationControls();
  QList<TPage*> Pages() const;

  // Changes not yet written (Unsaved.cpp): created last, over the settings
  // the window opened with.
  void SetUpUnsaved();

  // Desktop use (MainFormDesktop.cpp).
  void SetUpDesktop();
  void SetUpShortcuts();
  void MarkCurrentPage(TPage* page);
  // A page of the work area became visible: every other page is hidden.
  void PageShown(TPage* page);
  void SetUpProgress();

  // Persistence.
  TSettingsTargets SettingsTargets();
  // Runs one step of the creation or destruction sequence; its error is
  // shown in a message box and the sequence goes on.
  void PersistStep(const std::function<bool(QString*)>& step);
  // Russian words for a failed write of fileName (ok false), and for a load.
  static bool Said(bool ok, const QString& fileName, QString* error);
  bool LoadSettingsSaying(const QString& fileName, QString* error);
  void LoadUserFile(const QString& file, bool recent);

  TOutArray queue_;
  TDevOstrel device_;
  TApplier applier_;
  TOperationResult lastResult_;
  QString firmware_;
  std::unique_ptr<TModem> link_;
  QSocketNotifier* linkNotifier_ = nullptr;  // the link's StateFd
  QSocketNotifier* readyNotifier_ = nullptr;  // the queue's ReadyFd, while the timer rests
  std::atomic<bool> connected_{false};
  bool busy_ = false;
  bool monitoring_ = false;
  bool draining_ = false;
  bool linkEndReported_ = false;
  bool closing_ = false;       // the window is closing: no box for an operation cut short
  bool operationCut_ = false;  // the last operation ended with the link going down
  bool callFailed_ = false;    // the modem call of the last Connect failed by itself
  TClock* linkClock_ = nullptr;

  TformKeys* keys_ = nullptr;
  TformACP* acp_ = nullptr;
  TformGSM* gsm_ = nullptr;
  TformCommon* common_ = nullptr;
  TSettingsModel* model_ = nullptr;
  TPagesView* view_ = nullptr;
  TdlgConnect* dlgConnect_ = nullptr;
  TdlgSplash* splash_ = nullptr;

  QSplitter* splitter_ = nullptr;
  TRzGroupBar* navBar_ = nullptr;
  TRzGroup* groupConnection_ = nullptr;
  TRzGroup* groupPages_ = nullptr;
  TRzGroup* groupSettings_ = nullptr;
  TRzGroup* groupProgram_ = nullptr;
  QWidget* mpanel_ = nullptr;
  QPlainTextEdit* memo_ = nullptr;
  TRzStatusPane* pane1_ = nullptr;
  TRzStatusPane* pane2_ = nullptr;
  QTimer* timer_ = nullptr;
  QSocketNotifier* syncNotifier_ = nullptr;
  QAction* mnuConnect_ = nullptr;
  QAction* mnuDisconnect_ = nullptr;
  QAction* mnuSave_ = nullptr;
  QAction* mnuLoad_ = nullptr;
  QList<QAction*> panelOperations_;  // "Панель": Прочитать .. Записать всё
  QLabel* busyLabel_ = nullptr;
  QLabel* noteLabel_ = nullptr;  // why an edit refused a paste or a key

  // Persistence.
  bool persistent_;
  std::unique_ptr<TWindowLayout> layout_;
  std::unique_ptr<TDebugLog> log_;
  bool logMarked_ = false;
  QAction* mnuLog_ = nullptr;
  TRecentFiles* recent_ = nullptr;

  // Desktop use.
  bool iconSet_ = false;  // the icon is set once the window has been shown
  TOperationProgress* progress_ = nullptr;
  // Compare with the panel, backups and checks around Write all.
  std::unique_ptr<TProvision> provision_;
  // The site library's group and page.
  TformSites* sitesPage_ = nullptr;
  TSites* sites_ = nullptr;
  TSettings sent_;  // what the running write sends
  TUnsaved* unsaved_ = nullptr;
  // While a read stays out of the pages: the current page to return to.
  bool detached_ = false;
  std::string detachedPage_;
};
