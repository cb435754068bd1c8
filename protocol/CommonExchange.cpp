// The common settings exchange: twelve numbered entries (a phone number and a
// flag field each) and the delays record, between the panel and the common
// settings page.
//
// Entries 1 to 4 are the system events; entry 4 + L is the upper row and
// entry 8 + L the lower row of loop L. Link thread only: values read go to the
// page as output elements, values written are read through the control reader.
#include <string>

#include "link/xModem.h"
#include "protocol/DevOstrel.h"
#include "protocol/ProtocolText.h"

namespace {

const std::string Separator80(80, '=');
const char* const ReadError = "ОШИБКА при чтении общих настроек";
const char* const WriteError = "ОШИБКА при записи общих настроек";

std::string Numbered(const std::string& prefix, int n) { return prefix + std::to_string(n); }

TTarget Control(const std::string& name) { return {Pages::Common, name}; }

// The 24-hour check box of the loop that entry 5..12 belongs to.
std::string Hours24Box(int entry) { return Numbered("cb24", entry <= 8 ? entry - 4 : entry - 8); }

std::string OnOff(bool on) { return on ? "true" : "false"; }

// A flag field: three positions of "0" or "1" after the request text.
const TRequestRule FlagsRule{TReplyForm::Echoed, IsFlagsValue};

// Phone and flag replies carry their value after the five characters of the
// request ("+rt07", "+rq07").
std::string EntryValue(const std::string& reply) { return TextFrom(TDevOstrel::ReplyLine(reply), 6); }

// Two hexadecimal digits at a 1-based position of the delays record.
std::optional<int> DelayAt(const std::string& record, size_t position) {
  if (record.size() < position + 1) return std::nullopt;
  return ParseHex(std::string_view(record).substr(position - 1, 2));
}

}  // namespace

void TDevOstrel::ReadCommon() {
  TModem& link = Link();
  bool failed = false;
  try {
    link.Log(Separator80, false, true);
    link.Log("Читаем общие настройки", false, true);
    link.Log("Читаем версию", true, true);
    link.Log(">> +v", true, false);
    std::string reply;
    failed = !Send("+v", reply, {TReplyForm::Version});
    if (!failed) queue_.PostControlText(Targets::RzStatusPane2, ReplyLine(reply));
    for (int n = 1; n <= 4 && !failed; ++n) failed = ReadEventEntry(n);
    for (int n = 5; n <= 12 && !failed; ++n) failed = ReadLoopEntry(n);
    if (!failed) failed = ReadDelays();
    if (link.GetMode() == 3 && !failed) queue_.PostMsg("Успешно прочитали общие настройки");
    link.Log("Окончили читать общие настройки", false, true);
    link.Log(Separator80, false, true);
  } catch (...) {
    EndExchange(true, ReadError);
    throw;
  }
  EndExchange(failed, ReadError);
}

bool TDevOstrel::ReadEventEntry(int entry) {
  TModem& link = Link();
  const std::string nn = ZeroPad(entry, 2);
  link.Log(Numbered("Читаем телефон №", entry), true, true);
  link.Log(">> +rt" + nn, true, false);
  std::string reply;
  const bool phoneRead = ReadPhone(entry, reply);
  // The flag request goes out whatever the phone request gave; the entry is
  // read only when both were good.
  const bool flagsRead = Send("+rq" + nn, reply, FlagsRule);
  if (flagsRead)
    queue_.PostControlText(Control(Numbered("cbReact", entry)), OnOff(CharAt(EntryValue(reply), 1) == '1'));
  return !(phoneRead && flagsRead);
}

bool TDevOstrel::ReadLoopEntry(int entry) {
  TModem& link = Link();
  const std::string nn = ZeroPad(entry, 2);
  link.Log(Numbered("Читаем телефон №", entry), true, true);
  link.Log(">> +rt" + nn, true, false);
  std::string reply;
  if (!ReadPhone(entry, reply)) return true;
  // Flags the panel did not confirm are unknown, not off: the entry fails.
  if (!Send("+rq" + nn, reply, FlagsRule)) return true;
  const std::string flags = EntryValue(reply);
  queue_.PostControlText(Control(Numbered("cbReact", entry)), OnOff(CharAt(flags, 1) == '1'));
  // Only switched on here: the page is cleared before a read, and both rows of
  // a loop carry its 24-hour flag.
  if (CharAt(flags, 2) == '1') queue_.PostControlText(Control(Hours24Box(entry)), "true");
  if (CharAt(flags, 3) == '1') queue_.PostControlText(Control(Numbered("rbNorm", entry)), "true");
  return false;
}

