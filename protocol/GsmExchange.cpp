// The GSM settings exchange: the type of the attached GSM module and the ring
// duration, between the panel and the GSM page.
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
const TTarget RingCombo{Pages::GSM, "cbRing"};

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
    const char* radio = module == '0' ? "rb1" : module == '1' ? "rb2" : "rb3";
    queue_.PostControlText({Pages::GSM, radio}, "true");
    queue_.PostControlColor(ModuleBox, clBlue);
  } else {
    queue_.PostControlColor(ModuleBox, clRed);
  }

  if (link.IsTerminated()) return;
  // "+rh" and the ring duration 1..6, which is the combo box's index + 1.
  if (GsmRequest("+rh", reply, {TReplyForm::Echoed, IsRingValue})) {
    const std::optional<int> index = RingIndex(CharAt(ReplyLine(reply), 4));
    queue_.PostControlText(RingCombo, std::to_string(index.value_or(0)));
    queue_.PostControlColor(RingLabel, clBlue);
    return;
  }
  queue_.PostControlColor(RingLabel, clRed);
}

void TDevOstrel::WriteGsm() {
  TModem& link = Link();
  if (link.IsTerminated()) return;
  const char* module = IsOn(Pages::GSM, "rb1") ? "0" : IsOn(Pages::GSM, "rb2") ? "1" : "2";
  std::string reply;
  queue_.PostControlColor(ModuleBox, GsmRequest(std::string("+wg=") + module, reply) ? clBlue : clRed);

  if (link.IsTerminated()) return;
  // With no item selected the index is -1 and the panel is sent 0.
  const int index = ParseDecimal(ReadControl(Pages::GSM, "cbRing")).value_or(-1);
  queue_.PostControlColor(RingLabel, GsmRequest("+wh=" + std::to_string(index + 1), reply) ? clBlue : clRed);
}
