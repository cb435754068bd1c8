#include "ui/StatusPane.h"

#include <QPainter>

TRzStatusPane::TRzStatusPane(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setMinimumHeight(fontMetrics().height() + 4);
}

void TRzStatusPane::SetCaption(const QString& caption) {
  caption_ = caption;
  setToolTip(caption);
  updateGeometry();
  update();
}

QSize TRzStatusPane::sizeHint() const {
  // Wide enough for the whole text, as far as the bar allows; what still
  // does not fit is elided in the middle (the tooltip has it all).
  return {fontMetrics().horizontalAdvance(caption_) + 12, fontMetrics().height() + 4};
}

void TRzStatusPane::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  const QRect area = contentsRect().adjusted(3, 0, -2, 0);
  const QString text = painter.fontMetrics().elidedText(caption_, Qt::ElideMiddle, area.width());
  painter.drawText(area, Qt::AlignVCenter | Qt::AlignLeft, text);
}
