#include "ui/NavBar.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

TRzGroupItem::TRzGroupItem(const QString& caption, const QIcon& icon, QWidget* parent)
    : QWidget(parent), caption_(caption), icon_(icon) {
  setObjectName(caption);
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_Hover);
  // Items take the focus from the keyboard (Tab) and the mouse alike.
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName(caption);
}

void TRzGroupItem::Click() {
  if (OnClick) OnClick();
}

void TRzGroupItem::SetCurrent(bool current) {
  if (current_ == current) return;
  current_ = current;
  update();
}

void TRzGroupItem::SetChanged(bool changed) {
  if (changed_ == changed) return;
  changed_ = changed;
  setAccessibleDescription(changed ? QString::fromUtf8("есть незаписанные изменения") : QString());
  updateGeometry();
  update();
}

void TRzGroupItem::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      if (isEnabled()) Click();
      event->accept();
      return;
    case Qt::Key_Down:
      focusNextChild();
      return;
    case Qt::Key_Up:
      focusPreviousChild();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void TRzGroupItem::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void TRzGroupItem::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

QSize TRzGroupItem::sizeHint() const { return {140, qMax(22, fontMetrics().height() + 8)}; }

void TRzGroupItem::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const bool enabled = isEnabled();
  if (current_) painter.fillRect(rect().adjusted(2, 1, -2, -1), QColor(0xc4, 0xd6, 0xee));
  if (hasFocus()) {
    // A solid two-pixel frame in a dark blue that stands out against the
    // bar's light body and the mark of the current page alike.
    painter.setPen(QPen(QColor(0x10, 0x3c, 0x78), 2, Qt::SolidLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(2, 1, -2, -1));
  }
  QRect r = rect().adjusted(8, 0, 0, 0);
  if (!icon_.isNull()) {
    icon_.paint(&painter, QRect(r.left(), (height() - 16) / 2, 16, 16), Qt::AlignCenter,
                enabled ? QIcon::Normal : QIcon::Disabled);
    r.setLeft(r.left() + 22);
  }
  QFont font = painter.font();
  font.setUnderline(enabled && hover_);
  font.setBold(current_);
  painter.setFont(font);
  painter.setPen(enabled ? palette().color(QPalette::Link) : palette().color(QPalette::Disabled, QPalette::Text));
  painter.drawText(r, Qt::AlignVCenter | Qt::AlignLeft, changed_ ? caption_ + QStringLiteral(" *") : caption_);
}

void TRzGroupItem::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && isEnabled()) Click();
}

void TRzGroupItem::enterEvent(QEnterEvent*) {
  hover_ = true;
  update();
}

void TRzGroupItem::leaveEvent(QEvent*) {
  hover_ = false;
  update();
}

TRzGroup::TRzGroup(const QString& name, const QString& caption, QWidget* parent)
    : QWidget(parent), caption_(caption) {
  setObjectName(name);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 4);
  layout->setSpacing(0);
  auto* header = new QLabel(caption, this);
  header->setObjectName(name + "Caption");
  QFont bold = header->font();
  bold.setBold(true);
  header->setFont(bold);
  header->setAutoFillBackground(true);
  header->setContentsMargins(4, 3, 2, 3);
  QPalette p = header->palette();
  p.setColor(QPalette::Window, QColor(0x3a, 0x6e, 0xa5));
  p.setColor(QPalette::WindowText, Qt::white);
  header->setPalette(p);
  layout->addWidget(header);
  auto* body = new QWidget(this);
  body->setAutoFillBackground(true);
  QPalette bp = body->palette();
  bp.setColor(QPalette::Window, QColor(0xe8, 0xef, 0xf7));
  body->setPalette(bp);
  items_ = new QVBoxLayout(body);
  items_->setContentsMargins(0, 2, 0, 2);
  items_->setSpacing(0);
  layout->addWidget(body);
}

TRzGroupItem* TRzGroup::AddItem(const QString& caption, const QIcon& icon, std::function<void()> action) {
  auto* item = new TRzGroupItem(caption, icon, this);
  item->OnClick = std::move(action);
  items_->addWidget(item);
  return item;
}

TRzGroupItem* TRzGroup::Item(const QString& caption) const {
  return findChild<TRzGroupItem*>(caption);
}

TRzGroupBar::TRzGroupBar(QWidget* parent) : QWidget(parent) {
  setObjectName("RzGroupBar1");
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, QColor(0x8c, 0xaa, 0xd2));
  setPalette(p);
  layout_ = new QVBoxLayout(this);
  layout_->setContentsMargins(4, 6, 4, 6);
  layout_->setSpacing(8);
  layout_->addStretch(1);
}

TRzGroup* TRzGroupBar::AddGroup(const QString& name, const QString& caption) {
  auto* group = new TRzGroup(name, caption, this);
  layout_->insertWidget(layout_->count() - 1, group);
  return group;
}
