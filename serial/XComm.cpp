// TXComm's published properties and the four settings groups.
//
// Every setter does nothing when the value does not change. While the device
// is open a setter writes the change to the device at once (and raises that
// operation's error), and a getter reports the device's live value, falling
// back to the stored one when the query fails. Owner's thread only.
#include <string>

#include "serial/XComDrv.h"

namespace {

// Queue sizes the component accepts (4096 is the bound of current systems).
uint16_t ClampQueueSize(uint16_t size) {
  if (size > 4096) size = 4096;
  if (size < 128) size = 128;
  return size;
}

}  // namespace

// The persistence base's refusal; a group accepts only its own class.
void TPersistent::Assign(const TPersistent& source) {
  throw EConvertError(std::string("Cannot assign a ") + source.ClassName() + " to a " + ClassName());
}

// --- TCommDataControl ---

TDataBits TCommDataControl::DataBits() const {
  TCustomComm::TLiveLine live;
  return owner_->ReadLiveLine(live) ? live.dataBits : dataBits_;
}

TParity TCommDataControl::Parity() const {
  TCustomComm::TLiveLine live;
  return owner_->ReadLiveLine(live) ? live.parity : parity_;
}

TStopBits TCommDataControl::StopBits() const {
  TCustomComm::TLiveLine live;
  return owner_->ReadLiveLine(live) ? live.stopBits : stopBits_;
}

void TCommDataControl::SetDataBits(TDataBits v) {
  if (v == dataBits_ || v > db8) return;
  dataBits_ = v;
  owner_->ApplyLineSettings();
}

void TCommDataControl::SetParity(TParity v) {
  if (v == parity_ || v > paSpace) return;
  parity_ = v;
  owner_->ApplyLineSettings();
}

void TCommDataControl::SetStopBits(TStopBits v) {
  if (v == stopBits_ || v > sb2) return;
  stopBits_ = v;
  owner_->ApplyLineSettings();
}

void TCommDataControl::Assign(const TPersistent& src) {
  if (&src == this) return;
  const auto* from = dynamic_cast<const TCommDataControl*>(&src);
  if (from == nullptr) return TPersistent::Assign(src);
  dataBits_ = from->DataBits();
  parity_ = from->Parity();
  stopBits_ = from->StopBits();
  owner_->ApplyLineSettings();
}

// --- TCommBuffers ---

// Linux cannot report a tty's queue sizes: the stored values stand.
uint16_t TCommBuffers::InputSize() const { return inputSize_; }
uint16_t TCommBuffers::OutputSize() const { return outputSize_; }

void TCommBuffers::SetInputSize(uint16_t v) {
  v = ClampQueueSize(v);
  if (v == inputSize_) return;
  inputSize_ = v;
  owner_->ApplyBuffers();
}

void TCommBuffers::SetOutputSize(uint16_t v) {
  v = ClampQueueSize(v);
  if (v == outputSize_) return;
  outputSize_ = v;
  owner_->ApplyBuffers();
}

void TCommBuffers::Assign(const TPersistent& src) {
  if (&src == this) return;
  const auto* from = dynamic_cast<const TCommBuffers*>(&src);
  if (from == nullptr) return TPersistent::Assign(src);
  inputSize_ = from->InputSize();
  outputSize_ = from->OutputSize();
  inputTimeout_ = from->inputTimeout_;
  outputTimeout_ = from->outputTimeout_;
  owner_->ApplyBuffers();
}

// --- TCommEventChars ---

char TCommEventChars::Get(int index) const {
  if (index < 0 || index > 4) return 0;
  TCustomComm::TLiveLine live;
  if (index <= 1 && owner_->ReadLiveLine(live)) return index == 0 ? live.xonChar : live.xoffChar;
  return chars_[index];  // the other three have no termios equivalent
}

void TCommEventChars::Set(int index, char c) {
  if (index < 0 || index > 4 || chars_[index] == c) return;
  chars_[index] = c;
  owner_->ApplyLineSettings();
}

void TCommEventChars::Assign(const TPersistent& src) {
  if (&src == this) return;
  const auto* from = dynamic_cast<const TCommEventChars*>(&src);
  if (from == nullptr) return TPersistent::Assign(src);
  for (int i = 0; i < 5; ++i) chars_[i] = from->Get(i);
  owner_->ApplyLineSettings();
}

// --- TCommTimeoutsEx ---

// The device holds no such time-outs on Linux: the stored values stand.
uint32_t TCommTimeoutsEx::Get(int index) const { return index >= 0 && index <= 4 ? values_[index] : 0; }

void TCommTimeoutsEx::Set(int index, uint32_t v) {
  if (index < 0 || index > 4 || values_[index] == v) return;
  values_[index] = v;
  owner_->ApplyTimeouts();
}

