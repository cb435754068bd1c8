// The table of a comparison (the panel, a file or a record against the
// pages, or two records): one row a setting that differs, named as its page
// labels it and grouped by page (ui/SettingNames.h). "Копировать" (and
// Ctrl+C) puts the whole table on the clipboard as tab-separated text.
// GUI thread only.
#pragma once

#include <QDialog>

#include <vector>

#include "model/Fields.h"
#include "ui/SettingNames.h"

class QLabel;
class QTableWidget;

class TdlgCompare : public QDialog {
  Q_OBJECT
 public:
  explicit TdlgCompare(QWidget* parent = nullptr);

  // Fills the table: Left of each difference is the panel, Right the page.
  void Show(const std::vector<TDifference>& differences);
  // Names the two sides (two records of a site, a record and the pages):
  // the title, the headers of the value columns and the summary when they agree.
  void SetSides(const QString& title, const QString& left, const QString& right, const QString& same);
  QTableWidget* Table() const { return table_; }
  // The table as the clipboard gets it: the headers, then one line a row.
  QString Text() const;
  void CopyToClipboard() const;
  QLabel* Summary() const { return summary_; }

 private:
  QTableWidget* table_;
  QLabel* summary_;
  QString same_;
  std::vector<SettingNames::TRow> rows_;
};
