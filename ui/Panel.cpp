#include "ui/Panel.h"

#include <QPainter>
#include <QPaintEvent>
#include <QTextLayout>

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
  UpdateToolTip();
  update();
}

void TPanel::SetWrapCaption(bool wrap) {
  wrap_ = wrap;
  UpdateToolTip();
  update();
}

QStringList TPanel::CaptionLines() const {
  if (!wrap_ || caption_.isEmpty()) return {caption_};
  const QFontMetrics metrics(font());
  const int width = contentsRect().width() - 4;
  const int maxLines = qMax(1, contentsRect().height() / qMax(1, metrics.lineSpacing()));
  QTextLayout layout(caption_, font());
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);  // a long path breaks too
  layout.setTextOption(option);
  layout.beginLayout();
  QStringList lines;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    if (lines.size() == maxLines - 1) {
      // The last line that fits takes the rest, elided in its middle.
      lines << metrics.elidedText(caption_.mid(line.textStart()).trimmed(), Qt::ElideMiddle, width);
      break;
    }
    lines << caption_.mid(line.textStart(), line.textLength()).trimmed();
  }
  layout.endLayout();
  return lines;
}

void TPanel::UpdateToolTip() {
  if (!wrap_) return;
  const QStringList lines = CaptionLines();
  // A caption on more than one line is easier to read whole in a tooltip.
  setToolTip(lines.size() > 1 ? caption_ : QString());
}

void TPanel::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  UpdateToolTip();
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
  painter.drawText(contentsRect(), Qt::AlignCenter, wrap_ ? CaptionLines().join(u'\n') : caption_);
}
