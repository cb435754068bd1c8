// TCustomComm: line settings on termios, queues, time-outs, and the line-control
// sets derived from the flow-control preset or read back from the device.
//
// What Linux has no equivalent for is stored and reported as stored:
// 4 data bits and 1.5 stop bits (the device keeps its current size and stop
// bits), DSR output flow and DSR sensitivity, DTR handshake (the DTR line is
// raised instead), RTS toggle, the XON/XOFF thresholds, the EOF, error and
// event characters, discarding nulls, aborting on error, continuing after
// XOFF, the driver queue sizes and the five device time-outs (reads and writes
// never block here: VMIN = VTIME = 0 on a non-blocking descriptor, and the
// component's own time-outs bound every wait).
//
// Owner's thread, like the setters and getters that call these.
#include <sys/ioctl.h>
#include <termios.h>

#include "serial/CustomBaud.h"
#include "serial/XComDrv.h"

namespace {

const char* const kDcbFailed = "Unable to update device control block.";

struct TSpeed {
  uint32_t rate;
  speed_t code;
};

constexpr TSpeed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedCode(uint32_t rate, speed_t& code) {
  for (const TSpeed& speed : kSpeeds) {
    if (speed.rate == rate) {
      code = speed.code;
      return true;
    }
  }
  return false;
}

uint32_t SpeedRate(speed_t code) {
  for (const TSpeed& speed : kSpeeds) {
    if (speed.code == code) return speed.rate;
  }
  return 0;
}

constexpr tcflag_t kSizes[] = {CS5, CS5, CS6, CS7, CS8};  // by TDataBits; db4 has none

// tcsetattr reports success when any one change was made, and a driver drops
// what it cannot do (a pty keeps 8 data bits and no parity): check that the
// device took the frame and flow settings.
bool DeviceTook(const termios& wanted, const termios& got) {
  tcflag_t frame = CSIZE | PARENB | CSTOPB | CRTSCTS;
  if (wanted.c_cflag & PARENB) frame |= PARODD | CMSPAR;
  const tcflag_t input = IXON | IXOFF | INPCK;
  return (wanted.c_cflag & frame) == (got.c_cflag & frame) && (wanted.c_iflag & input) == (got.c_iflag & input) &&
         wanted.c_cc[VSTART] == got.c_cc[VSTART] && wanted.c_cc[VSTOP] == got.c_cc[VSTOP];
}

}  // namespace

void TCustomComm::ApplyLineSettings() {
  const int fd = Handle();
  if (fd < 0) return;
  termios previous{};
  if (tcgetattr(fd, &previous) != 0) RaiseDeviceError(kDcbFailed, CE_DCB);
  termios t = previous;

  // Turn off all fancy termios tricks, give us a raw channel.
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~HUPCL;  // closing must not drop DTR behind the owner's back
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;

  const TDataBits dataBits = dataControl_->dataBits_;
  if (dataBits != db4) {
    t.c_cflag = (t.c_cflag & ~CSIZE) | kSizes[dataBits];
  }
  t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
  switch (dataControl_->parity_) {
    case paNone: break;
    case paOdd: t.c_cflag |= PARENB | PARODD; break;
    case paEven: t.c_cflag |= PARENB; break;
    case paMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case paSpace: t.c_cflag |= PARENB | CMSPAR; break;
  }
  if (dataControl_->stopBits_ == sb1) t.c_cflag &= ~CSTOPB;
  if (dataControl_->stopBits_ == sb2) t.c_cflag |= CSTOPB;

  // One flag covers CTS output flow and the RTS handshake.
  t.c_cflag &= ~CRTSCTS;
  if (rtsSettings_ & (bit(fsCTSOut) | bit(fsRTSHandshake))) t.c_cflag |= CRTSCTS;
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  if (xonXoffSettings_ & bit(fsOutX)) t.c_iflag |= IXON;
  if (xonXoffSettings_ & bit(fsInX)) t.c_iflag |= IXOFF;
  if (options_ & bit(coParityCheck)) t.c_iflag |= INPCK;
  t.c_cc[VSTART] = static_cast<cc_t>(eventChars_->chars_[0]);
  t.c_cc[VSTOP] = static_cast<cc_t>(eventChars_->chars_[1]);

  // A rate without a B-constant goes through termios2 after the rest is set,
  // so the device never runs at a stand-in rate. Rate 0 would hang up the line.
  const uint32_t rate = baudValue_;
  if (rate == 0) RaiseDeviceError(kDcbFailed, CE_DCB);
  speed_t code = B0;
  const bool standard = SpeedCode(rate, code);
  if (standard) {
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
  }
  termios got{};
  const bool took = tcsetattr(fd, TCSANOW, &t) == 0 && tcgetattr(fd, &got) == 0 && DeviceTook(t, got) &&
                    (standard || XComSetCustomSpeed(fd, rate));
  if (!took) {
    tcsetattr(fd, TCSANOW, &previous);  // the device keeps its previous settings
    RaiseDeviceError(kDcbFailed, CE_DCB);
  }

  // The lines. A pty (and some adapters) refuse modem-line ioctls: ignored.
  int line = TIOCM_DTR;
  const bool dtrOn = (dtrSettings_ & (bit(fsDTREnabled) | bit(fsDTRHandshake))) ||
                     (options_ & bit(coLeaveDTROpen));
  ioctl(fd, dtrOn ? TIOCMBIS : TIOCMBIC, &line);
  if (!(t.c_cflag & CRTSCTS)) {  // under CRTSCTS the driver moves RTS itself
    line = TIOCM_RTS;
    ioctl(fd, (rtsSettings_ & bit(fsRTSEnabled)) ? TIOCMBIS : TIOCMBIC, &line);
  }
}

