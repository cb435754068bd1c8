#include "ui/CompareDlg.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QShortcut>
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
  QPushButton* copy = buttons->addButton(QString::fromUtf8("Копировать"), QDialogButtonBox::ActionRole);
  copy->setObjectName("btCopyCompare");
  copy->setToolTip(QString::fromUtf8("Скопировать таблицу как текст (Ctrl+C)"));
  connect(copy, &QPushButton::clicked, this, &TdlgCompare::CopyToClipboard);
  auto* copyKeys = new QShortcut(QKeySequence::Copy, this);
  connect(copyKeys, &QShortcut::activated, this, &TdlgCompare::CopyToClipboard);
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
  rows_ = SettingNames::Rows(differences);
  QString lastPage;
  for (const SettingNames::TRow& r : rows_) {
    const int row = table_->rowCount();
    table_->insertRow(row);
    // Named as the pages name them; the file's section and key in the tooltip.
    const QString where = QStringLiteral("[%1] %2").arg(QString::fromStdString(r.Field->Section),
                                                        QString::fromStdString(r.Field->Key));
    const QString cells[] = {r.Page, r.Name, r.Left, r.Right};
    for (int column = 0; column < 4; ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      item->setToolTip(where);
      // Each page's rows begin with the page's name in bold.
      if (column == 0 && r.Page != lastPage) {
        QFont bold = item->font();
        bold.setBold(true);
        item->setFont(bold);
      }
      table_->setItem(row, column, item);
    }
    lastPage = r.Page;
  }
  table_->resizeColumnsToContents();
  summary_->setText(rows_.empty()
                        ? (same_.isEmpty() ? QString::fromUtf8("Настройки на панели и на страницах совпадают.") : same_)
                        : QString::fromUtf8("Отличаются настройки: %1").arg(int(rows_.size())));
  // Modal over the window: its rows hold the panel as it was just read.
  open();
  raise();
}

QString TdlgCompare::Text() const {
  QStringList headers;
  for (int column = 0; column < table_->columnCount(); ++column)
    headers << table_->horizontalHeaderItem(column)->text();
  return SettingNames::AsText(rows_, headers);
}

void TdlgCompare::CopyToClipboard() const { QGuiApplication::clipboard()->setText(Text()); }
