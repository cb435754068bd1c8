#include "ui/Panel.h"

#include <QPainter>
#include <QPaintEvent>

TPanel::TPanel(QWidget* parent) : QFrame(parent) {
  // A fresh panel has the classic size and a raised bevel on a button-face surface.
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);
  SetBevel(TBevel::Raised);
  resize(185, 41);
}

void TPanel::SetCaption(const QString& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  update();
}

void TPanel::SetBevel(TBevel bevel) {
  bevel_ = bevel;
  switch (bevel) {
    case TBevel::None:
      setFrameStyle(QFrame::NoFrame);
      break;
    case TBevel::Raised:
      setFrameStyle(QFrame::Panel | QFrame::Raised);
      break;
    case TBevel::Lowered:
      setFrameStyle(QFrame::Panel | QFrame::Sunken);
      break;
  }
  setLineWidth(1);
  update();
}

void TPanel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  if (caption_.isEmpty()) return;
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::ButtonText));
  painter.drawText(contentsRect(), Qt::AlignCenter, caption_);
}
