#include "ui/SettingsModel.h"

#include <utility>

TSettingsModel::TSettingsModel(const TSettings& initial, QObject* parent) : QObject(parent), settings_(initial) {
  settings_.Groups = TGroups::AllWithAdc();
  Canonicalise(settings_);
}

TSettings TSettingsModel::Copy(TGroups groups) const {
  TSettings copy = settings_;
  copy.Groups = groups & TGroups::AllWithAdc();
  return copy;
}

void TSettingsModel::Set(const TSettings& settings) {
  TSettings next = settings_;
  CopyGroups(next, settings, settings.Groups);
  next.Groups = TGroups::AllWithAdc();
  Commit(std::move(next));
}

bool TSettingsModel::SetField(const TField& field, std::string_view text) {
  TSettings next = settings_;
  if (!SetFieldText(next, field, text)) return false;
  if (field.Section == "Norm" && text == "1") next.Norm[TSettings::OtherRow(field.Index + 1) - 1] = false;
  Commit(std::move(next));
  return true;
}

void TSettingsModel::Commit(TSettings next) {
  Canonicalise(next);
  TFieldList changed;
  for (const TField& f : Fields())
    if (FieldText(settings_, f) != FieldText(next, f)) changed.push_back(&f);
  if (changed.empty()) return;
  settings_ = std::move(next);
  emit Changed(changed);
}
