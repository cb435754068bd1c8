// The program's panel control: a framed surface in the button-face colour
// with an optional caption drawn in its middle.
//
// Everything derived from TPanel counts as a panel for the output appliers
// (a control text sets the caption); the multi-thumb slider is one of them.
// GUI thread only.
#pragma once

#include <QFrame>
#include <QString>
#include <QStringList>

class TPanel : public QFrame {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)

 public:
  // The one-pixel bevel around the panel.
  enum class TBevel { None, Raised, Lowered };

  explicit TPanel(QWidget* parent = nullptr);

  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);

  TBevel Bevel() const { return bevel_; }
  void SetBevel(TBevel bevel);

  // A long caption wraps over as many lines as the panel holds; what still
  // does not fit is elided in the middle of the last line. A caption on more
  // than one line is also the tooltip. Off by default (one centred line).
  void SetWrapCaption(bool wrap);
  // The lines drawn for the caption (one line unless wrapping).
  QStringList CaptionLines() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QString caption_;
  void UpdateToolTip();

  TBevel bevel_ = TBevel::Raised;
  bool wrap_ = false;
};
