#include "protocol/DevOstrel.h"

#include <exception>

#include "link/xModem.h"
#include "model/Fields.h"
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

void TDevOstrel::SetSettings(const TSettings& settings) {
  const std::lock_guard<std::mutex> lock(settingsMutex_);
  handed_ = settings;
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
      BeginOperation(mode);
      ReadPage();
      EndOperation();
      Link().EndMode(3);
      break;
    case 4:
      BeginOperation(mode);
      WritePage();
      EndOperation();
      Link().EndMode(4);
      break;
    case 5:
      BeginOperation(mode);
      ReadAll();
      EndOperation();
      Link().EndMode(5);
      break;
    case 6:
      BeginOperation(mode);
      WriteAll();
      EndOperation();
      Link().EndMode(6);
      break;
    case Modes::Monitor:
      Monitor();
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
    Link().FailOn(" # !!! Ошибка при работе с COM портом: ", e);
  }
}

void TDevOstrel::BeginOperation(uint8_t mode) {
  failed_ = false;
  faultSeen_ = false;
  result_ = TOperationResult();
  result_.Mode = mode;
  read_ = TSettings();
  read_.Groups = TGroups::None();
  if (mode == Modes::WritePage || mode == Modes::WriteAll) {
    const std::lock_guard<std::mutex> lock(settingsMutex_);
    writing_ = handed_;
  }
}

void TDevOstrel::Fail(TOutcome outcome, const std::string& command) {
  failed_ = true;
  if (faultSeen_) return;
  faultSeen_ = true;
  result_.Outcome = outcome;
  result_.Command = command;
}

// The outcome: a stop, or a link gone (its own line tells why), outranks the
// first failed request.
void TDevOstrel::EndOperation() {
  TModem& link = Link();
  const std::string fault = link.FaultLine();
  if (!fault.empty()) {
    result_.Outcome = TOutcome::LinkLost;
    result_.Detail = fault;
  } else if (link.IsTerminated()) {
    if (result_.Outcome != TOutcome::LinkLost) result_.Outcome = TOutcome::Interrupted;
  } else if (failed_ && result_.Outcome == TOutcome::Success) {
    result_.Outcome = TOutcome::FailedRequest;
  }
  FinishRead();
  result_.Settings = read_;
  queue_.PostResult(result_);
}

// What a read made of the panel's replies, in the one form that read,
// backups, compares, checks and the window share. Write's strict check must
// take all of it; should a read ever hold what it would refuse, that is
// named in the traffic, and the read stands as it is.
void TDevOstrel::FinishRead() {
  Canonicalise(read_);
  std::string names;
  for (const TField* f : BrokenFields(read_)) names += (names.empty() ? "" : ", ") + f->Section + "/" + f->Key;
  if (!names.empty()) Link().Log(" # !!! Прочитанное не пройдёт проверку записи: " + names, true, true);
}

