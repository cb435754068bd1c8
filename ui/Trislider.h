// TTrislider: a horizontal scale with several draggable thumbs and a level bar.
//
// Each thumb holds an integer position on the scale Min..Max, exactly as it
// was set: thumbs closer together than a thumb's width (equal ones too) are
// drawn side by side, each with a short leader to its value, and no value is
// ever moved to make room. Only the user's move of one thumb (drag, keys,
// spin box, accessibility) changes that one value, and it stays between its
// neighbours (it may meet them, never pass them). Level, the reading, is a
// marker under the scale with its own label (SetReadingBand), or a bar in
// the track with its number in the middle. Every change renders
// the whole control into Buffer, which the panel's paint copies at (1, 1); a
// 100 ms timer runs only while the value label of a moved or chosen thumb is
// shown, so an idle slider costs nothing.
//
// Threads: everything runs on the GUI thread, except GetCount and GetPosition,
// which any thread may call. Positions are guarded by a mutex for that
// reason, and a move runs under it as a whole, so a reader sees the thumbs
// before or after it.
#pragma once

#include <QImage>
#include <QPoint>
#include <QStringList>

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "ui/Panel.h"
#include "ui/TrisliderGeometry.h"

class QPainter;
class QTimer;

class TTrislider : public TPanel {
  Q_OBJECT

 public:
  explicit TTrislider(QWidget* parent = nullptr);
  ~TTrislider() override;

  // Scale ends, the reading shown as the level bar, and the scale units
  // between two tick marks. Owners set them directly; the next paint swaps
  // Min and Max if they are reversed and limits Level to them. Max must
  // differ from Min and TickInterval must not be 0, or nothing is drawn.
  int Min = 0;
  int Max = 255;
  int Level = 0;
  unsigned TickInterval = 5;
  // The same for Level, redrawn at once (the slider output element).
  void SetLevel(int level);
  // Rows at the bottom kept for the reading: with them the reading is a
  // marker under the scale with its own label, clear of the thumbs; without
  // (0, at start) a bar in the track with its number in the middle. A flat
  // control's margin shrinks to fit the rows left above the band.
  void SetReadingBand(int pixels);
  int ReadingBand() const { return band_; }

  // Number of thumbs. SetCount(n) keeps existing thumbs and adds new ones
  // at 0; n = 0 is ignored. Any thread may read, only the GUI thread sets.
  int GetCount() const;
  void SetCount(int count);

  // Thumb positions; index 0 is the leftmost thumb. SetPosition stores the
  // value exactly as it is (a value from the panel or a file). An index
  // outside 0 .. count - 1 throws std::out_of_range. GetPosition may be
  // called from any thread; Position is the same.
  void SetPosition(int index, int value);
  // The user's move of one thumb: snapped to the increment and kept on the
  // scale and between its neighbours; the others keep their values. An
  // index outside the thumbs is ignored.
  void MoveThumb(int index, int value);
  int GetPosition(int index) const;
  int Position(int index) const { return GetPosition(index); }

  // Positions are snapped to multiples of the increment (1 at start); 0 is ignored.
  unsigned Increment() const { return increment_; }
  void SetIncrement(unsigned increment);

  // Mouse handling in control coordinates, as the mouse events call it.
  // A press near a thumb grabs it; MouseMove drags the grabbed thumb.
  void MouseDown(int x, int y);
  void MouseMove(int x, int y);
  void MouseUp();

  // The keyboard: the slider takes the focus; Tab and Shift+Tab choose the
  // next or previous thumb (leaving the slider past the last or first), the
  // keys 1..9 choose a thumb by number, the arrow keys move the chosen one
  // by one step and Page Up/Down by PageStep, as far as its neighbours. Names of the thumbs, for the accessible name ("КЗ" ...).
  int PageStep = 20;
  QStringList ThumbNames;
  void SelectThumb(int index);
  // Moves the selected thumb to value as a drag would (MoveThumb).
  void MoveSelected(int value);
  // "<thumb name>: <value>" of the selected thumb.
  QString SelectedText() const;

  // The timer's handler: counts the tick, renders a frame (unless one is
  // being rendered) and stops the timer once the value label has gone. A
  // hidden control draws its picture when it is shown (or painted off
  // screen). Public so that owners and tests can drive a frame.
  void TimerTick();

  // State for owners and tests.
  unsigned TickCount() const { return tickCount_; }
  unsigned LabelTicks() const { return labelTicks_; }
  bool LabelVisible() const { return tickCount_ < labelTicks_; }
  int Selected() const { return selected_; }
  bool Dragging() const { return dragging_; }
  int LastX() const { return lastX_; }
  int Margin() const { return margin_; }
  int ThumbWidth() const { return thumbWidth_; }
  int TrackWidth() const { return trackWidth_; }
  const QImage& Buffer() const { return buffer_; }
  const QTimer* Timer() const { return timer_; }
  // The geometry for the buffer of the last paint and the current fields.
  TTrisliderGeometry Geometry() const;

 signals:
  // Every mouse move over the control, with or without a pressed button,
  // after the slider has handled it (a drag step has already moved the
  // thumbs). The ADC page refreshes its value panes from it.
  void MouseMoved(int x, int y);
  // A thumb was chosen or moved from the keyboard.
  void KeyMoved();
  // The user moved thumb index to value (drag, keys, accessibility); a
  // position set by the program (SetPosition) never sends it.
  void ThumbMoved(int index, int value);
  // The program set thumb index to value (SetPosition).
  void PositionSet(int index, int value);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  // Put the fields in order, draw into the buffer and schedule the copy onto
  // the control. While hidden (and not drawHidden) the drawing is left for
  // later and the buffer marked stale.
  void RenderFrame(bool drawHidden);
  void Render(bool drawHidden);
  void Draw(const TTrisliderGeometry& g, const std::vector<int>& positions);
  // Tells the page (KeyMoved) and a screen reader (the accessible name).
  void Announce();
  void Say();
  void DrawFailed();
  void DrawReading(QPainter& painter, const TTrisliderGeometry& g);

  // The caller holds positionsMutex_.
  void Snap(std::size_t i);
  void Place(std::size_t i, int value);
  // Shows the value label again and lets the timer run until it goes.
  void ShowLabel();

  QTimer* timer_ = nullptr;  // owned through the QObject tree
  unsigned tickCount_ = 0;
  mutable std::mutex positionsMutex_;
  std::vector<int> positions_;
  QImage buffer_;
  int selected_ = 0;
  bool dragging_ = false;
  int lastX_ = 0;
  int grabShift_ = 0;  // columns between the press and the grabbed thumb's value
  int band_ = 0;
  int bufferBand_ = 0;  // the band when the buffer was last sized
  bool painting_ = false;
  bool stale_ = true;  // the buffer lags the state: no frame yet, or frames came while hidden
  int margin_ = 20;
  unsigned labelTicks_ = 100;
  int trackWidth_ = 20;
  unsigned increment_ = 1;
  int thumbWidth_ = 10;
};
