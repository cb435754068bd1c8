// The keys exchange: the panel's ten Touch Memory keys and the rows of the
// keys page's list. Row N of the list is panel key N - 1; on the wire a key's
// eight byte pairs travel in reverse order (SwapKeyBytes).
//
// Link thread only: keys read go into the operation's settings, keys
// written come from its copy.
#include <string>

#include "link/xModem.h"
#include "model/Fields.h"
#include "protocol/DevOstrel.h"
#include "protocol/ProtocolText.h"

namespace {

const std::string Separator80(80, '=');
const char* const ReadError = "ОШИБКА при чтении ключей";
const char* const WriteError = "ОШИБКА при записи ключей";
const std::string EmptyKey(16, '0');

}  // namespace

void TDevOstrel::ReadKeys() {
  TModem& link = Link();
  bool failed = false;
  try {
    link.Log(Separator80, false, true);
    link.Log("Читаем ключи", false, true);
    for (int row = 1; row <= 10 && !failed; ++row) {
      const std::string command = "+rk" + std::to_string(row - 1);
      link.Log("Читаем ключ №" + std::to_string(row), true, true);
      link.Traffic(">> " + command);
      std::string reply;
      failed = !Request(command, reply, 3, {TReplyForm::Echoed, IsKeyValue});
      // The key follows the four characters of the request ("+rk3").
      // In the page's order, in capitals, all ones as the empty slot.
      if (!failed)
        read_.Key[row - 1] = CanonicalKey(SwapKeyBytes(TextFrom(ReplyLine(reply), 5))).value_or(EmptyKey);
    }
  } catch (...) {
    EndExchange(true, ReadError);
    throw;
  }
  EndExchange(failed, ReadError);
}

void TDevOstrel::WriteKeys() {
  TModem& link = Link();
  bool failed = false;
  try {
    link.Log(Separator80, false, true);
    link.Log("Пишем ключи", false, true);
    for (int row = 1; row <= 10 && !failed; ++row) {
      link.Log("Пишем ключ №" + std::to_string(row), true, true);
      const std::string& key = writing_.Key[row - 1];
      // A key of all ones is written as an empty slot.
      const std::string wire = key == "FFFFFFFFFFFFFFFF" ? EmptyKey : SwapKeyBytes(key);
      const std::string command = "+wk" + std::to_string(row - 1) + "=" + wire;
      link.Traffic(">> " + command);
      std::string reply;
      failed = !Request(command, reply, 3);
    }
    link.Log("Окончили писать ключи", false, true);
    link.Log(Separator80, false, true);
  } catch (...) {
    EndExchange(true, WriteError);
    throw;
  }
  EndExchange(failed, WriteError);
}
