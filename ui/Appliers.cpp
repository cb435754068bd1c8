#include "ui/Appliers.h"

#include "ui/GuiThread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>

#include "ui/MemoLines.h"
#include "ui/SerialWords.h"
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <stdexcept>

#include "ui/MessageBox.h"
#include "ui/NavBar.h"
#include "ui/Panel.h"
#include "ui/StatusPane.h"
#include "ui/Trislider.h"
#include "persist/WireText.h"

int TextToInt(const QString& text) {
  bool ok = false;
  int value = text.startsWith('$') ? text.mid(1).toInt(&ok, 16) : text.toInt(&ok, 10);
  if (!ok || text.trimmed() != text) throw std::invalid_argument("not a number: " + text.toStdString());
  return value;
}

void SetRadio(QRadioButton* button, bool on) {
  if (on) {
    button->setChecked(true);
    return;
  }
  const bool exclusive = button->autoExclusive();
  button->setAutoExclusive(false);
  button->setChecked(false);
  button->setAutoExclusive(exclusive);
}

void TApplier::ApplyOutput(TOutArray& queue) {
  // The queue has one consumer, the GUI thread.
  RequireGuiThread("TApplier::ApplyOutput");
  while (queue.HasPending() != 0) {
    TOutElement* element = nullptr;
    if (queue.Pop(element) == 0) break;
    try {
      Apply(*element);
    } catch (...) {
      // A failing element is dropped; the drain goes on with the next one.
    }
  }
}

void TApplier::Apply(TOutElement& element) {
  RequireGuiThread("TApplier::Apply");
  if (Observe) Observe(element);
  auto resolve = [&](const TTarget& target) { return Resolve ? Resolve(target) : nullptr; };
  switch (element.Kind) {
    case okMemo: {
      auto& e = dynamic_cast<TMemoOut&>(element);
      ApplyMemoLine(e);
      break;
    }
    case okControlText: {
      auto& e = dynamic_cast<TControlOut&>(element);
      ApplyControlText(resolve(e.Control), FromWire(e.Text));
      break;
    }
    case okComponentText: {
      auto& e = dynamic_cast<TCompOut&>(element);
      ApplyComponentText(resolve(e.Component), FromWire(e.Text));
      break;
    }
    case okListRow: {
      auto& e = dynamic_cast<TListOut&>(element);
      ApplyListRow(resolve(e.ListView), FromWire(e.RowNumber), FromWire(e.Text), e.StateImage);
      break;
    }
    case okChangeItemInd: {
      auto& e = dynamic_cast<TChangeItemIndOut&>(element);
      if (auto* list = qobject_cast<QTreeWidget*>(resolve(e.ListView)))
        if (QTreeWidgetItem* item = list->topLevelItem(e.Row)) item->setData(0, Qt::UserRole, e.StateImage);
      break;
    }
    case okTriSlider: {
      auto& e = dynamic_cast<TTriSliderOut&>(element);
      ApplySliderText(resolve(e.Slider), FromWire(e.Text), e.Index);
      break;
    }
    case okFullList: {
      auto& e = dynamic_cast<TFullListOut&>(element);
      ApplyFullRow(resolve(e.ListView), FromWire(e.Caption), e.SubItems);
      break;
    }
    case okClearList: {
      auto& e = dynamic_cast<TClearListOut&>(element);
      if (auto* list = qobject_cast<QTreeWidget*>(resolve(e.ListView))) list->clear();
      break;
    }
    case okMsg:
      MessageBox::Show(FromWire(dynamic_cast<TMsgOut&>(element).Text));
      break;
    case okStatus: {
      auto& e = dynamic_cast<TStatusOut&>(element);
      if (auto* pane = qobject_cast<TRzStatusPane*>(resolve(e.Panel))) pane->SetCaption(FromWire(e.Text));
      break;
    }
    case okPersistent: {
      auto& e = dynamic_cast<TPOut&>(element);
      ApplyGroupAction(resolve(e.Target), FromWire(e.Text));
      break;
    }
    case okResult:
      if (OnResult) OnResult(static_cast<TResultOut&>(element).Result);
      break;
    case okReading: {
      const auto& e = static_cast<TReadingOut&>(element);
      if (OnReading) OnReading(e.TimeMs, e.Channel, e.Value ? std::optional<int>(*e.Value) : std::nullopt);
      break;
    }
    default:  // colour elements (kind 11) and unknown kinds change nothing
      break;
  }
}

void TApplier::ApplyMemoLine(const TMemoOut& e) {
  // The memo says a serial failure in Russian; the log keeps the line as posted.
  if (e.ShowInMemo && Memo) MemoLines::Append(Memo, SerialWords::MemoText(e), e.Traffic);
  if (LogLine) LogLine(e.Text);
}