void TCommTimeoutsEx::Assign(const TPersistent& src) {
  if (&src == this) return;
  const auto* from = dynamic_cast<const TCommTimeoutsEx*>(&src);
  if (from == nullptr) return TPersistent::Assign(src);
  for (int i = 0; i < 5; ++i) values_[i] = from->Get(i);
  owner_->ApplyTimeouts();
}

// --- TXComm ---

TXComm::~TXComm() { Shutdown(); }

TBaudRate TXComm::BaudRate() {
  TLiveLine live;
  if (baudRate_ != brCustom && ReadLiveLine(live) && live.baud != 0) {
    TBaudRate rate = brCustom;
    for (int i = 0; i < brCustom; ++i) {
      if (BaudTable[i] == live.baud) rate = static_cast<TBaudRate>(i);
    }
    baudRate_ = rate;
  }
  return baudRate_;
}

void TXComm::SetBaudRate(TBaudRate v) {
  if (v == baudRate_ || v < br110 || v > brCustom) return;
  baudRate_ = v;
  if (v == brCustom) return;  // keeps the current BaudValue
  baudValue_ = BaudTable[v];
  ApplyLineSettings();
}

uint32_t TXComm::BaudValue() {
  TLiveLine live;
  if (ReadLiveLine(live) && live.baud != 0) baudValue_ = live.baud;
  return baudValue_;
}

void TXComm::SetBaudValue(uint32_t v) {
  if (baudRate_ != brCustom || v == baudValue_) return;
  baudValue_ = v;
  ApplyLineSettings();
}

void TXComm::SetBuffers(const TCommBuffers& v) { buffers_->Assign(v); }

void TXComm::SetDataControl(const TCommDataControl& v) { dataControl_->Assign(v); }

void TXComm::SetEventChars(const TCommEventChars& v) { eventChars_->Assign(v); }

void TXComm::SetTimeouts(const TCommTimeoutsEx& v) { timeouts_->Assign(v); }

void TXComm::SetDeviceName(const std::string& v) {
  if (IsOpen()) return;  // frozen while open, without an error
  deviceName_ = v;
}

TRTSSettings TXComm::RTSSettings() {
  SyncFromDevice();
  return rtsSettings_;
}

TDTRSettings TXComm::DTRSettings() {
  SyncFromDevice();
  return dtrSettings_;
}

TXOnXOffSettings TXComm::XOnXOffSettings() {
  SyncFromDevice();
  return xonXoffSettings_;
}

TCommOptions TXComm::Options() {
  SyncFromDevice();
  return options_;
}

void TXComm::SetRTSSettings(TRTSSettings v) {
  v &= bit(fsCTSOut) | bit(fsRTSEnabled) | bit(fsRTSHandshake);
  if (flowControl_ != fcCustom || v == RTSSettings()) return;
  rtsSettings_ = v;
  ApplyLineSettings();
}

void TXComm::SetXOnXOffSettings(TXOnXOffSettings v) {
  v &= bit(fsInX) | bit(fsOutX);
  if (flowControl_ != fcCustom || v == XOnXOffSettings()) return;
  xonXoffSettings_ = v;
  ApplyLineSettings();
}

void TXComm::SetDTRSettings(TDTRSettings v) {
  constexpr TDTRSettings enabled = bit(fsDTREnabled);
  constexpr TDTRSettings handshake = bit(fsDTRHandshake);
  v &= bit(fsDSROut) | enabled | handshake;
  const TDTRSettings current = DTRSettings();
  if (Options() & bit(coLeaveDTROpen)) v = static_cast<TDTRSettings>((v & ~handshake) | enabled);
  // The two DTR modes exclude each other: a newly added one replaces the one in force.
  if ((v & enabled) && (v & handshake)) v &= static_cast<TDTRSettings>(~((current & handshake) ? handshake : enabled));
  if (flowControl_ != fcCustom || v == current) return;
  dtrSettings_ = v;
  ApplyLineSettings();
}

void TXComm::SetFlowControl(TFlowControl v) {
  if (v == flowControl_ || v < fcNone || v > fcCustom) return;
  flowControl_ = v;
  if (v == fcCustom) return;  // the sets in force become the custom ones
  SyncLineControl(0);
  ApplyLineSettings();
}

void TXComm::SetOptions(TCommOptions v) {
  constexpr TCommOptions leaveDtrOpen = bit(coLeaveDTROpen);
  v &= 0x7F;
  const TCommOptions current = Options();
  if (IsOpen()) v = static_cast<TCommOptions>((v & ~leaveDtrOpen) | (current & leaveDtrOpen));
  if (v == current) return;
  options_ = v;
  if (IsOpen()) {
    ApplyLineSettings();
  } else {
    SyncLineControl(0);
  }
}
