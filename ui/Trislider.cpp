#include "ui/Trislider.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>
#include <string>

namespace {

int Saturate(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

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
// Thumbs, track and page stand apart by at least 3:1 in contrast: a dark
// thumb on a mid-gray track on the light page.
const QColor kTrack(128, 128, 128);
const QColor kThumb(10, 40, 80);
const QColor kChosen(255, 210, 0);  // the outline of the thumb the keys move

}  // namespace

int BankersRound(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
  const double floor = std::floor(value);
  const double fraction = value - floor;
  double result = floor;
  if (fraction > 0.5) {
    result = floor + 1;
  } else if (fraction == 0.5) {
    result = std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
  }
  return Saturate(static_cast<std::int64_t>(result));
}

// ---- TTrisliderGeometry ----

double TTrisliderGeometry::Scale() const {
  return (Width - 2.0 * Margin) / (static_cast<double>(Max) - static_cast<double>(Min));
}

bool TTrisliderGeometry::Valid() const {
  const double scale = Scale();
  return std::isfinite(scale) && scale != 0;
}

int TTrisliderGeometry::X(int p) const {
  return Saturate(std::int64_t{BankersRound(p * Scale())} + Margin);
}

int TTrisliderGeometry::Gap() const { return BankersRound(ThumbWidth / Scale()); }

TEdgeRect TTrisliderGeometry::TrackRect() const {
  return {Margin, Mid() - Half(), Width - Margin, Mid() + Half()};
}

TEdgeRect TTrisliderGeometry::LevelBarRect(int level) const {
  return {Margin + 1, Mid() - Half() + 1, Saturate(std::int64_t{X(level)} + 1), Mid() + Half()};
}

std::int64_t TTrisliderGeometry::TickCount(unsigned interval) const {
  if (interval == 0) return 0;
  const std::int64_t n = (std::int64_t{Max} - Min) / std::int64_t{interval};
  return n < 0 ? 0 : n + 1;
}

TTrisliderTick TTrisliderGeometry::Tick(unsigned interval, std::int64_t k) const {
  TTrisliderTick tick;
  tick.Long = k % 5 == 0;
  tick.Column = Saturate(std::int64_t{BankersRound(interval * Scale() * static_cast<double>(k))} + Margin);
  tick.Top = Height - Margin + 1;
  tick.Bottom = Height - Margin + (tick.Long ? 8 : 4);
  return tick;
}

std::array<QPoint, 5> TTrisliderGeometry::ThumbPolygon(int p) const {
  const int x = X(p);
  const int hw = HalfThumb();
  const int bottom = Height - Margin;
  return {QPoint(x, bottom), QPoint(Saturate(std::int64_t{x} - hw), bottom - 5), QPoint(Saturate(std::int64_t{x} - hw), Margin),
          QPoint(Saturate(std::int64_t{x} + hw), Margin), QPoint(Saturate(std::int64_t{x} + hw), bottom - 5)};
}

int TTrisliderGeometry::LabelLeft(int p, int textWidth) const {
  return Saturate(std::int64_t{BankersRound(p * Scale() - textWidth / 2.0)} + Margin);
}

TEdgeRect TTrisliderGeometry::LabelRect(int p, int textWidth, int textHeight) const {
  const int x0 = LabelLeft(p, textWidth);
  return {x0 - 3, Margin - textHeight - 4, x0 + textWidth + 3, Margin - 2};
}

QPoint TTrisliderGeometry::LabelTextOrigin(int p, int textWidth, int textHeight) const {
  return {LabelLeft(p, textWidth), Margin - textHeight - 3};
}

// ---- TTrislider ----

TTrislider::TTrislider(QWidget* parent) : TPanel(parent), positions_(1, 0) {
  timer_ = new QTimer(this);
  timer_->setInterval(100);
  connect(timer_, &QTimer::timeout, this, &TTrislider::TimerTick);
  timer_->start();
  // Moves without a pressed button count too: they keep LastX current and
  // owners refresh their value panes from them.
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
}

TTrislider::~TTrislider() { timer_->stop(); }

int TTrislider::GetCount() const {
  std::lock_guard lock(positionsMutex_);
  return static_cast<int>(positions_.size());
}

void TTrislider::SetCount(int count) {
  if (count <= 0) return;
  {
    std::lock_guard lock(positionsMutex_);
    positions_.resize(static_cast<std::size_t>(count), 0);
    // A selected thumb that no longer exists gives way to the last one.
    if (selected_ >= count) {
      selected_ = count - 1;
      dragging_ = false;
    }
  }
  RenderFrame(false);
}

void TTrislider::SetPosition(int index, int value) {
  {
  std::lock_guard lock(positionsMutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= positions_.size()) {
    throw std::out_of_range("TTrislider: no thumb " + std::to_string(index));
  }
  positions_[static_cast<std::size_t>(index)] = value;
  }
  RenderFrame(false);
  emit PositionSet(index, value);
}

void TTrislider::SetLevel(int level) {
  Level = level;
  RenderFrame(false);
}

void TTrislider::MoveThumb(int index, int value) {
  int placed = 0;
  {
    std::lock_guard lock(positionsMutex_);
    if (index < 0 || static_cast<std::size_t>(index) >= positions_.size()) return;
    Place(static_cast<std::size_t>(index), value);
    placed = positions_[static_cast<std::size_t>(index)];
  }
  RenderFrame(false);
  Say();
  emit ThumbMoved(index, placed);
}

int TTrislider::GetPosition(int index) const {
  std::lock_guard lock(positionsMutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= positions_.size()) {
    throw std::out_of_range("TTrislider: no thumb " + std::to_string(index));
  }
  return positions_[static_cast<std::size_t>(index)];
}

void TTrislider::SetIncrement(unsigned increment) {
  if (increment > 0) increment_ = increment;
}

TTrisliderGeometry TTrislider::Geometry() const {
  TTrisliderGeometry g;
  g.Width = buffer_.width();
  g.Height = buffer_.height();
  g.Margin = margin_;
  g.TrackWidth = trackWidth_;
  g.ThumbWidth = thumbWidth_;
  g.Min = Min;
  g.Max = Max;
  return g;
}

// ---- Moving one thumb ----

void TTrislider::Snap(std::size_t i) {
  if (increment_ == 1) return;
  const int steps = BankersRound(static_cast<double>(positions_[i]) / increment_);
  positions_[i] = Saturate(std::int64_t{steps} * increment_);
}

void TTrislider::Place(std::size_t i, int value) {
  // The moved thumb stays on the scale and between its neighbours (it may
  // meet them, never pass them); the other thumbs keep their values.
  positions_[i] = value;
  Snap(i);
  int low = Min;
  int high = Max;
  if (i > 0) low = std::max(low, positions_[i - 1]);
  if (i + 1 < positions_.size()) high = std::min(high, positions_[i + 1]);
  if (low <= high) positions_[i] = std::clamp(positions_[i], low, high);
}

void TTrislider::ShowLabel() {
  tickCount_ = 0;
  if (!timer_->isActive()) timer_->start();
}

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
  if (buffer_.height() < buffer_.width() && margin_ >= buffer_.height() / 2.0) {
    margin_ = BankersRound(buffer_.height() / 2.0);
  }
  const QSize size(width() - 2, height() - 2);
  if (buffer_.size() != size) buffer_ = QImage(size, QImage::Format_RGB32);

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
  const QColor highlight = palette().color(QPalette::Highlight);
  const QColor infoBackground = palette().color(QPalette::ToolTipBase);
  const int w = g.Width;
  const int h = g.Height;
  const int m = g.Margin;
  const int top = g.Mid() - g.Half();
  const int bottom = g.Mid() + g.Half();

