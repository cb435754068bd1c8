// The settings named as the pages label them: the page (as its navigation
// item says it) and the setting ("Снятие с охраны: реакция", "Шлейф 1,
// замыкание: телефон", "Шлейф 1: нормальное состояние"), with values as the
// controls show them ("вкл"/"выкл" for flags, the GSM module's name, the
// ring as its list shows it). One table, built from the pages' own captions
// and keyed by the field table's entries (model/Fields.h).
//
// A loop's normal state (two radio buttons, two file keys) and the GSM module
// (three radio buttons, three file keys) are one setting each, one row.
//
// GUI thread only (the captions are QStrings built once).
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "model/Fields.h"

namespace SettingNames {

// The page that shows a field: "Общие", "Ключи", "GSM" or "АЦП".
QString Page(const TField& field);
// The setting as its page labels it.
QString Label(const TField& field);
// A field's value (its file form) as its control shows it; "" (a side that
// does not hold the field) as a dash.
QString Value(const TField& field, const std::string& text);

// One setting that differs between two sides.
struct TRow {
  const TField* Field = nullptr;  // the first field of the setting
  QString Page;
  QString Name;
  QString Left;
  QString Right;
};

// The differences as rows: one a setting, grouped by page in the order of
// the navigation (Общие, Ключи, GSM, АЦП), each page's rows in the order of
// the field table.
std::vector<TRow> Rows(const std::vector<TDifference>& differences);

// The rows as text, one line a row with tab-separated columns, under a line
// of the column headers.
QString AsText(const std::vector<TRow>& rows, const QStringList& headers);

}  // namespace SettingNames
