// The multi-thumb slider's arithmetic: rounding, and where each part of the
// picture lies for one buffer size. Plain values, no widget: any thread.
#pragma once

#include <QPoint>

#include <array>
#include <cstdint>
#include <vector>

// Round to the nearest integer, halves to the even neighbour (2.5 -> 2,
// 3.5 -> 4, -2.5 -> -2). Values beyond the int range saturate; NaN gives 0.
int BankersRound(double value);

// A rectangle as the slider draws it: left and top inclusive, right and
// bottom exclusive.
struct TEdgeRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  bool operator==(const TEdgeRect&) const = default;
};

// One tick mark: a vertical line in column Column over rows Top..Bottom - 1.
struct TTrisliderTick {
  int Column = 0;
  int Top = 0;
  int Bottom = 0;
  bool Long = false;
};

// The slider's geometry for one buffer size, in buffer coordinates.
struct TTrisliderGeometry {
  int Width = 0;  // of the buffer
  int Height = 0;  // of the thumbs' part of the buffer: the buffer less Band
  // Rows under the scale kept for the reading's marker and label (0: the
  // reading is a bar in the track with its number in the middle).
  int Band = 0;
  int Margin = 20;
  int TrackWidth = 20;
  int ThumbWidth = 10;
  int Min = 0;
  int Max = 255;

  // Pixels per scale unit.
  double Scale() const;
  // False when the scale is zero, infinite or undefined (Max = Min, or a
  // buffer no wider than both margins): nothing can be placed then.
  bool Valid() const;
  // Buffer column of position p. Min is not subtracted: the scale is placed
  // as if it started at 0.
  int X(int p) const;
  // Minimum distance between neighbouring positions, in scale units.
  int Gap() const;
  int Mid() const { return Height / 2; }
  int Half() const { return TrackWidth / 2; }
  int HalfThumb() const { return ThumbWidth / 2; }

  TEdgeRect TrackRect() const;
  TEdgeRect LevelBarRect(int level) const;
  // Tick marks for k = 0 .. (Max - Min) div interval; none for interval 0.
  std::int64_t TickCount(unsigned interval) const;
  TTrisliderTick Tick(unsigned interval, std::int64_t k) const;
  // The pentagon of a thumb: P0 the tip pointing down at the scale, then
  // P1..P4 clockwise from its lower left corner.
  std::array<QPoint, 5> ThumbPolygon(int p) const;
  // The same pentagon for a thumb drawn with its tip in column x.
  std::array<QPoint, 5> ThumbPolygonAt(int x) const;
  // The value label of a thumb at p whose text is textWidth x textHeight.
  TEdgeRect LabelRect(int p, int textWidth, int textHeight) const;
  QPoint LabelTextOrigin(int p, int textWidth, int textHeight) const;

  // Columns at which the thumbs are drawn. A thumb stands over its value;
  // thumbs closer than a thumb's width (equal values too) are set side by
  // side, a thumb's width apart, around the middle of their values, and kept
  // inside the buffer, so that each can be seen and taken.
  std::vector<int> ThumbColumns(const std::vector<int>& positions) const;
  // The reading's marker under the scale: a triangle pointing up at the
  // reading's column, and the label box under it (inside the buffer's width).
  std::array<QPoint, 3> ReadingMarker(int level) const;
  TEdgeRect ReadingLabelRect(int level, int textWidth, int textHeight) const;

 private:
  int LabelLeft(int p, int textWidth) const;
};

