#include "ui/f_keys.h"

#include "ui/GuiThread.h"

#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/KeyDialog.h"

namespace {

// Draws the grid lines of the report view: a light line under and to the
// right of every cell.
class TGridDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    painter->save();
    painter->setPen(option.palette.color(QPalette::Midlight));
    const QRect r = option.rect;
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    painter->drawLine(r.topRight(), r.bottomRight());
    painter->restore();
  }
};

}  // namespace

TformKeys::TformKeys(QWidget* parent) : TPage(parent) {
  setObjectName(QStringLiteral("TformKeys"));
  setWindowTitle(QStringLiteral("Ключи"));

  scrollBox_ = new QScrollArea(this);
  scrollBox_->setObjectName(QStringLiteral("ScrollBox1"));
  scrollBox_->setWidgetResizable(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(scrollBox_);

  list_ = new QTreeWidget;
  list_->setObjectName(QStringLiteral("TMLV"));
  list_->setColumnCount(2);
  list_->setHeaderLabels({QStringLiteral("№"), QStringLiteral("Ключ Touch Memory")});
  list_->setRootIsDecorated(false);
  list_->setItemsExpandable(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setAllColumnsShowFocus(true);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setItemDelegate(new TGridDelegate(list_));
  list_->header()->setSectionsClickable(false);
  list_->header()->setSectionsMovable(false);
  list_->header()->setStretchLastSection(false);
  list_->setColumnWidth(0, 50);
  list_->setColumnWidth(1, 150);
  // A double-click anywhere in the list edits the selected row, also below the last row.
  list_->viewport()->installEventFilter(this);
  scrollBox_->setWidget(list_);

  for (int i = 1; i <= kRows; ++i) AddRow(i, EmptyKey);
}

void TformKeys::AddRow(int number, const QString& key) {
  auto* item = new QTreeWidgetItem(list_, {QString::number(number), key});
  item->setData(0, StateImageRole, -1);
}

void TformKeys::ClearPage() {
  RequireGuiThread("TformKeys::ClearPage");
  {
    const QSignalBlocker quiet(list_);
    list_->clear();
    for (int i = 1; i <= kRows; ++i) AddRow(i, EmptyKey);
  }
  emit Cleared();
}

bool TformKeys::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    // The press before the double-click has already selected the row under
    // the mouse (or kept the selection, below the last row).
    EditSelected();
    return true;
  }
  return TPage::eventFilter(watched, event);
}

void TformKeys::EditSelected() {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty() || dialog_ == nullptr) return;
  // The row may be removed while the dialog is open (a ClearPage, a list
  // element applied by the timer): keep only a guarded reference to it.
  const QPersistentModelIndex row = list_->indexFromItem(selected.first());
  // A row holds whatever the panel sent; the edit starts only with what could be typed.
  const QString key = selected.first()->text(1);
  const auto* filter = qobject_cast<const TCharValidator*>(dialog_->KeyEdit()->validator());
  dialog_->KeyEdit()->setText(!filter || filter->Accepts(key) ? key : QString());
  const int result = dialog_->exec();
  if (result == QDialog::Rejected || dialog_ == nullptr || !row.isValid()) return;
  if (QTreeWidgetItem* item = list_->itemFromIndex(row)) item->setText(1, dialog_->KeyEdit()->text());
}