bool TDevOstrel::ReadPhone(int entry, std::string& reply) {
  const std::string command = "+rt" + ZeroPad(entry, 2);
  if (!Send(command, reply, {TReplyForm::Echoed, IsPhoneValue})) return false;
  queue_.PostControlText(Control(Numbered("etPhone", entry)), EntryValue(reply));
  return true;
}

bool TDevOstrel::ReadDelays() {
  TModem& link = Link();
  link.Log("Читаем Задержки", true, true);
  link.Log(">> +rp", true, false);
  std::string reply;
  if (!Send("+rp", reply, {TReplyForm::Echoed, IsDelaysValue})) return true;
  const std::string record = TextFrom(ReplyLine(reply), 4);
  const std::optional<int> entryDelay = DelayAt(record, 1);
  const std::optional<int> exitDelay = DelayAt(record, 3);
  if (!entryDelay || !exitDelay) return true;
  queue_.PostControlText(Control("cbFastGuard"), OnOff(CharAt(record, 5) == '1'));
  queue_.PostControlText(Control("cbWaitSend"), OnOff(CharAt(record, 6) == '1'));
  queue_.PostControlText(Control("seTimeOut"), std::to_string(*entryDelay));
  queue_.PostControlText(Control("seTimeOut2"), std::to_string(*exitDelay));
  return false;
}

void TDevOstrel::WriteCommon() {
  TModem& link = Link();
  bool failed = false;
  try {
    link.Log(Separator80, false, true);
    link.Log("Пишем общие настройки", false, true);
    for (int n = 1; n <= 12 && !failed; ++n) failed = WriteEntry(n);
    if (!failed) failed = WriteDelays();
    if (link.GetMode() == 4 && !failed) queue_.PostMsg("Успешно записали общие настройки");
    link.Log("Окончили записывать общие настройки", false, true);
    link.Log(Separator80, false, true);
  } catch (...) {
    EndExchange(true, WriteError);
    throw;
  }
  EndExchange(failed, WriteError);
}

bool TDevOstrel::WriteEntry(int entry) {
  TModem& link = Link();
  const std::string nn = ZeroPad(entry, 2);
  link.Log(Numbered("Пишем телефон №", entry), true, true);
  std::string command = "+wt" + nn + "=" + ReadControl(Pages::Common, Numbered("etPhone", entry));
  link.Log(">> " + command, true, false);
  std::string reply;
  const bool phoneWritten = Send(command, reply);
  auto bit = [&](const std::string& name) { return IsOn(Pages::Common, name) ? '1' : '0'; };
  // The events have neither a 24-hour flag nor a normal state.
  std::string flags = {bit(Numbered("cbReact", entry)), '0', '0'};
  if (entry >= 5) {
    flags[1] = bit(Hours24Box(entry));
    flags[2] = bit(Numbered("rbNorm", entry));
  }
  // Sent also after a failed phone; the entry is written only when both were
  // confirmed.
  command = "+wq" + nn + "=" + flags;
  link.Log(">> " + command, true, false);
  const bool flagsWritten = Send(command, reply);
  return !(phoneWritten && flagsWritten);
}

bool TDevOstrel::WriteDelays() {
  TModem& link = Link();
  link.Log("Пишем Задержку и б.пост. на охрану", true, true);
  auto delay = [&](const std::string& name) {
    return ToHex(ParseDecimal(ReadControl(Pages::Common, name)).value_or(0), 2);
  };
  auto bit = [&](const std::string& name) { return IsOn(Pages::Common, name) ? "1" : "0"; };
  const std::string command =
      "+wp=" + delay("seTimeOut") + delay("seTimeOut2") + bit("cbFastGuard") + bit("cbWaitSend");
  link.Log(">> " + command, true, false);
  std::string reply;
  return !Send(command, reply);
}

void TDevOstrel::EndExchange(bool failed, const std::string& errorLine) {
  if (!failed) return;
  Link().Log(errorLine, true, true);
  failed_ = true;
}

bool TDevOstrel::Send(const std::string& command, std::string& reply, const TRequestRule& rule) {
  return Request(command, reply, 3, rule);
}

bool TDevOstrel::IsOn(const std::string& page, const std::string& name) { return ReadControl(page, name) == "true"; }
