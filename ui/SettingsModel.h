// The window's one store of settings: the pages are its views. Every user
// edit changes it through the field table's rules, every read, Load and
// library import replaces groups of it, and each change names the fields
// whose values changed, so the pages set only those controls.
//
// It keeps the rules that the pages show by their nature: the two rows of a
// loop are not both its normal state (radio buttons of one frame; the
// model's Canonicalise, as every read), and the GSM module is one of three.
// Writes, Save, compare and verify take copies.
//
// GUI thread only.
#pragma once

#include <QObject>
#include <string_view>
#include <vector>

#include "model/Fields.h"
#include "model/Settings.h"

using TFieldList = std::vector<const TField*>;

class TSettingsModel : public QObject {
  Q_OBJECT
 public:
  // Holds every group, starting from initial's values.
  explicit TSettingsModel(const TSettings& initial, QObject* parent = nullptr);

  const TSettings& Settings() const { return settings_; }
  // A copy that holds the groups asked for.
  TSettings Copy(TGroups groups) const;

  // Takes the groups that settings hold; the others keep their values. A
  // loop given both rows as its normal state keeps the lower row, as its
  // radio buttons would.
  void Set(const TSettings& settings);
  // Sets one field from a text in its file form, as its rule allows: false,
  // and nothing changed, when the rule refuses the text. Choosing one row of
  // a loop as its normal state takes it from the other row.
  bool SetField(const TField& field, std::string_view text);

 signals:
  // The fields whose values changed, in the order of the field table.
  void Changed(const TFieldList& fields);

 private:
  void Commit(TSettings next);

  TSettings settings_;
};
