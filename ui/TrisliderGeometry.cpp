#include "ui/TrisliderGeometry.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

int Saturate(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

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

std::array<QPoint, 5> TTrisliderGeometry::ThumbPolygon(int p) const { return ThumbPolygonAt(X(p)); }

std::array<QPoint, 5> TTrisliderGeometry::ThumbPolygonAt(int x) const {
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

std::vector<int> TTrisliderGeometry::ThumbColumns(const std::vector<int>& positions) const {
  // Runs of thumbs that would overlap are pooled: a run stands a thumb's
  // width apart around the mean of its columns, and a run that then meets
  // the one before it joins it.
  struct TRun {
    double Sum = 0;  // of the columns of its thumbs
    std::size_t Count = 0;
  };
  const double step = ThumbWidth;
  const auto left = [step](const TRun& run) { return run.Sum / run.Count - (run.Count - 1) * step / 2.0; };
  const auto right = [&](const TRun& run) { return left(run) + (run.Count - 1) * step; };
  std::vector<TRun> runs;
  for (int p : positions) {
    runs.push_back({static_cast<double>(X(p)), 1});
    while (runs.size() > 1 && left(runs.back()) < right(runs[runs.size() - 2]) + step) {
      const TRun last = runs.back();
      runs.pop_back();
      runs.back().Sum += last.Sum;
      runs.back().Count += last.Count;
    }
  }
  std::vector<std::int64_t> columns;
  columns.reserve(positions.size());
  for (const TRun& run : runs) {
    const double first = left(run);
    for (std::size_t k = 0; k < run.Count; ++k) columns.push_back(BankersRound(first + k * step));
  }
  // Thumbs on the scale stay between its ends, as far as they fit: first
  // from the left end, then from the right, which wins when they do not. A
  // thumb off the scale is drawn where its value is.
  const std::int64_t low = X(Min);
  const std::int64_t high = X(Max);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    std::int64_t floor = i == 0 ? columns[i] : std::max(columns[i], columns[i - 1] + ThumbWidth);
    if (positions[i] >= Min) floor = std::max(floor, low);
    columns[i] = floor;
  }
  for (std::size_t i = columns.size(); i-- > 0;) {
    std::int64_t ceiling = i + 1 == columns.size() ? columns[i] : std::min(columns[i], columns[i + 1] - ThumbWidth);
    if (positions[i] <= Max) ceiling = std::min(ceiling, high);
    columns[i] = ceiling;
  }
  std::vector<int> result;
  result.reserve(columns.size());
  for (std::int64_t c : columns) result.push_back(Saturate(c));
  return result;
}

std::array<QPoint, 3> TTrisliderGeometry::ReadingMarker(int level) const {
  const int x = X(level);
  const int tip = Height - Margin + 9;
  return {QPoint(x, tip), QPoint(Saturate(std::int64_t{x} - 5), tip + 6), QPoint(Saturate(std::int64_t{x} + 5), tip + 6)};
}

TEdgeRect TTrisliderGeometry::ReadingLabelRect(int level, int textWidth, int textHeight) const {
  const int top = Height - Margin + 15;
  const int width = textWidth + 6;
  const std::int64_t left = std::clamp<std::int64_t>(std::int64_t{X(level)} - width / 2, 0, std::max(0, Width - width));
  return {Saturate(left), top, Saturate(left + width), top + textHeight + 2};
}