// The control kinds in the order their rules are tried; a derived class
// counts as its base kind (the slider is a panel).
void TApplier::ApplyControlText(QObject* control, const QString& text) {
  if (!control) return;
  const bool isTrue = text == QLatin1String("true");
  if (auto* label = qobject_cast<QLabel*>(control)) {
    if (text == QLatin1String("Repaint12345")) {
      label->repaint();
      return;
    }
    QPalette palette = label->palette();
    if (text == QString::fromUtf8("СОЕДИНЕНИЕ УСТАНОВЛЕНО")) {
      palette.setColor(QPalette::WindowText, QColor(0, 0x80, 0));
      label->setPalette(palette);
    } else if (text == QString::fromUtf8("СОЕДИНЕНИЕ РАЗОРВАНО")) {
      palette.setColor(QPalette::WindowText, Qt::red);
      label->setPalette(palette);
    }
    label->setText(text);
  } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    edit->setText(text);
  } else if (auto* spin = qobject_cast<QSpinBox*>(control)) {
    spin->setValue(TextToInt(text));
  } else if (auto* check = qobject_cast<QCheckBox*>(control)) {
    check->setChecked(isTrue);
  } else if (auto* radio = qobject_cast<QRadioButton*>(control)) {
    SetRadio(radio, isTrue);
  } else if (auto* button = qobject_cast<QAbstractButton*>(control);
             button && (qobject_cast<QPushButton*>(control) || qobject_cast<QToolButton*>(control))) {
    if (text == QLatin1String("Click"))
      button->click();
    else
      button->setEnabled(isTrue);
  } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
    const int index = TextToInt(text);
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
  } else if (auto* panel = qobject_cast<TPanel*>(control)) {
    panel->SetCaption(text);
  } else if (auto* progress = qobject_cast<QProgressBar*>(control)) {
    if (text == QLatin1String("Repaint12345"))
      progress->repaint();
    else
      progress->setValue(TextToInt(text));
  } else if (control->inherits("TPage") || qobject_cast<QDialog*>(control) ||
             qobject_cast<QMainWindow*>(control)) {
    if (text == QLatin1String("Show")) {
      auto* form = static_cast<QWidget*>(control);
      form->show();
      form->raise();
    }
  } else if (auto* memo = qobject_cast<QPlainTextEdit*>(control)) {
    // Only the accepted answers of the exchange reach the memo this way.
    MemoLines::Append(memo, text, true);
  } else if (auto* pane = qobject_cast<TRzStatusPane*>(control)) {
    pane->SetCaption(text);
  } else if (auto* widget = qobject_cast<QWidget*>(control)) {
    if (text == QLatin1String("Show"))
      widget->show();
    else
      widget->setEnabled(isTrue);
  }
}

void TApplier::ApplyComponentText(QObject* component, const QString& text) {
  if (auto* timer = qobject_cast<QTimer*>(component)) {
    if (text == QLatin1String("true"))
      timer->start();
    else
      timer->stop();
  }
}

void TApplier::ApplyListRow(QObject* listView, const QString& rowNumber, const QString& text, int stateImage) {
  auto* list = qobject_cast<QTreeWidget*>(listView);
  if (!list) return;
  const int n = TextToInt(rowNumber);
  QTreeWidgetItem* item = nullptr;
  if (list->topLevelItemCount() < n) {
    item = new QTreeWidgetItem(list);
  } else {
    item = list->topLevelItem(n - 1);
    if (!item) throw std::out_of_range("list row");
  }
  item->setText(0, rowNumber);
  item->setData(0, Qt::UserRole, stateImage);
  item->setText(1, text);
}

void TApplier::ApplySliderText(QObject* slider, const QString& text, int index) {
  auto* ts = qobject_cast<TTrislider*>(slider);
  if (!ts) return;
  if (text == QLatin1String("position"))
    ts->SetLevel(index);
  else
    ts->SetPosition(index, TextToInt(text));
}

void TApplier::ApplyFullRow(QObject* listView, const QString& caption, const StrArr& subItems) {
  auto* list = qobject_cast<QTreeWidget*>(listView);
  if (!list) return;
  auto* item = new QTreeWidgetItem(list);
  item->setText(0, caption);
  for (int i = 0; i < static_cast<int>(subItems.size()); ++i) item->setText(i + 1, FromWire(subItems[i]));
}

void TApplier::ApplyGroupAction(QObject* target, const QString& text) {
  if (auto* item = qobject_cast<TRzGroupItem*>(target)) {
    if (text == QLatin1String("Click")) item->Click();
  } else if (auto* group = qobject_cast<TRzGroup*>(target)) {
    group->setEnabled(text == QLatin1String("true"));
  }
}
