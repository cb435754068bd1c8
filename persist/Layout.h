// The main window's layout file "Windows.ini" and its splitter share.
//
// Section <form name> ("Form1"), read at start and written at the end:
//   xForm.Left, xForm.Top, xForm.Height, xForm.Width   the window's frame
//       position and size; without xForm.Left the window is centred on the
//       screen. A value that is not a number counts as missing. The frame,
//       stored or designed, is fitted wholly into the available screen and
//       is never smaller than the window's minimum size (set it first).
//   <splitter name>.Percent   the share of each named splitter of the window
//       given to its first pane, kept within 15..90 both when read and when
//       written, so neither pane is ever squashed.
// Section <form name>FormState ("Form1FormState"), read at start after the
// section above and written when the window closes:
//   Maximized, Left, Top, Right, Bottom, Saved   the normal (not maximized)
//       rectangle, right and bottom exclusive; a rectangle whose top-left
//       corner lies on no screen is moved to 0, 0.
// The file is written as "Windows.ini" and looked up without regard to letter
// case, so a file that another copy wrote as "windows.ini" is the same file.
//
// GUI thread only.
#pragma once

#include <QList>
#include <QObject>
#include <QRect>
#include <QString>

class QSplitter;
class QWidget;

// A frame fitted wholly into available: each side at least the minimum (and
// 1) and at most the screen's (unless the minimum is larger), moved so that
// all of it lies on the screen (its top-left corner, when it cannot).
QRect FitFrame(qint64 left, qint64 top, qint64 width, qint64 height, QSize minimum, QRect available);

class TWindowLayout {
 public:
  // fileName: the layout file as it is created ("<dir>/Windows.ini").
  TWindowLayout(QWidget* form, QString fileName);

  // The window's position and size and its splitters' shares (LoadLayout).
  void Load();
  // Writes them (SaveLayout). False with *error "Unable to write to <file>"
  // when the file cannot be written; the old file then stays whole.
  bool Save(QString* error = nullptr);

  // The placement section: applied once at start, after Load.
  void RestorePlacement();
  // Written when the window closes; errors as for Save.
  bool SavePlacement(QString* error = nullptr);

  // The existing file in whatever letter case, else the name to create.
  QString FileName() const;

 private:
  QString Section() const;
  QString PlacementSection() const;
  QList<QSplitter*> Splitters() const;

  QWidget* form_;
  QString fileName_;
};

// Keeps a two-pane splitter's share of its length for the first pane when the
// splitter is resized: a share set by the user (dragging the bar) or by the
// program (setSizes, SetPercent) is held until it is changed again. Lives as
// a child of its splitter.
class TSplitterShare : public QObject {
  Q_OBJECT

 public:
  TSplitterShare(QSplitter* splitter, int percent);
  // The keeper installed on splitter, or nullptr.
  static TSplitterShare* Of(const QSplitter* splitter);

  int Percent() const;
  void SetPercent(int percent);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The share the panes show now, when someone moved the bar since we last
  // placed it; otherwise the share we hold.
  double CurrentShare() const;
  void Apply();

  QSplitter* splitter_;
  double share_;
  QList<int> placed_;  // the sizes we last gave the panes
};
