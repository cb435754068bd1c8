// The slider's picture: the fields put in order, the frame drawn into the
// buffer, and the buffer copied onto the control. GUI thread only.
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTimer>

#include <algorithm>

#include "ui/Trislider.h"

namespace {

// A line that leaves out its end point, as the classic LineTo does. Only
// horizontal and vertical lines are shortened; a slanted line keeps its end
// point, which the slider only draws where the next segment starts anyway.
void LineTo(QPainter& painter, QPoint from, QPoint to) {
  if (from == to) return;
  QPoint end = to;
  if (from.x() == to.x()) {
    end.ry() += to.y() > from.y() ? -1 : 1;
  } else if (from.y() == to.y()) {
    end.rx() += to.x() > from.x() ? -1 : 1;
  }
  painter.drawLine(from, end);
}

// A rectangle outlined with the pen and filled with the brush, covering
// Left..Right - 1 and Top..Bottom - 1 like the classic Rectangle call.
void Rectangle(QPainter& painter, const TEdgeRect& r, const QColor& pen, const QColor& brush) {
  if (r.Right <= r.Left || r.Bottom <= r.Top) return;
  painter.setPen(pen);
  painter.setBrush(brush);
  painter.drawRect(QRect(r.Left, r.Top, r.Right - r.Left - 1, r.Bottom - r.Top - 1));
}

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kGray(128, 128, 128);
// Near-black thumbs on a mid-gray track on the light page: thumbs stand
// apart from track and page by more than 4.5:1, the track from the page by
// more than 3:1.
const QColor kTrack(128, 128, 128);
const QColor kThumb(0, 12, 36);
const QColor kChosen(200, 80, 0);  // the outline of the thumb the keys move
const QColor kReading(150, 0, 0);  // the reading's marker and label frame

}  // namespace

// ---- Timer and rendering ----

void TTrislider::TimerTick() {
  if (tickCount_ < labelTicks_) ++tickCount_;
  RenderFrame(false);
  // Once the value label has gone nothing changes by itself: the timer rests
  // until the next move, and an idle slider costs nothing.
  if (!LabelVisible()) timer_->stop();
}

void TTrislider::RenderFrame(bool drawHidden) {
  if (painting_) return;
  try {
    Render(drawHidden);
  } catch (...) {
    // A frame that cannot be drawn is skipped; the next tick tries again.
  }
}

void TTrislider::Render(bool drawHidden) {
  // Cleared on every way out, so one failed frame does not stop the next ones.
  struct TPaintingGuard {
    bool& flag;
    explicit TPaintingGuard(bool& f) : flag(f) { flag = true; }
    ~TPaintingGuard() { flag = false; }
  } guard(painting_);

  if (Max < Min) std::swap(Min, Max);
  if (height() < 10) resize(width(), 10);
  if (width() < 10) resize(10, height());
  // A flat control gets margins that leave room for the track.
  // The thumbs' rows of the last paint: its buffer less the band it had.
  const int thumbsHeight = buffer_.height() - bufferBand_;
  if (thumbsHeight < buffer_.width() && margin_ >= thumbsHeight / 2.0) {
    margin_ = BankersRound(thumbsHeight / 2.0);
  }
  const QSize size(width() - 2, height() - 2);
  if (buffer_.size() != size) buffer_ = QImage(size, QImage::Format_RGB32);
  bufferBand_ = band_;

  const TTrisliderGeometry g = Geometry();
  if (!g.Valid()) {
    DrawFailed();
    return;
  }
  if (Level > Max) Level = Max;
  if (Level < Min) Level = Min;

  // The thumbs are drawn where their values are, overlapping where they are
  // closer than a thumb's width: a value is never moved to make room.
  std::vector<int> snapshot;
  {
    std::lock_guard lock(positionsMutex_);
    snapshot = positions_;
  }
  // Nobody sees a hidden control: drawing it would only cost CPU. It
  // catches up when shown.
  if (!drawHidden && !isVisible()) {
    stale_ = true;
    return;
  }
  stale_ = false;
  Draw(g, snapshot);
  update();
}

void TTrislider::DrawFailed() {
  // Max = Min leaves no scale to draw on: show a plain face until it is fixed.
  buffer_.fill(palette().color(QPalette::Button));
  update();
}

