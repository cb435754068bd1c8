#include "ui/StatusPane.h"

#include <QPainter>

TRzStatusPane::TRzStatusPane(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setMinimumHeight(fontMetrics().height() + 4);
}

void TRzStatusPane::SetCaption(const QString& caption) {
  caption_ = caption;
  setToolTip(caption);
  update();
}

void TRzStatusPane::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  const QRect area = contentsRect().adjusted(3, 0, -2, 0);
  const QString text = painter.fontMetrics().elidedText(caption_, Qt::ElideRight, area.width());
  painter.drawText(area, Qt::AlignVCenter | Qt::AlignLeft, text);
}