  QPainter painter(&buffer_);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setFont(font());
  const QFontMetrics metrics = painter.fontMetrics();

  Rectangle(painter, {0, 0, w, h}, face, face);
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

  Rectangle(painter, g.LevelBarRect(Level), highlight, highlight);

  const QString level = QString::number(Level);
  painter.setPen(kBlack);
  painter.drawText(QPoint((w - metrics.horizontalAdvance(level)) / 2, (h - metrics.height()) / 2 + 1 + metrics.ascent()),
                   level);

  // Thumbs far off the buffer are drawn just outside it: they look the same
  // and stay clear of the rasteriser's coordinate limits.
  const auto drawThumb = [&](int p, const QColor& outline) {
    const int shift = std::clamp(g.X(p), -g.ThumbWidth - 2, w + g.ThumbWidth + 2) - g.X(p);
    std::array<QPoint, 5> pt = g.ThumbPolygon(p);
    for (QPoint& point : pt) point.rx() += shift;
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
    drawThumb(positions[i], outline);
    outline = kGray;
  }
  if (selected >= positions.size()) return;
  drawThumb(positions[selected], outline);
  if (hasFocus()) {
    // The thumb the keys move, and the slider's own focus frame.
    std::array<QPoint, 5> pt = g.ThumbPolygon(positions[selected]);
    painter.setPen(QPen(kChosen, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolygon(pt.data(), static_cast<int>(pt.size()));
    painter.setPen(QPen(QColor(16, 60, 120), 2));
    painter.drawRect(QRectF(1, 1, w - 2, h - 2));
  }

  if (!LabelVisible()) return;
  const QString text = QString::number(positions[selected]);
  const int textWidth = metrics.horizontalAdvance(text);
  const int textHeight = metrics.height();
  TEdgeRect r = g.LabelRect(positions[selected], textWidth, textHeight);
  QPoint origin = g.LabelTextOrigin(positions[selected], textWidth, textHeight);
  const int shift = std::clamp(origin.x(), -textWidth - 8, w + 8) - origin.x();
  r.Left += shift;
  r.Right += shift;
  origin.rx() += shift;
  Rectangle(painter, r, kBlack, infoBackground);
  painter.setPen(kBlack);
  painter.drawText(QPoint(origin.x(), origin.y() + metrics.ascent()), text);
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

// ---- Mouse ----

void TTrislider::MouseDown(int x, int y) {
  dragging_ = false;
  // Control coordinates are compared with buffer columns as they are: the
  // one-pixel offset of the copy is not corrected.
  const double halfThumb = thumbWidth_ / 2.0;
  if (x < margin_ - halfThumb || x > (width() - margin_) + halfThumb) return;
  if (y < margin_ || y > height() - margin_) return;

  const double scale = Geometry().Scale();
  std::lock_guard lock(positionsMutex_);
  if (positions_.empty()) return;
  const auto distance = [&](std::size_t i) {
    return std::llabs(std::int64_t{BankersRound(positions_[i] * scale + margin_ - x)});
  };
  std::size_t nearest = 0;
  std::int64_t best = distance(0);
  for (std::size_t i = 1; i < positions_.size(); ++i) {
    const std::int64_t d = distance(i);
    if (d < best) {
      best = d;
      nearest = i;
    }
  }
  selected_ = static_cast<int>(nearest);
  // Close enough to the thumb's centre: grab it. Otherwise it is only selected.
  if (std::fabs(x - (positions_[nearest] * scale + margin_)) <= halfThumb + 2) {
    dragging_ = true;
    dragFresh_ = true;
    ShowLabel();
  }
}

void TTrislider::MouseMove(int x, int /*y*/) {
  const TTrisliderGeometry g = Geometry();
  bool moved = false;
  int movedIndex = 0;
  int movedTo = 0;
  {
    std::lock_guard lock(positionsMutex_);
    if (dragging_ && !positions_.empty() && static_cast<std::size_t>(selected_) < positions_.size() && g.Valid()) {
      ShowLabel();
      const int value = BankersRound((x - g.Margin) / g.Scale());
      // Thumbs drawn over each other look like one: the first step of a drag
      // hands it to the one that can go that way, the last of them to the
      // right, the first to the left.
      std::size_t i = static_cast<std::size_t>(selected_);
      if (dragFresh_) {
        const auto overlap = [&](std::size_t a, std::size_t b) {
          return std::llabs(std::int64_t{g.X(positions_[b])} - g.X(positions_[a])) < g.ThumbWidth;
        };
        while (i + 1 < positions_.size() && value > positions_[i + 1] && overlap(i, i + 1)) ++i;
        while (i > 0 && value < positions_[i - 1] && overlap(i, i - 1)) --i;
        selected_ = static_cast<int>(i);
      }
      const int before = positions_[i];
      Place(i, value);
      moved = positions_[i] != before;
      if (moved) {
        dragFresh_ = false;
        movedIndex = static_cast<int>(i);
        movedTo = positions_[i];
      }
    }
  }
  lastX_ = x;
  if (!moved) return;
  RenderFrame(false);
  emit ThumbMoved(movedIndex, movedTo);
}

void TTrislider::MouseUp() { dragging_ = false; }

void TTrislider::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  MouseDown(pos.x(), pos.y());
  event->accept();
}

void TTrislider::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  MouseMove(pos.x(), pos.y());
  event->accept();
  emit MouseMoved(pos.x(), pos.y());
}

// ---- Keyboard ----

void TTrislider::SelectThumb(int index) {
  if (index < 0 || index >= GetCount()) return;
  selected_ = index;
  dragging_ = false;
  ShowLabel();  // the value label shows the chosen thumb
  RenderFrame(false);
  Announce();
}

void TTrislider::MoveSelected(int value) {
  int index = 0;
  int placed = 0;
  {
    std::lock_guard lock(positionsMutex_);
    if (positions_.empty() || static_cast<std::size_t>(selected_) >= positions_.size()) return;
    index = selected_;
    Place(static_cast<std::size_t>(index), value);
    placed = positions_[static_cast<std::size_t>(index)];
  }
  ShowLabel();
  RenderFrame(false);
  Announce();
  emit ThumbMoved(index, placed);
}

QString TTrislider::SelectedText() const {
  const int index = selected_;
  const QString name = index < ThumbNames.size() ? ThumbNames[index] : QString::number(index + 1);
  return name + QStringLiteral(": ") + QString::number(GetPosition(index));
}

void TTrislider::Announce() {
  emit KeyMoved();
  Say();
}

void TTrislider::Say() {
  update();
  QAccessibleEvent event(this, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&event);
}

void TTrislider::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key >= Qt::Key_1 && key <= Qt::Key_9 && key - Qt::Key_1 < GetCount()) {
    SelectThumb(key - Qt::Key_1);
    return;
  }
  const int now = GetPosition(selected_);
  switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Down:
      MoveSelected(now - 1);
      return;
    case Qt::Key_Right:
    case Qt::Key_Up:
      MoveSelected(now + 1);
      return;
    case Qt::Key_PageDown:
      MoveSelected(now - PageStep);
      return;
    case Qt::Key_PageUp:
      MoveSelected(now + PageStep);
      return;
    case Qt::Key_Home:
      MoveSelected(Min);
      return;
    case Qt::Key_End:
      MoveSelected(Max);
      return;
    default:
      TPanel::keyPressEvent(event);
  }
}

bool TTrislider::focusNextPrevChild(bool next) {
  // Tab walks the thumbs first; past the last (or the first) it leaves.
  if (hasFocus()) {
    const int to = selected_ + (next ? 1 : -1);
    if (to >= 0 && to < GetCount()) {
      SelectThumb(to);
      return true;
    }
  }
  return TPanel::focusNextPrevChild(next);
}

void TTrislider::focusInEvent(QFocusEvent* event) {
  TPanel::focusInEvent(event);
  // Tab comes in at the first thumb, Shift+Tab at the last.
  if (event->reason() == Qt::TabFocusReason) selected_ = 0;
  if (event->reason() == Qt::BacktabFocusReason) selected_ = GetCount() - 1;
  ShowLabel();
  RenderFrame(false);
  Say();
}

void TTrislider::focusOutEvent(QFocusEvent* event) {
  TPanel::focusOutEvent(event);
  RenderFrame(false);
}

void TTrislider::mouseReleaseEvent(QMouseEvent* event) {
  MouseUp();
  event->accept();
}