void TTrislider::Draw(const TTrisliderGeometry& g, const std::vector<int>& positions) {
  const QColor face = palette().color(QPalette::Button);
  const int w = g.Width;
  const int m = g.Margin;
  const int top = g.Mid() - g.Half();
  const int bottom = g.Mid() + g.Half();

  QPainter painter(&buffer_);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setFont(font());
  const QFontMetrics metrics = painter.fontMetrics();

  Rectangle(painter, {0, 0, w, buffer_.height()}, face, face);
  Rectangle(painter, g.TrackRect(), kTrack, kTrack);

  // Sunken edge: shadow on the left and top, light on the right and bottom.
  painter.setPen(kGray);
  LineTo(painter, {m, bottom}, {m, top});
  LineTo(painter, {m, top}, {w - m, top});
  painter.setPen(kWhite);
  LineTo(painter, {w - m, top}, {w - m, bottom});
  LineTo(painter, {w - m, bottom}, {m, bottom});

  painter.setPen(kBlack);
  const std::int64_t ticks = g.TickCount(TickInterval);
  for (std::int64_t k = 0; k < ticks; ++k) {
    const TTrisliderTick tick = g.Tick(TickInterval, k);
    LineTo(painter, {tick.Column, tick.Top}, {tick.Column, tick.Bottom});
  }

  if (g.Band > 0) {
    DrawReading(painter, g);
  } else {
    Rectangle(painter, g.LevelBarRect(Level), palette().color(QPalette::Highlight),
              palette().color(QPalette::Highlight));
    const QString level = QString::number(Level);
    painter.setPen(kBlack);
    painter.drawText(
        QPoint((w - metrics.horizontalAdvance(level)) / 2, (g.Height - metrics.height()) / 2 + 1 + metrics.ascent()),
        level);
  }

  const std::vector<int> columns = g.ThumbColumns(positions);
  // Thumbs far off the buffer are drawn just outside it: they look the same
  // and stay clear of the rasteriser's coordinate limits.
  const auto column = [&](std::size_t i) { return std::clamp(columns[i], -g.ThumbWidth - 2, w + g.ThumbWidth + 2); };
  const auto drawThumb = [&](std::size_t i, const QColor& outline) {
    const std::array<QPoint, 5> pt = g.ThumbPolygonAt(column(i));
    // A thumb set aside from its value points at it with a short leader.
    const int x = g.X(positions[i]);
    if (x != columns[i] && x >= 0 && x < w) {
      painter.setPen(QPen(kThumb, 1));
      painter.drawLine(pt[0], QPoint(x, pt[0].y() + 5));
    }
    painter.setPen(outline);
    painter.setBrush(kThumb);
    painter.drawPolygon(pt.data(), static_cast<int>(pt.size()));
    painter.setPen(kWhite);
    painter.drawLine(pt[0], pt[1]);
    LineTo(painter, pt[1], pt[2]);
    LineTo(painter, pt[2], pt[3]);
    painter.setPen(kGray);
    LineTo(painter, pt[3], pt[4]);
  };
  // The first thumb drawn keeps the black pen; the gray edge of each thumb
  // becomes the outline of the next one.
  const std::size_t selected = static_cast<std::size_t>(selected_);
  QColor outline = kBlack;
  for (std::size_t i = 0; i < positions.size(); ++i) {
    if (i == selected) continue;
    drawThumb(i, outline);
    outline = kGray;
  }
  if (selected >= positions.size()) return;
  drawThumb(selected, outline);
  if (hasFocus()) {
    // The thumb the keys move, and the slider's own focus frame.
    std::array<QPoint, 5> pt = g.ThumbPolygonAt(column(selected));
    painter.setPen(QPen(kChosen, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolygon(pt.data(), static_cast<int>(pt.size()));
    painter.setPen(QPen(QColor(16, 60, 120), 2));
    painter.drawRect(QRectF(1, 1, w - 2, buffer_.height() - 2));
  }

  if (!LabelVisible()) return;
  // The value label stands over the thumb as it is drawn.
  const int shown = positions[selected];
  const QString text = QString::number(shown);
  const int textWidth = metrics.horizontalAdvance(text);
  const int textHeight = metrics.height();
  TEdgeRect r = g.LabelRect(shown, textWidth, textHeight);
  QPoint origin = g.LabelTextOrigin(shown, textWidth, textHeight);
  // Over the thumb as drawn, and inside the buffer.
  const std::int64_t wanted = std::int64_t{origin.x()} + columns[selected] - g.X(shown);
  const int left = static_cast<int>(std::clamp<std::int64_t>(wanted, 3, std::max(3, w - textWidth - 3)));
  r.Left = left - 3;
  r.Right = left + textWidth + 3;
  origin.setX(left);
  Rectangle(painter, r, kBlack, palette().color(QPalette::ToolTipBase));
  painter.setPen(palette().color(QPalette::ToolTipText));
  painter.drawText(QPoint(origin.x(), origin.y() + metrics.ascent()), text);
}

void TTrislider::DrawReading(QPainter& painter, const TTrisliderGeometry& g) {
  // Under the scale, where no thumb reaches: a triangle pointing up at the
  // reading and its number in a box of its own.
  const std::array<QPoint, 3> marker = g.ReadingMarker(Level);
  painter.setPen(kReading);
  painter.setBrush(kReading);
  painter.drawPolygon(marker.data(), static_cast<int>(marker.size()));
  const QFontMetrics metrics = painter.fontMetrics();
  const QString text = QString::number(Level);
  const TEdgeRect r = g.ReadingLabelRect(Level, metrics.horizontalAdvance(text), metrics.height());
  Rectangle(painter, r, kReading, kWhite);
  painter.setPen(kBlack);
  painter.drawText(QPoint(r.Left + 3, r.Top + 1 + metrics.ascent()), text);
}

void TTrislider::resizeEvent(QResizeEvent* event) {
  TPanel::resizeEvent(event);
  stale_ = true;
  RenderFrame(false);
}

void TTrislider::showEvent(QShowEvent* event) {
  TPanel::showEvent(event);
  if (stale_) RenderFrame(false);
}

void TTrislider::paintEvent(QPaintEvent* event) {
  TPanel::paintEvent(event);
  // Painted while hidden (a grab of a hidden page): bring the picture up to date.
  if (stale_) RenderFrame(true);
  if (buffer_.isNull()) return;
  QPainter painter(this);
  painter.drawImage(1, 1, buffer_);
}

