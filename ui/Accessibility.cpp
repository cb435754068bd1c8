#include "ui/Accessibility.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <vector>

#include "ui/NavBar.h"
#include "ui/StatusPane.h"
#include "ui/Trislider.h"
#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/KeyDialog.h"
#include "ui/f_keys.h"

namespace {

const char* const kEventNames[4] = {"Постановка на охрану", "Снятие с охраны", "Сбой питания",
                                    "Восстановление питания"};
const char* const kThresholds[5] = {"КЗ", "Оба замкнуты", "2-й замкнут", "1-й замкнут", "Оба разомкнуты"};
const char* const kPanes[5] = {"pKZ", "pZam", "p2Z", "p1Z", "pRaz"};

QString U(const char* text) { return QString::fromUtf8(text); }

// A navigation item: a button that can be pressed; the item of the page
// being shown is "checked".
class TNavItemAccessible : public QAccessibleWidget {
 public:
  explicit TNavItemAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::Button) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) return Item()->Caption();
    if (t == QAccessible::Description) return Item()->toolTip();
    return QAccessibleWidget::text(t);
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.checkable = Item()->IsCurrent();
    s.checked = Item()->IsCurrent();
    return s;
  }
  QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }
  void doAction(const QString& action) override {
    if (action == pressAction()) {
      if (Item()->isEnabled()) Item()->Click();
      return;
    }
    QAccessibleWidget::doAction(action);
  }

 private:
  TRzGroupItem* Item() const { return static_cast<TRzGroupItem*>(widget()); }
};

// One thumb of a slider: its threshold as a value between Min and Max.
class TThumbAccessible : public QAccessibleInterface, public QAccessibleValueInterface {
 public:
  TThumbAccessible(TTrislider* slider, int index) : slider_(slider), index_(index) {}

  bool isValid() const override { return slider_ && index_ < slider_->GetCount(); }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return Parent() ? Parent()->window() : nullptr; }
  QAccessibleInterface* parent() const override { return Parent(); }
  QAccessibleInterface* child(int) const override { return nullptr; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessible::Role role() const override { return QAccessible::Slider; }
  QAccessible::State state() const override {
    QAccessible::State s;
    s.invisible = !slider_ || !slider_->isVisible();
    return s;
  }
  QRect rect() const override { return Parent() ? Parent()->rect() : QRect(); }
  QString text(QAccessible::Text t) const override {
    if (!isValid()) return {};
    if (t == QAccessible::Name) return Name();
    if (t == QAccessible::Value) return QString::number(slider_->GetPosition(index_));
    if (t == QAccessible::Description) return U("Порог канала АЦП от %1 до %2").arg(slider_->Min).arg(slider_->Max);
    return {};
  }
  void setText(QAccessible::Text, const QString&) override {}
  void* interface_cast(QAccessible::InterfaceType type) override {
    return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this) : nullptr;
  }

  QVariant currentValue() const override { return isValid() ? slider_->GetPosition(index_) : QVariant(); }
  void setCurrentValue(const QVariant& value) override {
    if (isValid()) slider_->MoveThumb(index_, value.toInt());
  }
  QVariant maximumValue() const override { return slider_ ? slider_->Max : QVariant(); }
  QVariant minimumValue() const override { return slider_ ? slider_->Min : QVariant(); }
  QVariant minimumStepSize() const override { return 1; }

 private:
  QAccessibleInterface* Parent() const { return slider_ ? QAccessible::queryAccessibleInterface(slider_) : nullptr; }
  QString Name() const {
    const QString state = index_ < 5 ? U(kThresholds[index_]) : U("Порог %1").arg(index_ + 1);
    return state + U(", ") + slider_->accessibleName();
  }

  QPointer<TTrislider> slider_;
  int index_;
};

// A slider: a group of thumbs; its value is the current reading (Level).
class TSliderAccessible : public QAccessibleWidget {
 public:
  explicit TSliderAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::Grouping) {}
  ~TSliderAccessible() override {
    for (QAccessible::Id id : thumbs_) QAccessible::deleteAccessibleInterface(id);
  }

  int childCount() const override { return Slider()->GetCount(); }
  QAccessibleInterface* child(int index) const override {
    if (index < 0 || index >= childCount()) return nullptr;
    while (int(thumbs_.size()) <= index)
      thumbs_.push_back(QAccessible::registerAccessibleInterface(
          new TThumbAccessible(Slider(), int(thumbs_.size()))));
    return QAccessible::accessibleInterface(thumbs_[size_t(index)]);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    for (size_t i = 0; i < thumbs_.size(); ++i)
      if (QAccessible::accessibleInterface(thumbs_[i]) == child) return int(i);
    return -1;
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return U("Текущее значение %1").arg(Slider()->Level);
    // With the focus the name says the thumb the keys move and its value.
    if (t == QAccessible::Name && Slider()->hasFocus())
      return QAccessibleWidget::text(t) + U(", ") + Slider()->SelectedText();
    return QAccessibleWidget::text(t);
  }

 private:
  TTrislider* Slider() const { return static_cast<TTrislider*>(widget()); }
  mutable std::vector<QAccessible::Id> thumbs_;
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
  if (!object || !object->isWidgetType()) return nullptr;
  auto* widget = static_cast<QWidget*>(object);
  if (className == QLatin1String("TRzGroupItem")) return new TNavItemAccessible(widget);
  if (className == QLatin1String("TTrislider")) return new TSliderAccessible(widget);
  return nullptr;
}

