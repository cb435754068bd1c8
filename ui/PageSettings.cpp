#include "ui/PageSettings.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTreeWidget>
#include <QtDebug>
#include <algorithm>
#include <utility>

#include "persist/SettingsCodec.h"
#include "ui/KeyDialog.h"  // f_keys.h holds a QPointer to the dialog
#include "ui/RadioButton.h"
#include "ui/Trislider.h"
#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/f_keys.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::size_t PlaceOf(const TField& f) { return static_cast<std::size_t>(&f - Fields().data()); }

const TField& FieldAt(TRule rule, std::string_view control, int index = 0, int channel = 0) {
  for (const TField& f : Fields())
    if (f.Rule == rule && f.Control == control && f.Index == index && f.Channel == channel) return f;
  // The table is fixed: every field asked for here is in it.
  qFatal("settings: no field %s", std::string(control).c_str());
}

const TField& KeyField(int row) { return FieldAt(TRule::Key, "TMLV", row); }

bool IsReact1(const TField& f) { return f.Control == "cbReact1"; }

void SetChecked(QWidget* control, bool on) {
  // Our radio buttons can also be switched off, leaving their group empty.
  if (auto* radio = qobject_cast<TRadioButton*>(control))
    radio->SetOn(on);
  else if (auto* button = qobject_cast<QAbstractButton*>(control))
    button->setChecked(on);
}

}  // namespace

TPagesView::TPagesView(TSettingsModel& model, TformCommon* common, TformKeys* keys, TformACP* acp, TformGSM* gsm,
                       QObject* parent)
    : QObject(parent), model_(model), common_(common), keys_(keys), acp_(acp), gsm_(gsm) {
  controls_.assign(Fields().size(), nullptr);
  for (const TField& f : Fields()) {
    QWidget* control = nullptr;
    switch (f.Group) {
      case TGroup::Common:
        control = common_ ? common_->findChild<QWidget*>(Q(f.Control)) : nullptr;
        break;
      case TGroup::Gsm:
        control = gsm_ ? gsm_->findChild<QWidget*>(Q(f.Control)) : nullptr;
        break;
      case TGroup::Keys:
        control = keys_ ? keys_->List() : nullptr;
        break;
      case TGroup::Adc:
        if (acp_ && f.Index < acp_->Slider(f.Channel + 1)->GetCount()) control = acp_->Slider(f.Channel + 1);
        break;
    }
    // A page without a control the table names is a defect of the page.
    if (!control && ((f.Group == TGroup::Common && common_) || (f.Group == TGroup::Gsm && gsm_)))
      qWarning() << "settings: no control" << Q(f.Control);
    controls_[PlaceOf(f)] = control;
    if (!control) continue;
    const TField* field = &f;
    switch (f.Rule) {
      case TRule::Phone:
        connect(static_cast<QLineEdit*>(control), &QLineEdit::textChanged, this, [this, field] { Edited(*field); });
        break;
      case TRule::Flag:
      case TRule::ModuleFlag:
        if (auto* button = qobject_cast<QAbstractButton*>(control))
          connect(button, &QAbstractButton::toggled, this, [this, field] { Edited(*field); });
        break;
      case TRule::Delay:
        if (auto* spin = qobject_cast<QSpinBox*>(control))
          connect(spin, &QSpinBox::valueChanged, this, [this, field] { Edited(*field); });
        break;
      case TRule::Ring:
        if (auto* ring = qobject_cast<QComboBox*>(control))
          connect(ring, &QComboBox::currentIndexChanged, this, [this, field] { Edited(*field); });
        break;
      case TRule::Key:
      case TRule::Threshold:
        break;  // one connection per list and slider, below
    }
  }
  if (keys_) {
    connect(keys_->List(), &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) {
      const int row = keys_->List()->indexOfTopLevelItem(item);
      if (row >= 0 && row < TSettings::kKeys) Edited(KeyField(row));
    });
    connect(keys_, &TformKeys::Cleared, this, &TPagesView::KeysCleared);
  }
  if (acp_) {
    for (int channel = 0; channel < TSettings::kChannels; ++channel) {
      const auto moved = [this, channel](int index) {
        if (index >= 0 && index < TSettings::kThresholds)
          Edited(FieldAt(TRule::Threshold, channel == 0 ? "ts" : "ts2", index, channel));
      };
      // The user's moves, and positions that others set (an output element).
      connect(acp_->Slider(channel + 1), &TTrislider::ThumbMoved, this, moved);
      connect(acp_->Slider(channel + 1), &TTrislider::PositionSet, this, moved);
    }
  }
  connect(&model_, &TSettingsModel::Changed, this, &TPagesView::Show);

  TFieldList all;
  for (const TField& f : Fields()) all.push_back(&f);
  Show(all);
}

QWidget* TPagesView::Control(const TField& field) const { return controls_[PlaceOf(field)]; }