void TDevOstrel::CheckConnection() {
  TModem& link = Link();
  TOperationResult result;
  result.Mode = Modes::Check;
  const auto failed = [&](TOutcome outcome, const std::string& detail) {
    if (result.Outcome != TOutcome::Success) return;
    result.Outcome = outcome;
    result.Command = "+v";
    result.Detail = detail;
  };
  if (!link.EstablishLink()) {
    // The call could not be made; the link has already been asked to stop.
    result.Outcome = TOutcome::LinkLost;
    result.Detail = link.FaultLine();
    result.Settings.Groups = TGroups::None();
    queue_.PostResult(result);
    return;
  }
  queue_.PostControlText(Targets::Panel2, "Идёт проверка версии!");
  std::string reply;
  link.SendCommand("+v", reply, 3, 4500, "OK", false);
  if (reply.empty()) {
    const bool stopped = link.IsTerminated();
    queue_.PostControlText(Targets::Panel2, "ОШИБКА! Устройство не ответило!");
    link.Terminate();
    failed(stopped ? TOutcome::Interrupted : TOutcome::FailedRequest, "ОШИБКА! Устройство не ответило!");
  } else {
    link.Log(" # " + reply, true, true);
    int32_t code = 0;
    link.CheckReply(false, reply, 3, code);
    if (code == 1) {
      queue_.PostControlText(Targets::Panel2, "ОШИБКА! Сбой соединения");
      link.Terminate();
      failed(TOutcome::LinkLost, "ОШИБКА! Сбой соединения");
    } else {
      try {
        const std::string version = ReplyLine(reply);
        result.Settings.Version = version;
        queue_.PostControlText(Targets::RzStatusPane2, version);
        if (version.find("VER 05") == std::string::npos) {
          link.Terminate();
          queue_.PostControlText(Targets::Panel2, "ОШИБКА! НЕ верная версия прошивки");
          failed(TOutcome::FailedRequest, "ОШИБКА! НЕ верная версия прошивки");
        }
      } catch (const std::exception&) {
        queue_.PostControlText(Targets::Panel2, "ОШИБКА при проверки версии!");
        link.Terminate();
        failed(TOutcome::FailedRequest, "ОШИБКА при проверки версии!");
      }
    }
  }
  // The outcome is queued before the mode goes back to 0, so whoever waits
  // for the mode finds it there.
  if (!link.IsTerminated()) {
    queue_.PostControlText(Targets::Panel2, "СОЕДИНЕНИЕ УСТАНОВЛЕНО");
    queue_.PostControlText(Targets::Button1, "Click");
  } else if (result.Outcome == TOutcome::Success) {
    // Stopped from outside while the check ran.
    result.Outcome = TOutcome::Interrupted;
  }
  if (!link.FaultLine().empty()) {
    result.Outcome = TOutcome::LinkLost;
    result.Detail = link.FaultLine();
  }
  result.Settings.Groups = TGroups::None();
  queue_.PostResult(result);
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
  if (result_.Mode == Modes::ReadPage || result_.Mode == Modes::WritePage) result_.Page = page;
  const bool failedBefore = failed_;
  failed_ = false;
  try {
    for (const TGroup& g : groups)
      if (g.page == page) {
        (this->*(write ? g.write : g.read))();
        // A page's group counts as read only when every request of it was.
        if (!write && !failed_ && !Link().IsTerminated()) read_.Groups |= GroupOfPage(page);
        break;
      }
  } catch (const std::exception& e) {
    Link().LogFault(" # !!! Ошибка при работе с COM портом: ", e);
    Fail(TOutcome::LinkLost, std::string());
    result_.Detail = std::string("Ошибка при работе с COM портом: ") + e.what();
  }
  failed_ = failed_ || failedBefore;
  queue_.PostPersistent(Targets::RzGroup2, "true");
}

void TDevOstrel::ReadAll() {
  static const TAllTexts texts{"Читаем всё", "Окончили читать всё"};
  RunAll(&TDevOstrel::ReadPage, texts);
}

void TDevOstrel::WriteAll() {
  static const TAllTexts texts{"Пишем всё", "Окончили писать всё"};
  RunAll(&TDevOstrel::WritePage, texts);
}

// Read all and Write all: the common settings, the keys and the GSM page in
// turn, each brought to the front; a failed common or keys page ends it.
void TDevOstrel::RunAll(void (TDevOstrel::*pageOperation)(), const TAllTexts& texts) {
  TModem& link = Link();
  link.Log(" ", false, false);
  link.Log(Separator81, false, false);
  link.Log(texts.start, false, true);
  const std::string* const pages[] = {&Pages::Common, &Pages::Keys, &Pages::GSM};
  for (const std::string* page : pages) {
    SetPage(*page);
    queue_.PostControlText({*page, ""}, "Show");
    (this->*pageOperation)();
    if (link.IsTerminated()) return;
    if (failed_) {
      // The window names the page that failed from the result.
      result_.Page = *page;
      return;
    }
  }
  link.Log(texts.end, false, true);
  link.Log(Separator81, false, false);
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
  TReplyFault last = TReplyFault::Incomplete;
  const TAttemptJudge judge = [&](const std::string& text) {
    const TReplyJudgement judgement = JudgeAnswer(command, text, rule);
    answerAt = judgement.AnswerAt;
    last = judgement.Fault;
    switch (judgement.Fault) {
      case TReplyFault::Good:
        return TAttemptVerdict{TAttemptVerdict::Good, {}};
      case TReplyFault::Incomplete:
        return TAttemptVerdict{TAttemptVerdict::Waiting, {}};
      default:
        return TAttemptVerdict{TAttemptVerdict::Bad, UntrustedReplyLine(command, judgement)};
    }
  };
  if (link.SendCommand(command, reply, attempts, 4500, "OK", true, false, judge) != 0) {
    // The last attempt's answer tells a refusal from silence or a bad value.
    Fail(last == TReplyFault::Refused ? TOutcome::Refused : TOutcome::FailedRequest, command);
    return false;
  }
  reply.erase(0, answerAt);
  return true;
}
