#include "ui/CompareDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

TdlgCompare::TdlgCompare(QWidget* parent) : QDialog(parent) {
  setObjectName("dlgCompare");
  setWindowTitle(QString::fromUtf8("Сравнение с панелью"));
  resize(560, 380);
  auto* layout = new QVBoxLayout(this);
  summary_ = new QLabel(this);
  summary_->setObjectName("lbCompareSummary");
  layout->addWidget(summary_);
  table_ = new QTableWidget(0, 4, this);
  table_->setObjectName("tblCompare");
  table_->setHorizontalHeaderLabels({QString::fromUtf8("Раздел"), QString::fromUtf8("Настройка"),
                                     QString::fromUtf8("На панели"), QString::fromUtf8("На странице")});
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  layout->addWidget(table_, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->button(QDialogButtonBox::Close)->setText(QString::fromUtf8("Закрыть"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

void TdlgCompare::Show(const std::vector<TDifference>& differences) {
  table_->setRowCount(0);
  for (const TDifference& d : differences) {
    const int row = table_->rowCount();
    table_->insertRow(row);
    const QString cells[] = {QString::fromStdString(d.Field->Section), QString::fromStdString(d.Field->Key),
                             QString::fromStdString(d.Left), QString::fromStdString(d.Right)};
    for (int column = 0; column < 4; ++column) table_->setItem(row, column, new QTableWidgetItem(cells[column]));
  }
  table_->resizeColumnsToContents();
  summary_->setText(differences.empty()
                        ? QString::fromUtf8("Настройки на панели и на страницах совпадают.")
                        : QString::fromUtf8("Различаются настроек: %1").arg(int(differences.size())));
  show();
  raise();
}
