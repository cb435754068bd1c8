// The "Объекты" group of the window: the page of the site library (search as
// you type, the sites, the chosen site's history and what can be done with
// them), the current site in the status bar, the recording of every panel
// operation with a current site, the offer to attach a read to a site, and
// "Позвонить" for a site with a GSM data number.
//
// The library works on a thread of its own (ui/SiteLibrary.h); this side runs
// on the GUI thread and never waits for it: a panel operation's record is
// handed over and the window goes on.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

#include "library/Library.h"
#include "ui/OperationEnd.h"
#include "ui/SitesPage.h"

class QTimer;
class TForm1;
class TRzGroup;
class TRzGroupBar;
class TRzStatusPane;
class TSiteLibrary;
class TdlgAttach;
class TdlgCompare;

// A record's file name as the page offers it: the site and the record's
// date ("Склад 7 2026-12-11.ini"), within 255 bytes.
QString RecordFileName(const QString& site, const QDateTime& time);

class TSites : public QObject {
  Q_OBJECT
 public:
  // Takes the page (made with the window's other pages), adds its group to
  // bar and the current site to the window's status bar.
  TSites(TForm1& form, TRzGroupBar* bar, TformSites* page);
  ~TSites() override;

  // Opens the library where the command line finds it (the window's
  // "current.ini" included), or at place.
  // The default SQLite file that does not exist yet is opened (created) only
  // when the page is first shown or a site is made.
  void OpenLibrary(std::optional<TLibraryPlace> place = std::nullopt);
  // The navigation item "Объекты".
  void ShowSitesPage();
  TSiteLibrary* Library() const { return library_; }
  TformSites* Page() const { return page_; }
  TRzGroup* Group() const { return group_; }

  // The site the window's operations are recorded under; empty for none.
  const QString& CurrentSite() const { return current_; }
  void SetCurrentSite(const QString& site);
  // The site chosen in the list; empty for none.
  QString ChosenSite() const;
  // The record numbers chosen in the history, oldest first.
  std::vector<int> ChosenRecords() const;

  // The buttons' actions.
  void NewSite();
  void EditSite();
  void ArchiveSite();
  void RestoreSite();
  void MakeCurrent();
  void Call();
  void CompareRecords();
  void LoadRecord();
  // The chosen record as a settings file (the text Save writes), named after
  // the site and the record's date, in the folder last used (else the
  // user's documents).
  void SaveRecord();

  // The current site in "current.ini" ([Sites] Current): kept at the end,
  // taken again at the start when the library still lists it.
  void LoadCurrent(const QString& iniFile);
  bool SaveCurrent(const QString& iniFile, QString* error) const;

  // A panel operation ended: recorded under the current site (else, for a
  // whole read, offered for a site).
  void OperationEnded(const TOperationEnd& end);
  // The window started a link: its port, and the number when it calls.
  void LinkStarted(const QString& port, const QString& phone);

  TdlgCompare* CompareDialog() const { return compare_; }
  TdlgAttach* AttachDialog() const { return attach_; }
  // The offer in the status bar after a whole read with no current site:
  // "Привязать…" opens the dialog with the suggestions, "Не привязывать"
  // declines for this connection. It takes the focus from nobody.
  QWidget* OfferBar() const { return offer_; }
  void OpenAttachDialog();
  void DeclineAttach();
  // Asked before a site goes to the archive, and before an archived one is
  // restored in place of a new one (tests answer it).
  static std::function<bool(const QString& question, QWidget* parent)> Confirm;
  // A site's card: the dialog's answer, or nothing (tests answer it). note:
  // why the card is shown again (the form as the user left it), or empty.
  static std::function<std::optional<TSite>(const TSite& start, const QString& note, QWidget* parent)> EditCard;

 signals:
  // The library has answered what was asked of it for the page (tests).
  void Refreshed();

 private:
  void Searched(const QString& text, const std::vector<TSite>& sites);
  void HistoryLoaded(const QString& site, const std::vector<TRecord>& records,
                     const std::vector<THistoryChange>& changes);
  void SiteChosen();
  void UpdateButtons();
  void RunSearch();
  void ShowLibraryState(bool ok, const QString& message);
  void OfferAttach(const TOperationEnd& end);
  void Attach(const QString& site);
  // Shows the card (again, with note) and saves what it gives under
  // oldName (empty: a new site); a name taken, or a library that failed,
  // brings the card back as it was filled in. then(saved name) at the end;
  // empty when nothing was saved.
  void EditAndSave(const QString& oldName, const TSite& start, const QString& note,
                   std::function<void(const QString&)> then = nullptr);
  void SaveSite(const QString& oldName, const TSite& site, std::function<void(const QString&)> then);
  // Brings the archived site back and shows it.
  void Restore(const QString& name, std::function<void(bool)> then = nullptr);
  // Shows site in the list (the search set to its name).
  void ShowSite(const QString& name);
  TRecord MakeRecord(const TOperationEnd& end);
  const TSite* Chosen() const;
  // Runs then once the library has been opened (at once when it was).
  void WhenOpen(std::function<void()> then);

  TForm1& form_;
  TformSites* page_;
  TRzGroup* group_;
  TRzStatusPane* pane_;
  TSiteLibrary* library_;
  QTimer* debounce_;
  QWidget* offer_;
  std::vector<TSite> offerSharing_;  // the sites the offer lists first
  std::vector<TSite> offerOthers_;
  TdlgCompare* compare_ = nullptr;
  TdlgAttach* attach_ = nullptr;
  std::vector<TSite> sites_;
  QString historySite_;
  std::vector<TRecord> history_;
  QString current_;
  QString restoring_;  // the current site of the last run, until the library has it
  QString port_;         // the port, or the number called
  QString firmware_;     // the version the connection check saw
  bool declined_ = false;  // the offer to attach was declined on this connection
  std::optional<TOperationEnd> unattached_;
  std::optional<TLibraryPlace> deferred_;  // the library to create at its first use
  TRecord unattachedRecord_;
};
