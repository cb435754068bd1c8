#include "model/Operation.h"

TGroup GroupOfPage(const std::string& page) {
  if (page == "TformKeys") return TGroup::Keys;
  if (page == "TformGSM") return TGroup::Gsm;
  if (page == "TformACP") return TGroup::Adc;
  return TGroup::Common;
}

std::string ResultMessage(const TOperationResult& r) {
  const bool ok = r.Succeeded();
  switch (r.Mode) {
    case Modes::ReadPage:
      if (!ok) return "ОШИБКА при чтении!";
      if (r.Page == "TformCommon") return "Успешно прочитали общие настройки";
      if (r.Page == "TformKeys") return "Успешно прочитали ключи";
      return {};
    case Modes::WritePage:
      if (!ok) return "ОШИБКА при записи!";
      if (r.Page == "TformCommon") return "Успешно записали общие настройки";
      if (r.Page == "TformKeys") return "Успешно записали ключи!";
      return {};
    case Modes::ReadAll:
    case Modes::WriteAll: {
      const bool read = r.Mode == Modes::ReadAll;
      if (ok) return read ? "Чтение всех параметров завершено!" : "Запись всех параметров завершена!";
      // A stop or a lost link ends Read all and Write all without a word.
      if (r.Outcome == TOutcome::Interrupted || r.Outcome == TOutcome::LinkLost) return {};
      if (r.Page == "TformCommon") return read ? "ОШИБКА при чтении общих настроек!" : "ОШИБКА при записи общих настроек!";
      if (r.Page == "TformKeys") return read ? "ОШИБКА при чтении ключей!" : "ОШИБКА при записи ключей!";
      return read ? "ОШИБКА при чтении!" : "ОШИБКА при записи!";
    }
    default:
      return {};
  }
}

std::string OutcomeText(TOutcome outcome) {
  switch (outcome) {
    case TOutcome::Success:
      return "success";
    case TOutcome::FailedRequest:
      return "the panel did not confirm";
    case TOutcome::Refused:
      return "the panel refused";
    case TOutcome::LinkLost:
      return "the link to the panel was lost";
    case TOutcome::Interrupted:
      return "interrupted";
  }
  return {};
}
