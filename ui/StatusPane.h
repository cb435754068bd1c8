// A pane of the status bar: a sunken frame with one line of text.
#pragma once

#include <QFrame>
#include <QString>

class TRzStatusPane : public QFrame {
  Q_OBJECT
 public:
  explicit TRzStatusPane(QWidget* parent = nullptr);
  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString caption_;
};
