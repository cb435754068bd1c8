// The table of a comparison between the panel and the pages: one row a
// setting that differs (section, setting, on the panel, on the page).
// GUI thread only.
#pragma once

#include <QDialog>

#include <vector>

#include "model/Fields.h"

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
  QLabel* Summary() const { return summary_; }

 private:
  QTableWidget* table_;
  QLabel* summary_;
  QString same_;
};
