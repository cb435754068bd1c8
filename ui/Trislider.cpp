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

}  // namespace

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

void TTrislider::SetReadingBand(int pixels) {
  band_ = std::max(0, pixels);
  stale_ = true;
  RenderFrame(false);
}

void TTrislider::SetIncrement(unsigned increment) {
  if (increment > 0) increment_ = increment;
}

TTrisliderGeometry TTrislider::Geometry() const {
  TTrisliderGeometry g;
  g.Width = buffer_.width();
  g.Height = std::max(0, buffer_.height() - band_);
  g.Band = band_;
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

// ---- Mouse ----

void TTrislider::MouseDown(int x, int y) {
  dragging_ = false;
  // Control coordinates are compared with buffer columns as they are: the
  // one-pixel offset of the copy is not corrected.
  const double halfThumb = thumbWidth_ / 2.0;
  if (x < margin_ - halfThumb || x > (width() - margin_) + halfThumb) return;
  if (y < margin_ || y > height() - band_ - margin_) return;

  const TTrisliderGeometry g = Geometry();
  std::lock_guard lock(positionsMutex_);
  if (positions_.empty()) return;
  // The thumbs are taken where they are drawn, so each of several equal
  // ones can be taken.
  const std::vector<int> columns = g.ThumbColumns(positions_);
  const auto distance = [&](std::size_t i) { return std::llabs(std::int64_t{columns[i]} - x); };
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
  if (best <= halfThumb + 2) {
    dragging_ = true;
    // A thumb drawn beside its value moves from its value, not from where it is drawn.
    grabShift_ = x - g.X(positions_[nearest]);
    if (columns[nearest] == g.X(positions_[nearest])) grabShift_ = 0;
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
      const int value = BankersRound((std::int64_t{x} - grabShift_ - g.Margin) / g.Scale());
      const std::size_t i = static_cast<std::size_t>(selected_);
      const int before = positions_[i];
      Place(i, value);
      moved = positions_[i] != before;
      movedIndex = static_cast<int>(i);
      movedTo = positions_[i];
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
