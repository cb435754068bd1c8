#include "ui/SettingNames.h"

#include <algorithm>
#include <map>

#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"

namespace SettingNames {

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

bool IsNorm(const TField& f) { return f.Section == "Norm"; }
bool IsModule(const TField& f) { return f.Rule == TRule::ModuleFlag; }
int LoopOfEntry(int entry) { return entry <= 8 ? entry - 4 : entry - 8; }

// A row of the events or of a loop, as the page labels it.
QString RowName(int entry) {
  if (entry < TSettings::kFirstLoopEntry) return TformCommon::EventName(entry);
  return U("Шлейф %1, %2").arg(LoopOfEntry(entry)).arg(entry <= 8 ? U("замыкание") : U("размыкание"));
}

QString BuildLabel(const TField& f) {
  const int entry = f.Index + 1;
  if (f.Section == "Phones") return RowName(entry) + U(": телефон");
  if (f.Section == "React") return RowName(entry) + U(": реакция");
  if (IsNorm(f)) return U("Шлейф %1: нормальное состояние").arg(LoopOfEntry(entry));
  if (f.Section == "24Hours") return U("Шлейф %1: 24 часа").arg(f.Index + 1);
  if (f.Control == "cbFastGuard") return U("Быстрая постановка на охрану");
  if (f.Control == "cbWaitSend") return U("Дожидаться отправки");
  if (f.Control == "seTimeOut") return U("Задержка на вход");
  if (f.Control == "seTimeOut2") return U("Задержка на выход");
  if (f.Rule == TRule::Key) return U("Ключ %1").arg(f.Index + 1);
  if (f.Rule == TRule::Threshold) return U("Канал %1: %2").arg(f.Channel + 1).arg(TformACP::StateCaption(f.Index));
  if (IsModule(f)) return U("Подключённый GSM модуль");
  if (f.Rule == TRule::Ring) return U("Длительность звонка");
  return QString::fromStdString(f.Display);
}

// The one table: the label of each field, by its place in Fields().
const std::vector<QString>& Labels() {
  static const std::vector<QString> labels = [] {
    std::vector<QString> l;
    for (const TField& f : Fields()) l.push_back(BuildLabel(f));
    return l;
  }();
  return labels;
}

int PageRank(TGroup group) {
  switch (group) {
    case TGroup::Common:
      return 0;
    case TGroup::Keys:
      return 1;
    case TGroup::Gsm:
      return 2;
    case TGroup::Adc:
      return 3;
  }
  return 4;
}

const char* const kNoValue = "—";

// A loop's normal state from the texts of its two rows.
QString NormValue(const std::string& upper, const std::string& lower) {
  if (upper.empty() || lower.empty()) return U(kNoValue);
  if (upper == "1") return U("Замыкание");
  if (lower == "1") return U("Размыкание");
  return U("не выбрано");
}

}  // namespace

QString Page(const TField& field) {
  switch (field.Group) {
    case TGroup::Common:
      return U("Общие");
    case TGroup::Keys:
      return U("Ключи");
    case TGroup::Gsm:
      return QStringLiteral("GSM");
    case TGroup::Adc:
      return U("АЦП");
  }
  return QString();
}

QString Label(const TField& field) {
  const auto& fields = Fields();
  const auto place = &field - fields.data();
  if (place >= 0 && place < qsizetype(fields.size())) return Labels()[size_t(place)];
  return BuildLabel(field);
}

QString Value(const TField& field, const std::string& text) {
  if (text.empty()) return field.Rule == TRule::Phone ? U("(пусто)") : U(kNoValue);
  switch (field.Rule) {
    case TRule::Flag:
      return text == "1" ? U("вкл") : U("выкл");
    case TRule::ModuleFlag:
      return text == "1" ? TformGSM::ModuleCaption(field.Index) : U("выкл");
    case TRule::Ring:
      return QString::number(QString::fromStdString(text).toInt() + 1);
    default:
      return QString::fromStdString(text);
  }
}

std::vector<TRow> Rows(const std::vector<TDifference>& differences) {
  // What each field's two sides hold, where they differ.
  std::map<const TField*, const TDifference*> found;
  for (const TDifference& d : differences) found[d.Field] = &d;
  const auto& fields = Fields();
  // A side's text of a field: its difference, or, where they agree, the
  // value both hold as far as the other fields of the setting tell it.
  std::vector<TRow> rows;
  bool moduleDone = false;
  std::vector<bool> loopDone(TSettings::kLoops + 1, false);
  for (const TDifference& d : differences) {
    const TField& f = *d.Field;
    TRow row;
    row.Field = d.Field;
    row.Page = Page(f);
    row.Name = Label(f);
    if (IsNorm(f)) {
      const int loop = LoopOfEntry(f.Index + 1);
      if (loopDone[size_t(loop)]) continue;
      loopDone[size_t(loop)] = true;
      const TField* upper = nullptr;
      const TField* lower = nullptr;
      for (const TField& g : fields)
        if (IsNorm(g) && LoopOfEntry(g.Index + 1) == loop) (g.Index + 1 <= 8 ? upper : lower) = &g;
      const TDifference* du = found.count(upper) ? found[upper] : nullptr;
      const TDifference* dl = found.count(lower) ? found[lower] : nullptr;
      // A row that agrees is "0": the other row of the loop differs, so one
      // side holds it as the normal state, which no two rows share.
      row.Field = du ? upper : lower;
      row.Left = NormValue(du ? du->Left : "0", dl ? dl->Left : "0");
      row.Right = NormValue(du ? du->Right : "0", dl ? dl->Right : "0");
    } else if (IsModule(f)) {
      if (moduleDone) continue;
      moduleDone = true;
      const auto side = [&](bool left) {
        for (const TDifference& m : differences) {
          if (!IsModule(*m.Field)) continue;
          const std::string& text = left ? m.Left : m.Right;
          if (text.empty()) return U(kNoValue);
          if (text == "1") return TformGSM::ModuleCaption(m.Field->Index);
        }
        return U(kNoValue);
      };
      row.Left = side(true);
      row.Right = side(false);
    } else {
      row.Left = Value(f, d.Left);
      row.Right = Value(f, d.Right);
    }
    rows.push_back(row);
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const TRow& a, const TRow& b) { return PageRank(a.Field->Group) < PageRank(b.Field->Group); });
  return rows;
}

QString AsText(const std::vector<TRow>& rows, const QStringList& headers) {
  QStringList lines;
  lines << headers.join(u'\t');
  for (const TRow& r : rows) lines << QStringList{r.Page, r.Name, r.Left, r.Right}.join(u'\t');
  return lines.join(u'\n') + u'\n';
}

}  // namespace SettingNames
