#include "protocol/DevOstrel.h"

#include <exception>

#include "link/xModem.h"
#include "protocol/ProtocolText.h"

namespace {

const std::string Separator81(81, '=');

}  // namespace

TDevOstrel::TDevOstrel(TOutArray& queue) : queue_(queue) {}

std::string TDevOstrel::ReplyLine(const std::string& text) {
  const size_t first = text.find('\r');
  if (first == std::string::npos) return {};
  const size_t second = text.find('\r', first + 1);
  if (second == std::string::npos) return {};
  return text.substr(first + 1, second - first - 1);
}

std::string TDevOstrel::ZeroPad(int number, int width) {
  std::string text = std::to_string(number);
  while (static_cast<int>(text.size()) < width) text.insert(text.begin(), '0');
  return text;
}

std::string TDevOstrel::ReadControl(const std::string& page, const std::string& name) {
  return reader_ ? reader_->ReadText({page, name}) : std::string();
}

void TDevOstrel::Step(uint8_t mode) {
  switch (mode) {
    case 0:
      IdleStep();
      break;
    case 1:
      CheckConnection();
      break;
    case 3:
      failed_ = false;
      ReadPage();
      Link().EndMode(3);
      break;
    case 4:
      failed_ = false;
      WritePage();
      Link().EndMode(4);
      break;
    case 5:
      failed_ = false;
      ReadAll();
      Link().EndMode(5);
      break;
    case 6:
      failed_ = false;
      WriteAll();
      Link().EndMode(6);
      break;
    default:
      break;
  }
}

void TDevOstrel::IdleStep() {
  Link().IdleWait(50);
  try {
    Link().DrainInput();
  } catch (const std::exception& e) {
    Link().Log(std::string(" # !!! Ошибка при работе с COM портом: ") + e.what(), true, true);
    Link().Terminate();
  }
}

void TDevOstrel::CheckConnection() {
  TModem& link = Link();
  if (!link.EstablishLink()) return;
  queue_.PostControlText(Targets::Panel2, "Идёт проверка версии!");
  std::string reply;
  link.SendCommand("+v", reply, 3, 4500, "OK", false);
  if (reply.empty()) {
    queue_.PostControlText(Targets::Panel2, "ОШИБКА! Устройство не ответило!");
    link.Terminate();
  } else {
    link.Log(" # " + reply, true, true);
    int32_t code = 0;
    link.CheckReply(false, reply, 3, code);
    if (code == 1) {
      queue_.PostControlText(Targets::Panel2, "ОШИБКА! Сбой соединения");
      link.Terminate();
    } else {
      try {
        const std::string version = ReplyLine(reply);
        queue_.PostControlText(Targets::RzStatusPane2, version);
        if (version.find("VER 05") == std::string::npos) {
          link.Terminate();
          queue_.PostControlText(Targets::Panel2, "ОШИБКА! НЕ верная версия прошивки");
        }
      } catch (const std::exception&) {
        queue_.PostControlText(Targets::Panel2, "ОШИБКА при проверки версии!");
        link.Terminate();
      }
    }
  }
  // The outcome is queued before the mode goes back to 0, so whoever waits
  // for the mode finds it there.
  if (!link.IsTerminated()) {
    queue_.PostControlText(Targets::Panel2, "СОЕДИНЕНИЕ УСТАНОВЛЕНО");
    queue_.PostControlText(Targets::Button1, "Click");
  }
  // A mode the window set meanwhile (an operation asked for as soon as it saw
  // the "Click") is kept.
  link.EndMode(1);
}

void TDevOstrel::ReadPage() { RunPage(false); }

void TDevOstrel::WritePage() { RunPage(true); }

