// The navigation bar: groups of items with a caption, an image, an enabled
// and a visible state and a click action.
//
// A group's objectName is its name (RzGroup1...), an item's objectName is
// its caption ("Отключиться"), so output elements can address both.
#pragma once

#include <QIcon>
#include <QList>
#include <QWidget>
#include <functional>

class QLabel;
class QVBoxLayout;

class TRzGroupItem : public QWidget {
  Q_OBJECT
 public:
  TRzGroupItem(const QString& caption, const QIcon& icon, QWidget* parent = nullptr);
  QString Caption() const { return caption_; }
  // Runs the click action, whether the item is enabled or not.
  void Click();
  std::function<void()> OnClick;

  // The item of the page being shown is marked (a page item only).
  void SetCurrent(bool current);
  bool IsCurrent() const { return current_; }
  // The page of a page item holds changes not yet written or saved: its
  // caption is followed by " *".
  void SetChanged(bool changed);
  bool IsChanged() const { return changed_; }

  QSize sizeHint() const override;
  // Items never shrink below their height: the bar scrolls instead.
  QSize minimumSizeHint() const override { return {0, sizeHint().height()}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  // Enter and Space run an enabled item, as a click does.
  void keyPressEvent(QKeyEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  QString caption_;
  QIcon icon_;
  bool hover_ = false;
  bool current_ = false;
  bool changed_ = false;
};

class TRzGroup : public QWidget {
  Q_OBJECT
 public:
  TRzGroup(const QString& name, const QString& caption, QWidget* parent = nullptr);
  TRzGroupItem* AddItem(const QString& caption, const QIcon& icon, std::function<void()> action);
  TRzGroupItem* Item(const QString& caption) const;
  QString Caption() const { return caption_; }

 private:
  QString caption_;
  QVBoxLayout* items_;
};

class TRzGroupBar : public QWidget {
  Q_OBJECT
 public:
  explicit TRzGroupBar(QWidget* parent = nullptr);
  TRzGroup* AddGroup(const QString& name, const QString& caption);

 private:
  QVBoxLayout* layout_;
};
