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
#include "ui/Page.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeWidget;
class TForm1;
class TRzGroup;
class TRzGroupBar;
class TRzStatusPane;
class TSiteLibrary;
class TdlgAttach;
class TdlgCompare;

// The page: objectName "TformSites". Controls: edSearch, lvSites (name,
// address), lvHistory (number, time, operator, kind, outcome; two may be
// chosen), lbLibrary (the library's state), the buttons btNewSite, btEditSite,
// btArchiveSite, btCurrentSite, btCallSite, btCompareRecords, btLoadRecord.
class TformSites : public TPage {
  Q_OBJECT
 public:
  explicit TformSites(QWidget* parent = nullptr);
  QLineEdit* Search() const { return search_; }
  QTreeWidget* SitesList() const { return sites_; }
  QTreeWidget* History() const { return history_; }
  QLabel* LibraryLabel() const { return library_; }
  // "Ничего не найдено", shown while a search finds no site.
  QLabel* NothingFound() const { return nothing_; }
  QPushButton* Button(const char* name) const;

 private:
  QLineEdit* search_;
  QLabel* nothing_;
  QTreeWidget* sites_;
  QTreeWidget* history_;
  QLabel* library_;
};

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
  void MakeCurrent();
  void Call();
  void CompareRecords();
  void LoadRecord();

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
  // Asked before a site goes to the archive (tests answer it).
  static std::function<bool(const QString& question, QWidget* parent)> Confirm;
  // Makes a new site's card: the dialog's answer, or nothing (tests answer it).
  static std::function<std::optional<TSite>(const TSite& start, QWidget* parent)> EditCard;

 signals:
  // The library has answered what was asked of it for the page (tests).
  void Refreshed();

 private:
  void Searched(const QString& text, const std::vector<TSite>& sites);
  void HistoryLoaded(const QString& site, const std::vector<TRecord>& records);
  void SiteChosen();
  void UpdateButtons();
  void RunSearch();
  void ShowLibraryState(bool ok, const QString& message);
  void OfferAttach(const TOperationEnd& end);
  void Attach(const QString& site);
  void SaveSite(const QString& oldName, const TSite& site, std::function<void(bool)> then = nullptr);
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
  QStringList suggestions_;
  TdlgCompare* compare_ = nullptr;
  TdlgAttach* attach_ = nullptr;
  std::vector<TSite> sites_;
  QString historySite_;
  std::vector<TRecord> history_;
  QString current_;
  QString port_;         // the port, or the number called
  QString firmware_;     // the version the connection check saw
  bool declined_ = false;  // the offer to attach was declined on this connection
  std::optional<TOperationEnd> unattached_;
  std::optional<TLibraryPlace> deferred_;  // the library to create at its first use
  TRecord unattachedRecord_;
};
