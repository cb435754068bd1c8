#include "ui/CompareDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/Accessibility.h"
#include "ui/WindowTexts.h"

TdlgCompare::TdlgCompare(QWidget* parent) : QDialog(parent) {
  setObjectName("dlgCompare");
  setWindowTitle(QString::fromUtf8("Сравнение с панелью"));
  setWindowModality(Qt::WindowModal);
  resize(560, 380);
  auto* layout = new QVBoxLayout(this);
  summary_ = new QLabel(this);
  summary_->setObjectName("lbCompareSummary");
  layout->addWidget(summary_);
  table_ = new QTableWidget(0, 4, this);
  table_->setObjectName("tblCompare");
  table_->setHorizontalHeaderLabels({QString::fromUtf8("Страница"), QString::fromUtf8("Настройка"),
                                     QString::fromUtf8("На панели"), QString::fromUtf8("На странице")});
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  FrameFocus(table_);
  layout->addWidget(table_, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->button(QDialogButtonBox::Close)->setText(QString::fromUtf8("Закрыть"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

void TdlgCompare::SetSides(const QString& title, const QString& left, const QString& right, const QString& same) {
  setWindowTitle(title);
  table_->setHorizontalHeaderLabels({QString::fromUtf8("Страница"), QString::fromUtf8("Настройка"), left, right});
  same_ = same;
}

void TdlgCompare::Show(const std::vector<TDifference>& differences) {
  table_->setRowCount(0);
  for (const TDifference& d : differences) {
    const int row = table_->rowCount();
    table_->insertRow(row);
    // Named as the pages name them; the file's section and key in the tooltip.
    const QString section = QString::fromStdString(d.Field->Section);
    const QString key = QString::fromStdString(d.Field->Key);
    const auto shown = [](const std::string& value) {
      return value.empty() ? QString::fromUtf8("(пусто)") : QString::fromStdString(value);
    };
    const QString cells[] = {WindowTexts::PageName(section), QString::fromStdString(d.Field->Display), shown(d.Left),
                             shown(d.Right)};
    for (int column = 0; column < 4; ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      item->setToolTip(QStringLiteral("[%1] %2").arg(section, key));
      table_->setItem(row, column, item);
    }
  }
  table_->resizeColumnsToContents();
  summary_->setText(differences.empty()
                        ? (same_.isEmpty() ? QString::fromUtf8("Настройки на панели и на страницах совпадают.") : same_)
                        : QString::fromUtf8("Отличаются настройки: %1").arg(int(differences.size())));
  // Modal over the window: its rows hold the panel as it was just read.
  open();
  raise();
}
