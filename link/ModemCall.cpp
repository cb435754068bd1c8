// The GSM modem data call: bring it up before the first panel command and
// hang it up when the link ends.
#include "link/xModem.h"

namespace {

bool Contains(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

}  // namespace

// Reads whatever the modem sends for ms and shows it in the memo.
void TModem::Collect(uint32_t ms) {
  std::string text;
  ReadUntil(text, static_cast<int32_t>(ms), "EEERROR");
  Log(text, true, false);
}

void TModem::PollRegistration() {
  static const char* const accepted[] = {"+CREG: 0, 1", "+CREG: 0, 5", "+CREG: 0,5", "+CREG:0, 5", "+CREG:0,5"};
  bool polling = true;
  while (polling && !terminated_.load()) {
    std::string reply;
    if (SendCommand("AT+CREG?", reply, 5, 500, "+CREG: 0,1", true, false) == 0) polling = false;
    for (const char* form : accepted)
      if (Contains(reply, form)) polling = false;
    Collect(500);
    Collect(1500);
  }
}

// One initialisation command; false when the modem's answer failed the check
// (the caller counts the failed pass).
bool TModem::InitModem(const std::string& command) {
  queue_.PostControlText(Targets::Panel2, "Инициализация модема: " + command);
  std::string reply;
  bool noAnswer = SendCommand(command, reply, 1, 4500, "", false, false) == 1;
  if (!Contains(reply, "OK")) noAnswer = !ReadUntil(reply, 4500, "\r");
  int32_t code = 0;
  CheckReply(noAnswer, reply, 0, code);
  if (code == 1) {
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
    std::string ready;
    ReadUntilAny(ready, {"+CPIN: READY", "EEERROR"}, 7500);
    Log(ready, true, false);
    if (waitForNetwork_) PollRegistration();

    while (failures != 3 && !terminated_.load()) {
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
      if (!terminated_.load()) {
        queue_.PostControlText(Targets::Panel2, "Набор номера: " + phone_);
        port_->WriteString("ATD " + phone_ + "\r");
        std::string reply;
        const bool matched = ReadUntilAny(reply, {"CONNECT 9600", "NO CARIER", "BUSY"}, 60000);
        int32_t code = 0;
        CheckReply(!matched, reply, 1, code);
        if (code == 1) {
          ++failures;
          queue_.PostControlText(Targets::Panel2, "Не могу дозвониться до : " + phone_);
          continue;
        }
      }
      if (!terminated_.load()) {
        Log(" # Цифровое соединение успешно установленно", true, true);
        queue_.PostControlText(Targets::Panel2, "Цифровое соединение успешно установленно");
        dataCallUp_ = true;
        failures = 3;
      }
      DrainInput();
    }
  } catch (const std::exception& e) {
    Log(std::string(" # !!! Ошибка при отправке команды COM порту: ") + e.what(), true, true);
  }
  if (dataCallUp_) return true;
  Terminate();
  return false;
}

void TModem::HangUp() {
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
