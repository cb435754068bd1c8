// The device's reply parsing: the first input byte picks a request kind, the
// rest is what the panel sent. Each kind takes its value from the reply line
// as its exchange does and puts it into the page's control as the output
// queue's applier does; what the control then holds must be a value the
// panel can be sent again exactly: the controls are the store that a later
// write reads.
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTreeWidget>
#include <string>

#include "fuzz/FuzzPages.h"
#include "fuzz/FuzzSupport.h"
#include "protocol/DevOstrel.h"
#include "protocol/ProtocolText.h"
#include "ui/Appliers.h"
#include "ui/WireText.h"

namespace {

fuzz::TPages* pages = nullptr;

template <class T>
T* Find(QWidget& page, const char* name) {
  T* control = page.findChild<T*>(QLatin1String(name));
  fuzz::Require(control != nullptr, name);
  return control;
}

// "+rtNN" and the phone, cut to the edit's length.
void Phone(const std::string& reply) {
  auto* edit = Find<QLineEdit>(pages->common, "etPhone1");
  TApplier::ApplyControlText(edit, FromWire(TextFrom(TDevOstrel::ReplyLine(reply), 6).substr(0, 20)));
  const std::string sent = ToWire(edit->text());
  fuzz::Require(sent.size() <= 20 && sent.find_first_not_of("0123456789+") == std::string::npos,
                "a phone read back is digits and + only");
}

// "+rpXXYYFW": the two delays in hexadecimal, fast arming, wait for sending.
void Delays(const std::string& reply) {
  const std::string record = TextFrom(TDevOstrel::ReplyLine(reply), 4).substr(0, 6);
  if (record.size() < 4) return;
  const std::optional<int> entry = ParseHex(std::string_view(record).substr(0, 2));
  const std::optional<int> exit = ParseHex(std::string_view(record).substr(2, 2));
  if (!entry || !exit) return;
  auto* spin = Find<QSpinBox>(pages->common, "seTimeOut");
  TApplier::ApplyControlText(spin, QString::number(*entry));
  fuzz::Require(spin->value() == *entry, "a delay read is held as read");
}

// "+rkN" and the key in wire order.
void Key(const std::string& reply) {
  QTreeWidget* list = pages->keys.List();
  TApplier::ApplyListRow(list, "1", FromWire(SwapKeyBytes(TextFrom(TDevOstrel::ReplyLine(reply), 5))), -1);
  const std::string wire = SwapKeyBytes(ToWire(list->topLevelItem(0)->text(1)));
  fuzz::Require(wire.size() == 16, "a key goes out as 16 characters");
  fuzz::Require(SwapKeyBytes(SwapKeyBytes(wire)) == wire, "swapping twice gives the key back");
}

// "+rgD" and "+rhD": the module and the ring duration.
void Gsm(const std::string& reply) {
  const char digit = CharAt(TDevOstrel::ReplyLine(reply), 4);
  const std::optional<int> index = RingIndex(digit);
  if (!index) return;
  auto* ring = Find<QComboBox>(pages->gsm, "cbRing");
  TApplier::ApplyControlText(ring, QString::number(*index));
  fuzz::Require(ring->currentIndex() == *index, "a ring duration read is an item of the list");
}

// A reading or a threshold: the whole reply line in hexadecimal.
void Adc(const std::string& reply, int thumb) {
  const std::string line = TDevOstrel::ReplyLine(reply);
  const std::optional<int> value = ParseAdcValue(line);
  if (!value) return;
  auto* slider = Find<TTrislider>(pages->acp, "ts");
  TApplier::ApplySliderText(slider, FromWire("$" + line), thumb);
  const int position = slider->GetPosition(thumb);
  fuzz::Require(position == *value && position >= 0 && position <= 1023, "a threshold read is 0..1023");
  fuzz::Require(ToHex(position, 3).size() == 3, "a threshold goes out as three digits");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::StartApplication();
  pages = new fuzz::TPages;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string reply(reinterpret_cast<const char*>(data) + 1, size - 1);
  fuzz::Require(TDevOstrel::ReplyLine(reply).find('\r') == std::string::npos, "a reply line holds no carriage return");
  switch (data[0] % 5) {
    case 0: Phone(reply); break;
    case 1: Delays(reply); break;
    case 2: Key(reply); break;
    case 3: Gsm(reply); break;
    default: Adc(reply, data[0] / 5 % 5); break;
  }
  fuzz::ServeEvents();
  return 0;
}
