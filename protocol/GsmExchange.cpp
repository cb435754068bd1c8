// The GSM settings exchange: the type of the attached GSM module and the ring
// duration, between the panel and the operation's settings.
//
// No memo lines of its own: a request's outcome shows in the traffic lines and
// as a colour for the control naming the value (red failed, blue good). A
// failed request does not stop the other one, but the operation has failed
// (Failed). Link thread only.
#include <string>

#include "link/xModem.h"
#include "protocol/DevOstrel.h"
#include "protocol/ProtocolText.h"

namespace {

const TTarget ModuleBox{Pages::GSM, "RzGroupBox1"};
const TTarget RingLabel{Pages::GSM, "lbRing"};

}  // namespace

bool TDevOstrel::GsmRequest(const std::string& command, std::string& reply, const TRequestRule& rule) {
  const bool good = Request(command, reply, 3, rule);
  if (!good) failed_ = true;
  return good;
}

void TDevOstrel::ReadGsm() {
  TModem& link = Link();
  if (link.IsTerminated()) return;
  std::string reply;
  if (GsmRequest("+rg", reply, {TReplyForm::Echoed, IsModuleValue})) {
    // "+rg" and the module's digit; anything but 0 and 1 is the modem.
    const char module = CharAt(ReplyLine(reply), 4);
    read_.Module = module == '0' ? 0 : module == '1' ? 1 : 2;
    queue_.PostControlColor(ModuleBox, clBlue);
  } else {
    queue_.PostControlColor(ModuleBox, clRed);
  }

  if (link.IsTerminated()) return;
  // "+rh" and the ring duration 1..6, which is the combo box's index + 1.
  if (GsmRequest("+rh", reply, {TReplyForm::Echoed, IsRingValue})) {
    const std::optional<int> index = RingIndex(CharAt(ReplyLine(reply), 4));
    read_.Ring = index.value_or(0);
    queue_.PostControlColor(RingLabel, clBlue);
    return;
  }
  queue_.PostControlColor(RingLabel, clRed);
}

void TDevOstrel::WriteGsm() {
  TModem& link = Link();
  if (link.IsTerminated()) return;
  const char* module = writing_.Module == 0 ? "0" : writing_.Module == 1 ? "1" : "2";
  std::string reply;
  queue_.PostControlColor(ModuleBox, GsmRequest(std::string("+wg=") + module, reply) ? clBlue : clRed);

  if (link.IsTerminated()) return;
  queue_.PostControlColor(RingLabel, GsmRequest("+wh=" + std::to_string(writing_.Ring + 1), reply) ? clBlue : clRed);
}