void TCustomComm::ApplyBuffers() {
  const int fd = Handle();
  if (fd < 0) return;
  // Purge both ways. The queue sizes themselves have no Linux equivalent.
  if (tcflush(fd, TCIOFLUSH) != 0) RaiseDeviceError("Unable to update IO buffers.", CE_BUFFERS);
}

void TCustomComm::ApplyTimeouts() {
  // Nothing reaches the device (see the top of this file), so nothing can
  // fail with "Unable to update Timeouts." here.
}

bool TCustomComm::ReadLiveLine(TLiveLine& live) const {
  const int fd = Handle();
  if (fd < 0) return false;
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  uint32_t rate = 0;
  if (!XComGetSpeed(fd, rate)) rate = SpeedRate(cfgetospeed(&t));
  live.baud = rate;

  switch (t.c_cflag & CSIZE) {
    case CS5: live.dataBits = db5; break;
    case CS6: live.dataBits = db6; break;
    case CS7: live.dataBits = db7; break;
    default: live.dataBits = db8; break;
  }
  if (dataControl_->dataBits_ == db4) live.dataBits = db4;  // no such size to read back

  if (!(t.c_cflag & PARENB)) {
    live.parity = paNone;
  } else if (t.c_cflag & CMSPAR) {
    live.parity = (t.c_cflag & PARODD) ? paMark : paSpace;
  } else {
    live.parity = (t.c_cflag & PARODD) ? paOdd : paEven;
  }
  live.stopBits = (t.c_cflag & CSTOPB) ? sb2 : sb1;
  if (dataControl_->stopBits_ == sb1p5) live.stopBits = sb1p5;  // likewise

  live.xonChar = static_cast<char>(t.c_cc[VSTART]);
  live.xoffChar = static_cast<char>(t.c_cc[VSTOP]);
  live.flags = lfValid;
  if (t.c_cflag & CRTSCTS) live.flags |= lfCtsRts;
  if (t.c_iflag & IXON) live.flags |= lfOutX;
  if (t.c_iflag & IXOFF) live.flags |= lfInX;
  if (t.c_iflag & INPCK) live.flags |= lfParity;
  return true;
}

void TCustomComm::SyncLineControl(uint32_t deviceFlags) {
  if (deviceFlags == 0 || (!IsOpen() && flowControl_ != fcCustom)) {
    // From the preset.
    rtsSettings_ = 0;
    dtrSettings_ = 0;
    xonXoffSettings_ = 0;
    switch (flowControl_) {
      case fcRtsCts: rtsSettings_ = bit(fsCTSOut) | bit(fsRTSHandshake); break;
      case fcDtrDsr:
        dtrSettings_ = bit(fsDSROut);
        rtsSettings_ = bit(fsRTSEnabled);
        break;
      case fcSoftware: xonXoffSettings_ = bit(fsInX) | bit(fsOutX); break;
      case fcNone:
      case fcCustom: break;
    }
    if (flowControl_ != fcNone) dtrSettings_ |= bit(fsDTREnabled);
    if (options_ & bit(coLeaveDTROpen)) {
      dtrSettings_ = static_cast<TDTRSettings>((dtrSettings_ | bit(fsDTREnabled)) & ~bit(fsDTRHandshake));
    }
    return;
  }
  if (!IsOpen()) return;
  // From the device. The DTR modes, DSR flow and the RTS line mode have no
  // termios flag and keep their stored members; CRTSCTS stands for both CTS
  // output flow and the RTS handshake.
  rtsSettings_ = static_cast<TRTSSettings>(rtsSettings_ & bit(fsRTSEnabled));
  if (deviceFlags & lfCtsRts) rtsSettings_ |= bit(fsCTSOut) | bit(fsRTSHandshake);
  xonXoffSettings_ = 0;
  if (deviceFlags & lfOutX) xonXoffSettings_ |= bit(fsOutX);
  if (deviceFlags & lfInX) xonXoffSettings_ |= bit(fsInX);
  options_ = static_cast<TCommOptions>(options_ & ~bit(coParityCheck));
  if (deviceFlags & lfParity) options_ |= bit(coParityCheck);
}

bool TCustomComm::SyncFromDevice() {
  TLiveLine live;
  if (!ReadLiveLine(live)) return false;
  SyncLineControl(live.flags);
  return true;
}
