// The GSM modem data call: bring it up before the first panel command and
// hang it up when the link ends.
#include "link/xModem.h"

namespace {

bool Contains(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

// The "+CREG:" line of a registration answer, else the modem's last words.
std::string RegistrationWords(const std::string& reply) {
  const size_t at = reply.rfind("+CREG:");
  if (at == std::string::npos) return ModemWords(reply);
  return ModemWords(reply.substr(at, reply.find_first_of("\r\n", at) - at));
}

constexpr int kPasses = 3;

}  // namespace

// Reads whatever the modem sends for ms and shows it in the memo.
void TModem::Collect(uint32_t ms) {
  std::string text;
  ReadUntil(text, static_cast<int32_t>(ms), "EEERROR");
  Traffic(text);
}

void TModem::PollRegistration() {
  static const char* const accepted[] = {"+CREG: 0, 1", "+CREG: 0, 5", "+CREG: 0,5", "+CREG:0, 5", "+CREG:0,5"};
  bool polling = true;
  int poll = 0;
  while (polling && !terminated_.load()) {
    const std::string count = std::to_string(++poll);
    queue_.PostControlText(Targets::Panel2, "Ожидание регистрации в сети: опрос " + count);
    std::string reply;
    if (SendCommand("AT+CREG?", reply, 5, 500, "+CREG: 0,1", true, false) == 0) polling = false;
    for (const char* form : accepted)
      if (Contains(reply, form)) polling = false;
    // The modem's answer stays in view while the next poll waits.
    if (polling && !terminated_.load()) {
      const std::string words = RegistrationWords(reply);
      queue_.PostControlText(Targets::CallLine, "Нет регистрации в сети (опрос " + count + "), ответ модема: " +
                                                    (words.empty() ? std::string("нет ответа") : words));
    }
    Collect(500);
    Collect(1500);
  }
  if (!polling) queue_.PostControlText(Targets::CallLine, "Модем зарегистрирован в сети");
}

// One initialisation command; false when the modem's answer failed the check
// (the caller counts the failed pass).
bool TModem::InitModem(const std::string& command) {
  queue_.PostControlText(Targets::Panel2, "Инициализация модема: " + command);
  std::string reply;
  bool noAnswer = SendCommand(command, reply, 1, 4500, "", false, false) == 1;
  // The first part of the answer keeps the modem's words when the second read finds nothing more.
  std::string said = reply;
  if (!Contains(reply, "OK")) {
    noAnswer = !ReadUntil(reply, 4500, "\r");
    said += reply;
  }
  int32_t code = 0;
  CheckReply(noAnswer, reply, 0, code);
  if (code == 1) {
    NoteCallFailure("Инициализация модема: " + command, said);
    queue_.PostControlText(Targets::Panel2, "ОШИБКА инициализации модема: " + command);
    return false;
  }
  return true;
}

bool TModem::EstablishLink() {
  if (phone_.empty()) return true;
  try {
    int failures = 0;
    ClearRTS();
    Collect(500);
    SetRTS();
    queue_.PostControlText(Targets::Panel2, "Ожидание готовности модема");
    std::string ready;
    ReadUntilAny(ready, {"+CPIN: READY", "EEERROR"}, 7500);
    Traffic(ready);
    if (waitForNetwork_) PollRegistration();

    while (failures != kPasses && !terminated_.load()) {
      // Each pass is one attempt at the call; the line keeps why the last one failed.
      std::string attempt = "Звонок на " + phone_ + ": попытка " + std::to_string(failures + 1) + " из " +
                            std::to_string(kPasses);
      if (failures > 0) {
        const TCallFailure last = CallFailure();
        attempt += ", предыдущая: " + last.Stage + (last.Words.empty() ? " (нет ответа)" : " (" + last.Words + ")");
      }
      queue_.PostControlText(Targets::CallLine, attempt);
      if (!InitModem("ATZ")) {
        ++failures;
        continue;
      }
      if (!terminated_.load() && !InitModem("AT+CBST=7,0,1")) {
        ++failures;
        continue;
      }
      if (!terminated_.load() && !InitModem("AT")) {
        ++failures;
        continue;
      }
      std::string connected;
      if (!terminated_.load()) {
        queue_.PostControlText(Targets::Panel2, "Набор номера: " + phone_);
        port_->WriteString("ATD " + phone_ + "\r");
        const bool matched = ReadUntilAny(connected, {"CONNECT 9600", "NO CARIER", "BUSY"}, 60000);
        int32_t code = 0;
        // A dial cut short by a stop request is no failure of the call.
        if (!matched && terminated_.load()) break;
        CheckReply(!matched, connected, 1, code);
        if (code == 1) {
          ++failures;
          NoteCallFailure("Набор номера: " + phone_, connected);
          queue_.PostControlText(Targets::Panel2, "Не могу дозвониться до : " + phone_);
          continue;
        }
      }
      if (!terminated_.load()) {
        Log(" # Цифровое соединение успешно установленно", true, true);
        queue_.PostControlText(Targets::Panel2, "Цифровое соединение успешно установленно");
        queue_.PostControlText(Targets::CallLine, "Звонок на " + phone_ + ": соединение 9600 бит/с");
        dataCallUp_ = true;
        failures = kPasses;
      }
      DrainInput();
    }
  } catch (const std::exception& e) {
    LogFault(" # !!! Ошибка при отправке команды COM порту: ", e);
  }
  if (dataCallUp_) return true;
  Terminate();
  return false;
}

void TModem::HangUp() {
  queue_.PostControlText(Targets::Panel2, "Завершение звонка: +++, ATH, ATZ");
  clock_.Wait(2000);
  hangingUp_.store(true);
  port_->SetCancelFd(-1);
  std::string reply;
  SendCommand("+++", reply, 1, 4500, "OK", false, true);
  SendCommand("ATH", reply, 1, 4500, "OK", false, false);
  SendCommand("ATZ", reply, 1, 4500, "OK", false, false);
  dataCallUp_ = false;
  ClearRTS();
  Collect(500);
  port_->SetCancelFd(stopFd_);
  hangingUp_.store(false);
}
