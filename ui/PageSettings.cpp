#include "ui/PageSettings.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTreeWidget>
#include <QtDebug>
#include <utility>

#include "model/Fields.h"
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

// A control the pages must have; a missing one is a defect of the page and
// its field is skipped.
template <class T>
T* Control(const QWidget* page, const std::string& name) {
  T* control = page ? page->findChild<T*>(Q(name)) : nullptr;
  if (!control) qWarning() << "settings: no control" << Q(name);
  return control;
}

QWidget* PageOf(const TSettingsTargets& t, TGroup group) {
  switch (group) {
    case TGroup::Common:
      return t.Common;
    case TGroup::Keys:
      return t.Keys;
    case TGroup::Gsm:
      return t.GSM;
    case TGroup::Adc:
      return t.ACP;
  }
  return nullptr;
}

TTrislider* Slider(const TSettingsTargets& t, const TField& f) {
  TTrislider* slider = Control<TTrislider>(t.ACP, f.Control);
  return slider && f.Index < slider->GetCount() ? slider : nullptr;
}

// The field's value as its control shows it, in the field's file form.
std::string ControlText(const TSettingsTargets& t, const TField& f) {
  const QWidget* page = PageOf(t, f.Group);
  switch (f.Rule) {
    case TRule::Phone: {
      const auto* edit = Control<QLineEdit>(page, f.Control);
      return edit ? edit->text().toStdString() : std::string();
    }
    case TRule::Flag:
    case TRule::ModuleFlag: {
      const auto* box = Control<QAbstractButton>(page, f.Control);
      return box && box->isChecked() ? "1" : "0";
    }
    case TRule::Delay: {
      const auto* spin = Control<QSpinBox>(page, f.Control);
      return std::to_string(spin ? spin->value() : 0);
    }
    case TRule::Key: {
      const QTreeWidgetItem* item = t.Keys ? t.Keys->List()->topLevelItem(f.Index) : nullptr;
      return item ? item->text(1).toStdString() : TSettings::EmptyKey;
    }
    case TRule::Threshold: {
      const TTrislider* slider = Slider(t, f);
      return std::to_string(slider ? slider->GetPosition(f.Index) : 0);
    }
    case TRule::Ring: {
      const auto* ring = Control<QComboBox>(page, f.Control);
      return std::to_string(ring ? std::max(ring->currentIndex(), 0) : 0);
    }
  }
  return {};
}

void SetChecked(QWidget* page, const std::string& name, bool on) {
  // Our radio buttons can also be switched off, leaving their group empty.
  auto* button = Control<QAbstractButton>(page, name);
  if (auto* radio = qobject_cast<TRadioButton*>(button))
    radio->SetOn(on);
  else if (button)
    button->setChecked(on);
}

void ShowField(const TSettingsTargets& t, const TField& f, const TSettings& s) {
  QWidget* page = PageOf(t, f.Group);
  const std::string text = FieldText(s, f);
  switch (f.Rule) {
    case TRule::Phone:
      if (auto* edit = Control<QLineEdit>(page, f.Control)) edit->setText(Q(text));
      break;
    case TRule::Flag:
    case TRule::ModuleFlag:
      SetChecked(page, f.Control, text == "1");
      break;
    case TRule::Delay:
      if (auto* spin = Control<QSpinBox>(page, f.Control)) spin->setValue(std::stoi(text));
      break;
    case TRule::Key:
      // Every one of the ten rows is set, so a list cut short is reset first.
      if (t.Keys->List()->topLevelItemCount() < TSettings::kKeys) t.Keys->ClearPage();
      t.Keys->List()->topLevelItem(f.Index)->setText(1, Q(text));
      break;
    case TRule::Threshold:
      if (TTrislider* slider = Slider(t, f)) slider->SetPosition(f.Index, std::stoi(text));
      break;
    case TRule::Ring:
      if (auto* ring = Control<QComboBox>(page, f.Control)) ring->setCurrentIndex(std::stoi(text));
      break;
  }
}

}  // namespace

TSettings ReadPages(const TSettingsTargets& t) {
  TSettings s;
  for (const TGroup g : {TGroup::Common, TGroup::Keys, TGroup::Gsm, TGroup::Adc})
    if (PageOf(t, g)) s.Groups |= g;
  bool moduleShown = false;
  for (const TField& f : Fields()) {
    if (!s.Groups.Has(f.Group)) continue;
    const std::string text = ControlText(t, f);
    if (f.Rule == TRule::ModuleFlag && text == "1") moduleShown = true;
    // A value its field cannot hold (a key edited outside the key dialog)
    // keeps the field's default.
    if (!SetFieldText(s, f, text)) qWarning() << "settings:" << Q(f.Control) << "shows" << Q(text);
  }
  // With none of the three radio buttons on the panel is sent the modem.
  if (s.Groups.Has(TGroup::Gsm) && !moduleShown) s.Module = 2;
  return s;
}

void ApplyToPages(const TSettingsTargets& t, const TSettings& settings) {
  for (const TField& f : Fields())
    if (settings.Groups.Has(f.Group) && PageOf(t, f.Group)) ShowField(t, f, settings);
  if (settings.Groups.Has(TGroup::Adc) && t.ACP) t.ACP->ShowThresholds();
}

TPagesFile::TPagesFile(TSettingsTargets targets) : t_(std::move(targets)) {}

bool TPagesFile::Save(const QString& fileName, QString* error) const {
  const TFileHeader header{t_.ComPorts ? t_.ComPorts->currentText() : QString(), t_.LogMarked && t_.LogMarked()};
  return SaveSettingsFile(fileName, ReadPages(t_), header, false, error);
}

bool TPagesFile::Load(const QString& fileName, QString* error) const {
  TDecodedSettings decoded;
  const bool complete = LoadSettingsFile(fileName, ReadPages(t_), &decoded, error);
  if (!decoded.Taken) return false;
  if (t_.ComPorts && !decoded.Header.Port.isEmpty()) t_.ComPorts->setCurrentText(decoded.Header.Port);
  if (decoded.Header.Log && t_.LogMarked && !t_.LogMarked() && t_.LogClick) t_.LogClick();
  ApplyToPages(t_, decoded.Settings);
  return complete;
}
