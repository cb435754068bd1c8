#include "ui/GuiReader.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>

#include "serial/GuiSync.h"
#include "ui/GuiThread.h"
#include "ui/Trislider.h"
#include "ui/WireText.h"

std::string TGuiControlReader::ControlText(QObject* control) {
  RequireGuiThread("TGuiControlReader::ControlText");
  if (auto* edit = qobject_cast<QLineEdit*>(control)) return ToWire(edit->text());
  if (auto* spin = qobject_cast<QSpinBox*>(control)) return std::to_string(spin->value());
  if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->isChecked() ? "true" : "false";
  if (auto* combo = qobject_cast<QComboBox*>(control)) return std::to_string(combo->currentIndex());
  return {};
}

std::string TGuiControlReader::ReadText(const TTarget& control) {
  std::string text;
  TGuiSync::Instance().Call([&] { text = ControlText(resolve_(control)); });
  return text;
}

std::string TGuiControlReader::ReadListRow(const TTarget& listView, int row) {
  std::string text;
  TGuiSync::Instance().Call([&] {
    RequireGuiThread("TGuiControlReader::ReadListRow");
    if (auto* list = qobject_cast<QTreeWidget*>(resolve_(listView)))
      if (QTreeWidgetItem* item = list->topLevelItem(row - 1)) text = ToWire(item->text(1));
  });
  return text;
}

int TGuiControlReader::ReadSliderPosition(const TTarget& slider, int index) {
  int position = 0;
  TGuiSync::Instance().Call([&] {
    RequireGuiThread("TGuiControlReader::ReadSliderPosition");
    if (auto* ts = qobject_cast<TTrislider*>(resolve_(slider))) position = ts->Position(index);
  });
  return position;
}
