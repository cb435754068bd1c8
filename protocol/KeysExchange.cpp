// The keys exchange: the panel's ten Touch Memory keys and the rows of the
// keys page's list. Row N of the list is panel key N - 1; on the wire a key's
// eight byte pairs travel in reverse order (SwapKeyBytes).
//
// Link thread only: keys read go to the list as list-row elements, keys
// written are read through the control reader.
#include <string>

#include "link/xModem.h"
#include "protocol/DevOstrel.h"
#include "protocol/ProtocolText.h"

namespace {

const std::string Separator80(80, '=');
const TTarget KeyList{Pages::Keys, "TMLV"};
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
      link.Log(">> " + command, true, false);
      std::string reply;
      failed = !Request(command, reply, 3, {TReplyForm::Echoed, IsKeyValue});
      // The key follows the four characters of the request ("+rk3").
      if (!failed) queue_.PostListItem(KeyList, std::to_string(row), SwapKeyBytes(TextFrom(ReplyLine(reply), 5)), -1);
    }
    if (link.GetMode() == 3 && !failed) queue_.PostMsg("Успешно прочитали ключи");
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
      const std::string key = reader_ ? reader_->ReadListRow(KeyList, row) : std::string();
      // A key of all ones is written as an empty slot.
      const std::string wire = key == "FFFFFFFFFFFFFFFF" ? EmptyKey : SwapKeyBytes(key);
      const std::string command = "+wk" + std::to_string(row - 1) + "=" + wire;
      link.Log(">> " + command, true, false);
      std::string reply;
      failed = !Request(command, reply, 3);
    }
    if (link.GetMode() == 4 && !failed) queue_.PostMsg("Успешно записали ключи!");
    link.Log("Окончили писать ключи", false, true);
    link.Log(Separator80, false, true);
  } catch (...) {
    EndExchange(true, WriteError);
    throw;
  }
  EndExchange(failed, WriteError);
}