// Enter and F2 in the key list edit the selected key (the current row when
// none is selected), as a double-click does.
class TKeyListKeys : public QObject {
 public:
  explicit TKeyListKeys(TformKeys* page) : QObject(page), page_(page) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_F2) return false;
    QTreeWidget* list = page_->List();
    if (list->selectedItems().isEmpty() && list->currentItem()) list->currentItem()->setSelected(true);
    page_->EditSelected();
    return true;
  }

 private:
  TformKeys* page_;
};

QLabel* LabelWithText(QWidget* root, const QString& text) {
  for (QLabel* label : root->findChildren<QLabel*>())
    if (label->text() == text) return label;
  return nullptr;
}

void Name(QWidget* root, const QString& objectName, const QString& name, const QString& description = {}) {
  auto* w = root->findChild<QWidget*>(objectName);
  if (!w) return;
  w->setAccessibleName(name);
  if (!description.isEmpty()) w->setAccessibleDescription(description);
}

void Buddy(QWidget* root, const QString& labelText, const QString& objectName) {
  QLabel* label = LabelWithText(root, labelText);
  auto* w = root->findChild<QWidget*>(objectName);
  if (!label || !w) return;
  label->setBuddy(w);
  w->setAccessibleName(labelText);
}

void DescribeCommon(TformCommon* page) {
  const QString phoneHelp = U("Номер телефона: цифры и знак +, не более 20 символов");
  for (int n = 1; n <= 12; ++n) {
    QString row;
    if (n <= 4) {
      row = U(kEventNames[n - 1]);
      Buddy(page, row, QStringLiteral("etPhone%1").arg(n));
    } else {
      const int loop = n <= 8 ? n - 4 : n - 8;
      row = U("шлейф %1, %2").arg(loop).arg(n <= 8 ? U("замыкание") : U("размыкание"));
    }
    Name(page, QStringLiteral("cbReact%1").arg(n), U("Реакция, ") + row);
    Name(page, QStringLiteral("etPhone%1").arg(n), U("Телефон, ") + row, phoneHelp);
    if (n >= 5) {
      const int loop = n <= 8 ? n - 4 : n - 8;
      const QString state = n <= 8 ? U("замыкание") : U("размыкание");
      Name(page, QStringLiteral("rbNorm%1").arg(n), U("Нормальное состояние шлейфа %1: %2").arg(loop).arg(state));
    }
  }
  for (int loop = 1; loop <= 4; ++loop) Name(page, QStringLiteral("cb24%1").arg(loop), U("24 часа, шлейф %1").arg(loop));
  Buddy(page, U("Задержка на вход"), QStringLiteral("seTimeOut"));
  Buddy(page, U("Задержка на выход"), QStringLiteral("seTimeOut2"));
  for (const char* name : {"seTimeOut", "seTimeOut2"})
    if (auto* w = page->findChild<QWidget*>(QLatin1String(name))) w->setAccessibleDescription(U("от 0 до 255"));
}

}  // namespace

void InstallAccessibleFactory() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(&Factory);
}

namespace {

void SetFrameSheet(QWidget* view) {
  view->setStyleSheet(QStringLiteral("QAbstractItemView { border: 1px solid #8c8c8c; }"
                                     "QAbstractItemView:focus { border: 2px solid #103c78; }"));
}

// Sets the frame's style sheet when the view is first shown: a style sheet
// is parsed and its style built at once, which a page not yet shown (at the
// window's start) need not wait for.
class TFrameOnShow : public QObject {
 public:
  explicit TFrameOnShow(QWidget* view) : QObject(view) { view->installEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      watched->removeEventFilter(this);
      SetFrameSheet(static_cast<QWidget*>(watched));
      deleteLater();
    }
    return false;
  }
};

}  // namespace

void FrameFocus(QWidget* listView) {
  if (listView->isVisible()) return SetFrameSheet(listView);
  new TFrameOnShow(listView);
}

void DescribeNavigation(TRzGroupBar* bar) {
  InstallAccessibleFactory();
  bar->setAccessibleName(U("Навигация"));
}

void DescribePages(TformCommon* common, TformKeys* keys, TformACP* acp, TformGSM* gsm) {
  InstallAccessibleFactory();
  DescribeCommon(common);

  Buddy(gsm, U("Длительность звонка"), QStringLiteral("cbRing"));

  QTreeWidget* list = keys->List();
  list->setAccessibleName(U("Ключи Touch Memory"));
  list->setAccessibleDescription(U("Enter, F2 или двойной щелчок: изменить выбранный ключ"));
  list->installEventFilter(new TKeyListKeys(keys));

  for (int channel = 1; channel <= 2; ++channel) {
    TTrislider* slider = acp->Slider(channel);
    slider->setAccessibleName(U("Канал АЦП %1").arg(channel));
    for (int k = 0; k < 5; ++k)
      Name(acp, QLatin1String(kPanes[k]) + QString::number(channel), U("%1, канал %2").arg(U(kThresholds[k])).arg(channel));
  }
}
