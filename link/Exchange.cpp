// The command exchange of the link thread: send a command, collect the reply
// until the expected text or a time-out, retry, log the traffic.
#include <sys/ioctl.h>

#include <algorithm>

#include "link/xModem.h"

namespace {

bool Contains(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

bool ReportsLostLink(const std::string& reply) {
  return Contains(reply, "NO CARRIER") || Contains(reply, "DISCONNECT") || Contains(reply, "BUSY");
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && AsciiUpper(a) == AsciiUpper(b);
}

// A command is printable ASCII; only its own final carriage return may end it.
// Anything else would let one value start a command of its own on the panel.
bool IsSafeCommand(const std::string& command) {
  for (size_t i = 0; i < command.size(); ++i) {
    const auto c = static_cast<unsigned char>(command[i]);
    if (c > 0x7E || (c < 0x20 && !(c == '\r' && i + 1 == command.size()))) return false;
  }
  return true;
}

// The command with every byte outside printable ASCII shown as \xNN.
std::string Escaped(const std::string& command) {
  static const char Hex[] = "0123456789ABCDEF";
  std::string text;
  for (const char ch : command) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c <= 0x7E) {
      text += ch;
    } else {
      text += "\\x";
      text += Hex[c >> 4];
      text += Hex[c & 0x0F];
    }
  }
  return text;
}

}  // namespace

uint8_t TModem::SendCommand(const std::string& command, std::string& reply, int32_t attempts, int32_t timeoutMs,
                            const std::string& expected, bool failOnMismatch, bool raw, const TAttemptJudge& judge) {
  reply.clear();
  if (!IsSafeCommand(command)) {
    Log(" # !!! Команда не отправлена, в ней недопустимый символ: " + Escaped(command), true, true);
    return 1;
  }
  if (!port_->IsOpen()) return 1;
  const bool shown = trafficInMemo_;
  Traffic("-> " + command);
  uint8_t result = 1;
  const std::string wanted = expected.empty() ? std::string("\r") : expected;
  try {
    for (int32_t n = 0; n < attempts && !StopRequested(); ++n) {
      DrainInput();
      result = 1;
      if (StopRequested()) break;
      reply.clear();
      if (attempts != 1) Traffic(" # Попытка № " + std::to_string(n + 1), true);
      SendText(raw ? command : command + '\r');
      std::string why;
      const bool matched = ReadUntil(reply, timeoutMs, wanted, judge, &why);
      Traffic(" <<- " + reply);
      if (matched) {
        if (shown) queue_.PostControlText(Targets::Memo1, "good=" + reply);
        return 0;
      }
      if (reply.empty()) {
        result = 1;
      } else {
        // A judged attempt counts only when the judge took it.
        result = failOnMismatch || judge ? 1 : 0;
        Traffic(" <- " + reply);
        if (!why.empty()) Log(why, shown, true);
        // The call went down instead of an answer: the link is lost, and
        // another attempt would only wait in vain (the hang-up dialogue
        // expects such words and carries on).
        int32_t code = 0;
        if (!hangingUp_.load() && !CheckReply(false, reply, 3, code) && code == 1) return 1;
      }
    }
  } catch (const std::exception& e) {
    NoteFailure(e);
    FailOn(" # !!! Ошибка при отправке команды COM порту: ", e);
    return 1;
  }
  return result;
}

bool TModem::ReadUntil(std::string& reply, int32_t timeoutMs, const std::string& expected,
                       const TAttemptJudge& judge, std::string* why) {
  reply.clear();
  const std::string wanted = AsciiUpper(expected);
  const uint32_t start = clock_.NowMs();
  TReplyBuffer buffer(reply, false);
  auto stop = [&] { return StopRequested() || Expired(start, timeoutMs); };
  try {
    for (;;) {
      if (stop()) break;
      TakeWaiting(buffer, stop);
      if (judge) {
        TAttemptVerdict verdict = judge(reply);
        if (verdict.State != TAttemptVerdict::Waiting) {
          LogDropped(buffer);
          if (why) *why = std::move(verdict.Why);
          return verdict.State == TAttemptVerdict::Good;
        }
      } else if (!wanted.empty() && AsciiUpper(reply).find(wanted) != std::string::npos) {
        LogDropped(buffer);
        return true;
      }
      // The call went down: nothing more will come (the hang-up dialogue
      // waits as it always did).
      if (!hangingUp_.load() && ReportsLostLink(reply)) break;
      clock_.Wait(10, port_->Handle(), StopFdForWait());
    }
  } catch (const std::exception& e) {
    NoteFailure(e);
    FailOn(" # !!! Ошибка при чтении данных из COM порта: ", e);
  }
  LogDropped(buffer);
  return false;
}

