// The page of the site library ("Объекты"): the search, the sites, the
// chosen site's history and the buttons. It only shows what it is given; the
// library and the actions are TSites' (ui/Sites.h). GUI thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "library/Library.h"
#include "ui/SiteLibrary.h"
#include "ui/Page.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// The page: objectName "TformSites". Controls: edSearch, cbArchived
// ("Показать архивные"), lvSites (name, address; the current site in bold,
// archived ones in grey italics), lvHistory (number, time, kind, outcome,
// settings changed, firmware, port or number, operator; two may be chosen),
// lbLibrary (the library's state), the buttons btNewSite, btEditSite,
// btArchiveSite, btRestoreSite, btCurrentSite, btCallSite, btCompareRecords,
// btLoadRecord, btSaveRecord. Every column sorts by a click on its header.
class TformSites : public TPage {
  Q_OBJECT
 public:
  // The roles of a site's row: its name (the text may be elided on screen)
  // and its mark.
  static constexpr int kNameRole = Qt::UserRole;
  static constexpr int kMarkRole = Qt::UserRole + 1;
  static constexpr int kTipRole = Qt::UserRole + 3;  // the tooltip without the mark
  enum class TMark { None, Current, Archived };
  // The history's columns.
  enum THistoryColumn { kNumber, kTime, kKind, kOutcome, kChanged, kFirmware, kPort, kOperator, kColumns };

  explicit TformSites(QWidget* parent = nullptr);
  QLineEdit* Search() const { return search_; }
  QCheckBox* ShowArchived() const { return archived_; }
  QTreeWidget* SitesList() const { return sites_; }
  QTreeWidget* History() const { return history_; }
  QLabel* LibraryLabel() const { return library_; }
  // "Ничего не найдено", shown while a search finds no site.
  QLabel* NothingFound() const { return nothing_; }
  QPushButton* Button(const char* name) const;

  // Fills the list, keeps the chosen site chosen (else the first row) and
  // marks the current one.
  void ShowSites(const std::vector<TSite>& sites, const QString& current, const QString& chosen);
  // Marks the current site in the list as it is.
  void MarkCurrent(const QString& current);
  // The chosen site's name; empty for none.
  QString ChosenName() const;
  // The records, in the order the user sorted them (the newest first at
  // the start); changes[i] belongs to records[i].
  void ShowHistory(const std::vector<TRecord>& records, const std::vector<THistoryChange>& changes,
                   const QStringList& outcomes, const QStringList& kinds);

 protected:
  // The search's clear button comes with the first showing: its icon is
  // looked up in the icon theme, which the window's start does without.
  void showEvent(QShowEvent* event) override;

 private:
  QLineEdit* search_;
  QCheckBox* archived_;
  QLabel* nothing_;
  QTreeWidget* sites_;
  QTreeWidget* history_;
  QLabel* library_;
};