// The exchange of the current page's group, with the page navigation
// disabled meanwhile; a failure is reported only for an operation on the
// current page (modes 3 and 4), not during Read all or Write all.
void TDevOstrel::RunPage(bool write) {
  struct TGroup {
    const std::string& page;
    void (TDevOstrel::*read)();
    void (TDevOstrel::*write)();
  };
  static const TGroup groups[] = {{Pages::Common, &TDevOstrel::ReadCommon, &TDevOstrel::WriteCommon},
                                  {Pages::Keys, &TDevOstrel::ReadKeys, &TDevOstrel::WriteKeys},
                                  {Pages::ACP, &TDevOstrel::ReadAdc, &TDevOstrel::WriteAdc},
                                  {Pages::GSM, &TDevOstrel::ReadGsm, &TDevOstrel::WriteGsm}};
  queue_.PostPersistent(Targets::RzGroup2, "false");
  const std::string page = GetPage();
  try {
    for (const TGroup& g : groups)
      if (g.page == page) {
        (this->*(write ? g.write : g.read))();
        break;
      }
  } catch (const std::exception& e) {
    Link().Log(std::string(" # !!! Ошибка при работе с COM портом: ") + e.what(), true, true);
  }
  queue_.PostPersistent(Targets::RzGroup2, "true");
  if (Link().GetMode() == (write ? 4 : 3) && failed_)
    queue_.PostMsg(write ? "ОШИБКА при записи!" : "ОШИБКА при чтении!");
}

void TDevOstrel::ReadAll() {
  static const TAllTexts texts{"Читаем всё",
                               "Окончили читать всё",
                               "Чтение всех параметров завершено!",
                               "ОШИБКА при чтении общих настроек!",
                               "ОШИБКА при чтении ключей!",
                               "ОШИБКА при чтении!"};
  RunAll(&TDevOstrel::ReadPage, texts);
}

void TDevOstrel::WriteAll() {
  static const TAllTexts texts{"Пишем всё",
                               "Окончили писать всё",
                               "Запись всех параметров завершена!",
                               "ОШИБКА при записи общих настроек!",
                               "ОШИБКА при записи ключей!",
                               "ОШИБКА при записи!"};
  RunAll(&TDevOstrel::WritePage, texts);
}

// Read all and Write all: the common settings, the keys and the GSM page in
// turn, each brought to the front; a failed common or keys page ends it.
void TDevOstrel::RunAll(void (TDevOstrel::*pageOperation)(), const TAllTexts& texts) {
  TModem& link = Link();
  link.Log(" ", false, false);
  link.Log(Separator81, false, false);
  link.Log(texts.start, false, true);
  const std::pair<const std::string*, const char*> pages[] = {
      {&Pages::Common, texts.commonFailed}, {&Pages::Keys, texts.keysFailed}, {&Pages::GSM, texts.gsmFailed}};
  for (const auto& [page, failure] : pages) {
    SetPage(*page);
    queue_.PostControlText({*page, ""}, "Show");
    (this->*pageOperation)();
    if (link.IsTerminated()) return;
    if (failed_) {
      queue_.PostMsg(failure);
      return;
    }
  }
  link.Log(texts.end, false, true);
  link.Log(Separator81, false, false);
  queue_.PostMsg(texts.done);
}

bool TDevOstrel::QueryValue(const std::string& command, const TTarget& label, std::string& reply,
                            const TRequestRule& rule) {
  TModem& link = Link();
  if (link.IsTerminated()) return false;
  queue_.PostControlColor(label, clWindowText);
  const bool good = Request(command, reply, 1, rule);
  reply = good ? ReplyLine(reply) : std::string();
  queue_.PostControlColor(label, good ? clBlue : clRed);
  return good;
}

bool TDevOstrel::Request(const std::string& command, std::string& reply, int32_t attempts, const TRequestRule& rule) {
  TModem& link = Link();
  size_t answerAt = 0;
  const TAttemptJudge judge = [&](const std::string& text) {
    const TReplyJudgement judgement = JudgeAnswer(command, text, rule);
    answerAt = judgement.AnswerAt;
    switch (judgement.Fault) {
      case TReplyFault::Good:
        return TAttemptVerdict{TAttemptVerdict::Good, {}};
      case TReplyFault::Incomplete:
        return TAttemptVerdict{TAttemptVerdict::Waiting, {}};
      default:
        return TAttemptVerdict{TAttemptVerdict::Bad, UntrustedReplyLine(command, judgement)};
    }
  };
  if (link.SendCommand(command, reply, attempts, 4500, "OK", true, false, judge) != 0) return false;
  reply.erase(0, answerAt);
  return true;
}