bool TModem::ReadUntilAny(std::string& reply, std::initializer_list<const char*> texts, int32_t timeoutMs) {
  reply.clear();
  const uint32_t start = clock_.NowMs();
  TReplyBuffer buffer(reply, true);
  auto stop = [&] { return terminated_.load() || Expired(start, timeoutMs); };
  try {
    for (;;) {
      if (stop()) break;
      TakeWaiting(buffer, stop);
      if (std::any_of(texts.begin(), texts.end(), [&](const char* t) { return EqualNoCase(reply, t); })) {
        LogDropped(buffer);
        return true;
      }
      clock_.Wait(10, port_->Handle(), stopFd_);
    }
  } catch (const std::exception& e) {
    NoteFailure(e);
    FailOn(" # !!! Ошибка при чтении данных из COM порта: ", e);
  }
  LogDropped(buffer);
  return false;
}

bool TModem::Expired(uint32_t start, int32_t timeoutMs) {
  return static_cast<int64_t>(clock_.NowMs() - start) > timeoutMs;
}

void TModem::TakeWaiting(TReplyBuffer& buffer, const std::function<bool()>& stop) {
  char c;
  // The deadline is looked at between bytes too: a peer that never stops
  // sending must not hold the wait past its time-out.
  while (!stop() && port_->QueueCount(0) > 0) {
    if (!port_->ReadChar(c) || (c == '\0' && !buffer.KeepNulls)) continue;
    if (buffer.Text.size() < kMaxReply)
      buffer.Text += c;
    else
      ++buffer.Dropped;
  }
}

void TModem::LogDropped(const TReplyBuffer& buffer) {
  if (buffer.Dropped > 0)
    Log(" # !!! Слишком длинный ответ: отброшено байт сверх " + std::to_string(kMaxReply) + ": " +
            std::to_string(buffer.Dropped),
        true, true);
}

void TModem::DrainInput() {
  if (!port_->IsOpen()) return;
  clock_.Wait(10, StopFdForWait());
  std::string data;
  try {
    char c;
    // One drain takes at most kMaxReply bytes; the rest waits for the next.
    while (!StopRequested() && data.size() < kMaxReply && port_->QueueCount(0) > 0) {
      if (port_->ReadChar(c)) data += c;
    }
  } catch (const std::exception& e) {
    NoteFailure(e);
    FailOn(" # !!! Ошибка при чтении данных из COM порта: ", e);
    return;
  }
  if (!data.empty()) {
    Log("<<<<- " + data, false, false);
    int32_t code = 0;
    CheckReply(false, data, 3, code);
  }
}

bool TModem::CheckReply(bool noAnswer, const std::string& reply, uint8_t checkType, int32_t& code) {
  code = 0;
  switch (checkType) {
    case 0:
    case 1: {
      const char* good = checkType == 0 ? "OK" : "CONNECT";
      if (noAnswer) {
        if (checkType == 1)
          Fail("ОШИБКА! Com - порт не ответил!");
        else
          Log("ОШИБКА! Com - порт не ответил!", true, true);
        code = 1;
      } else if (Contains(reply, "ERROR") || Contains(reply, "NO CARRIER") || !Contains(reply, good)) {
        Log("ОШИБКА! Не могу установить цифровое соединение!", true, true);
        code = 1;
      }
      break;
    }
    case 3:
      if (ReportsLostLink(reply)) {
        if (!phone_.empty()) NoteCallFailure("Цифровое соединение с панелью", reply);
        Fail("ОШИБКА!Цифровое соединение разорвано!");
        code = 1;
      } else if (Contains(reply, "ERROR")) {
        code = 2;
      }
      break;
    default:
      break;
  }
  return code == 0;
}

void TModem::SendText(const std::string& text) {
  // Each character has its millisecond: it runs from the previous one's
  // deadline, so neither the write's own time nor a wake-up's lateness is
  // added to the next. A character held up longer than half a millisecond (a
  // slow write) starts a new schedule from now, so none is ever rushed.
  constexpr int64_t kLateNs = 500'000;
  // A stop asked for before the first character sends nothing. One asked for
  // later lets the text finish, carriage return included: half a command
  // left in the panel's buffer would be completed by the next session's
  // first command into another one. Commands are a few tens of characters,
  // so that takes a few tens of milliseconds; a longer text stops at once.
  constexpr size_t kFinishedOnStop = 64;
  if (StopRequested()) return;
  TDeadline due = clock_.DeadlineIn(0);
  for (size_t i = 0; i < text.size(); ++i) {
    if (StopRequested() && text.size() - i > kFinishedOnStop) return;
    const TDeadline now = clock_.DeadlineIn(0);
    due = (now.NsSince(due) < kLateNs ? due : now).After(1);
    // A write stalled on a full line ends through the port's cancel
    // descriptor (the stop signal): the rest cannot go out then.
    if (!port_->WriteChar(text[i]) && StopRequested()) return;
    clock_.WaitUntil(due);
  }
}

void TModem::SetRTS() {
  Traffic("SetRTS", true);
  int flag = TIOCM_RTS;
  // A pseudo-terminal refuses the modem lines; the change is best effort.
  if (port_->IsOpen()) ioctl(port_->Handle(), TIOCMBIS, &flag);
}

void TModem::ClearRTS() {
  Traffic("ClrRTS", true);
  int flag = TIOCM_RTS;
  if (port_->IsOpen()) ioctl(port_->Handle(), TIOCMBIC, &flag);
}