std::string TPagesView::ControlText(const TField& f) const {
  QWidget* control = Control(f);
  switch (f.Rule) {
    case TRule::Phone:
      return static_cast<QLineEdit*>(control)->text().toStdString();
    case TRule::Flag:
    case TRule::ModuleFlag:
      return static_cast<QAbstractButton*>(control)->isChecked() ? "1" : "0";
    case TRule::Delay:
      return std::to_string(static_cast<QSpinBox*>(control)->value());
    case TRule::Key: {
      const QTreeWidgetItem* item = keys_->List()->topLevelItem(f.Index);
      return item ? item->text(1).toStdString() : std::string();
    }
    case TRule::Threshold:
      return std::to_string(static_cast<TTrislider*>(control)->GetPosition(f.Index));
    case TRule::Ring:
      return std::to_string(static_cast<QComboBox*>(control)->currentIndex());
  }
  return {};
}

void TPagesView::Edited(const TField& field) {
  // The view's own setting of a control is no edit.
  if (showing_ > 0) return;
  const TField* f = &field;
  std::string text = ControlText(field);
  if (field.Rule == TRule::ModuleFlag && text == "0") {
    // The button that goes on says which module; with none on, the page
    // means the modem.
    const bool anyOn = std::any_of(Fields().begin(), Fields().end(), [this](const TField& m) {
      return m.Rule == TRule::ModuleFlag && Control(m) && ControlText(m) == "1";
    });
    if (anyOn) return;
    f = &FieldAt(TRule::ModuleFlag, "rb3", 2);
    text = "1";
  }
  model_.SetField(*f, text);
  // Refused, or taken in another form: the control shows what the model holds.
  if (ControlText(*f) != FieldText(model_.Settings(), *f)) Show({f});
}

void TPagesView::KeysCleared() {
  if (showing_ > 0) return;
  for (int row = 0; row < TSettings::kKeys; ++row) Edited(KeyField(row));
}

void TPagesView::Show(const TFieldList& fields) {
  ++showing_;
  bool react1 = false;
  bool thresholds = false;
  for (const TField* f : fields) {
    if (!Control(*f)) continue;
    ShowField(*f);
    react1 = react1 || IsReact1(*f);
    thresholds = thresholds || f->Rule == TRule::Threshold;
  }
  // cbReact1 going off clears cbWaitSend on the page; the model's value
  // comes back (a file may hold WaitSend on with React1 off).
  if (react1) {
    const TField& waitSend = FieldAt(TRule::Flag, "cbWaitSend");
    if (Control(waitSend)) ShowField(waitSend);
  }
  if (thresholds) acp_->ShowThresholds();
  --showing_;
}

void TPagesView::ShowField(const TField& f) {
  QWidget* control = Control(f);
  const std::string text = FieldText(model_.Settings(), f);
  switch (f.Rule) {
    case TRule::Phone: {
      auto* edit = static_cast<QLineEdit*>(control);
      if (edit->text() != Q(text)) edit->setText(Q(text));
      break;
    }
    case TRule::Flag:
    case TRule::ModuleFlag:
      SetChecked(control, text == "1");
      break;
    case TRule::Delay:
      static_cast<QSpinBox*>(control)->setValue(std::stoi(text));
      break;
    case TRule::Key: {
      QTreeWidget* list = keys_->List();
      if (list->topLevelItemCount() < TSettings::kKeys) {
        // A list cut short gets its ten rows back, each with the model's key.
        keys_->ClearPage();
        for (int row = 0; row < TSettings::kKeys; ++row)
          list->topLevelItem(row)->setText(1, Q(model_.Settings().Key[row]));
        break;
      }
      QTreeWidgetItem* item = list->topLevelItem(f.Index);
      if (item->text(1) != Q(text)) item->setText(1, Q(text));
      break;
    }
    case TRule::Threshold: {
      auto* slider = static_cast<TTrislider*>(control);
      if (slider->GetPosition(f.Index) != std::stoi(text)) slider->SetPosition(f.Index, std::stoi(text));
      break;
    }
    case TRule::Ring:
      static_cast<QComboBox*>(control)->setCurrentIndex(std::stoi(text));
      break;
  }
}

TPagesFile::TPagesFile(TSettingsTargets targets) : t_(std::move(targets)) {}

bool TPagesFile::Save(const QString& fileName, QString* error) const {
  const TFileHeader header{t_.ComPorts ? t_.ComPorts->currentText() : QString(), t_.LogMarked && t_.LogMarked()};
  return SaveSettingsFile(fileName, t_.Model->Copy(TGroups::AllWithAdc()), header, false, error);
}

bool TPagesFile::Load(const QString& fileName, QString* error) const {
  TDecodedSettings decoded;
  const bool complete = LoadSettingsFile(fileName, t_.Model->Copy(TGroups::AllWithAdc()), &decoded, error);
  return Take(decoded) && complete;
}

TDecodedSettings TPagesFile::LoadKeeping(const QString& fileName) const {
  TDecodedSettings decoded;
  LoadSettingsFile(fileName, t_.Model->Copy(TGroups::AllWithAdc()), &decoded, nullptr, TAbsentKeys::Kept);
  Take(decoded);
  return decoded;
}

bool TPagesFile::Take(const TDecodedSettings& decoded) const {
  if (!decoded.Taken) return false;
  if (t_.ComPorts && !decoded.Header.Port.isEmpty()) t_.ComPorts->setCurrentText(decoded.Header.Port);
  if (decoded.Header.Log && t_.LogMarked && !t_.LogMarked() && t_.LogClick) t_.LogClick();
  t_.Model->Set(decoded.Settings);
  return true;
}
