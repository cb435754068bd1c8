// TXComm's property rules: closed (stored values and derivations) and open on
// a pseudo-terminal (the effect read back with tcgetattr, live getters).
#include <gtest/gtest.h>
#include <termios.h>

#include <functional>
#include <string>

#include "serial/CustomBaud.h"
#include "serial/XComDrv.h"
#include "tests/serial/PtyPair.h"

namespace {

constexpr TRTSSettings kCtsOut = bit(fsCTSOut);
constexpr TRTSSettings kRtsOn = bit(fsRTSEnabled);
constexpr TRTSSettings kRtsHs = bit(fsRTSHandshake);
constexpr TDTRSettings kDsrOut = bit(fsDSROut);
constexpr TDTRSettings kDtrOn = bit(fsDTREnabled);
constexpr TDTRSettings kDtrHs = bit(fsDTRHandshake);
constexpr TXOnXOffSettings kInX = bit(fsInX);
constexpr TXOnXOffSettings kOutX = bit(fsOutX);
constexpr TCommOptions kLeaveDtr = bit(coLeaveDTROpen);

// Whether this kernel's ptys take a frame setting (recent kernels keep a pty
// at 8 data bits without parity and refuse the change).
bool PtyTakes(tcflag_t clear, tcflag_t set) {
  PtyPair pty;
  termios t = pty.SlaveTermios();
  cfmakeraw(&t);
  t.c_cflag = (t.c_cflag & ~clear) | set;
  if (tcsetattr(pty.Slave(), TCSANOW, &t) != 0) return false;
  return (pty.SlaveTermios().c_cflag & (clear | set)) == set;
}

int Code(const std::function<void()>& op) {
  try {
    op();
  } catch (const EDeviceError& e) {
    return e.ErrorCode;
  }
  return 0;
}

}  // namespace

TEST(CommProperties, BaudRateDrivesBaudValue) {
  TXComm comm;
  comm.SetBaudRate(br19200);
  EXPECT_EQ(comm.BaudValue(), 19200u);
  comm.SetBaudValue(12345);  // ignored unless the rate is custom
  EXPECT_EQ(comm.BaudValue(), 19200u);
  comm.SetBaudRate(brCustom);
  EXPECT_EQ(comm.BaudValue(), 19200u);  // brCustom keeps the value
  comm.SetBaudValue(12345);
  EXPECT_EQ(comm.BaudValue(), 12345u);
  EXPECT_EQ(comm.BaudRate(), brCustom);
  comm.SetBaudRate(br256000);
  EXPECT_EQ(comm.BaudValue(), 256000u);
}

TEST(CommProperties, QueueSizesAreClamped) {
  const struct {
    uint16_t set;
    uint16_t expected;
  } rows[] = {{100, 128}, {0, 128}, {127, 128}, {128, 128}, {1000, 1000}, {4096, 4096}, {4097, 4096}, {65535, 4096}};
  for (const auto& row : rows) {
    TXComm comm;
    comm.Buffers().SetInputSize(row.set);
    comm.Buffers().SetOutputSize(row.set);
    EXPECT_EQ(comm.Buffers().InputSize(), row.expected) << row.set;
    EXPECT_EQ(comm.Buffers().OutputSize(), row.expected) << row.set;
  }
}

TEST(CommProperties, FlowControlPresetsDeriveTheLineControlSets) {
  const struct {
    const char* name;
    TFlowControl flow;
    TCommOptions options;
    TRTSSettings rts;
    TDTRSettings dtr;
    TXOnXOffSettings xon;
  } rows[] = {
      {"none", fcNone, 0, 0, 0, 0},
      {"rts-cts", fcRtsCts, 0, kCtsOut | kRtsHs, kDtrOn, 0},
      {"dtr-dsr", fcDtrDsr, 0, kRtsOn, kDsrOut | kDtrOn, 0},
      {"software", fcSoftware, 0, 0, kDtrOn, kInX | kOutX},
      {"none-leave-dtr-open", fcNone, kLeaveDtr, 0, kDtrOn, 0},
      {"rts-cts-leave-dtr-open", fcRtsCts, kLeaveDtr, kCtsOut | kRtsHs, kDtrOn, 0},
  };
  for (const auto& row : rows) {
    TXComm comm;
    comm.SetOptions(row.options);
    comm.SetFlowControl(fcSoftware);  // something to replace
    comm.SetFlowControl(row.flow);
    EXPECT_EQ(comm.RTSSettings(), row.rts) << row.name;
    EXPECT_EQ(comm.DTRSettings(), row.dtr) << row.name;
    EXPECT_EQ(comm.XOnXOffSettings(), row.xon) << row.name;
  }
}

TEST(CommProperties, LineControlSetsAreTheUsersOnlyUnderCustom) {
  TXComm comm;
  comm.SetFlowControl(fcRtsCts);
  comm.SetRTSSettings(kRtsOn);  // ignored: a preset is in force
  comm.SetXOnXOffSettings(kInX);
  comm.SetDTRSettings(kDsrOut);
  EXPECT_EQ(comm.RTSSettings(), kCtsOut | kRtsHs);
  EXPECT_EQ(comm.XOnXOffSettings(), 0);
  EXPECT_EQ(comm.DTRSettings(), kDtrOn);

  comm.SetFlowControl(fcCustom);  // the sets in force become the custom ones
  EXPECT_EQ(comm.RTSSettings(), kCtsOut | kRtsHs);
  EXPECT_EQ(comm.DTRSettings(), kDtrOn);
  comm.SetRTSSettings(kRtsOn);
  comm.SetXOnXOffSettings(kInX);
  EXPECT_EQ(comm.RTSSettings(), kRtsOn);
  EXPECT_EQ(comm.XOnXOffSettings(), kInX);

  // Options while closed re-derive the sets, from fcCustom too.
  comm.SetOptions(bit(coParityCheck));
  EXPECT_EQ(comm.RTSSettings(), 0);
  EXPECT_EQ(comm.XOnXOffSettings(), 0);
  EXPECT_EQ(comm.DTRSettings(), kDtrOn);
}

TEST(CommProperties, DtrModesExcludeEachOther) {
  const struct {
    const char* name;
    TDTRSettings current;
    TCommOptions options;
    TDTRSettings request;
    TDTRSettings expected;
  } rows[] = {
      {"handshake-replaces-enabled", kDtrOn, 0, kDtrOn | kDtrHs, kDtrHs},
      {"enabled-replaces-handshake", kDtrHs, 0, kDtrOn | kDtrHs, kDtrOn},
      {"single-mode-kept", 0, 0, kDsrOut | kDtrHs, kDsrOut | kDtrHs},
      {"leave-open-forces-enabled", 0, kLeaveDtr, kDtrHs, kDtrOn},
      {"cleared", kDtrOn, 0, 0, 0},
  };
  for (const auto& row : rows) {
    TXComm comm;
    comm.SetFlowControl(fcCustom);
    comm.SetDTRSettings(row.current);
    ASSERT_EQ(comm.DTRSettings(), row.current) << row.name;
    comm.SetOptions(row.options);
    comm.SetFlowControl(fcCustom);
    comm.SetDTRSettings(row.request);
    EXPECT_EQ(comm.DTRSettings(), row.expected) << row.name;
  }
}

TEST(CommProperties, GroupsAssignOnlyTheirOwnClass) {
  TXComm source;
  source.DataControl().SetParity(paMark);
  source.DataControl().SetStopBits(sb2);
  source.Buffers().SetInputSize(512);
  source.Buffers().SetOutputTimeout(77);
  source.EventChars().Set(4, '#');
  source.Timeouts().Set(2, 42);

  TXComm target;
  target.SetDataControl(source.DataControl());
  target.SetBuffers(source.Buffers());
  target.SetEventChars(source.EventChars());
  target.SetTimeouts(source.Timeouts());
  EXPECT_EQ(target.DataControl().Parity(), paMark);
  EXPECT_EQ(target.DataControl().StopBits(), sb2);
  EXPECT_EQ(target.Buffers().InputSize(), 512);
  EXPECT_EQ(target.Buffers().OutputTimeout(), 77);
  EXPECT_EQ(target.EventChars().EventChar(), '#');
  EXPECT_EQ(target.Timeouts().Get(2), 42u);

  target.DataControl().Assign(target.DataControl());  // itself: nothing happens
  EXPECT_EQ(target.DataControl().Parity(), paMark);

  try {
    target.DataControl().Assign(source.Buffers());
    FAIL() << "nothing raised";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TCommBuffers to a TCommDataControl");
  }
  EXPECT_THROW(target.Timeouts().Assign(source.EventChars()), EConvertError);
}

TEST(CommProperties, IndexedValuesOutOfRangeAreIgnored) {
  TXComm comm;
  comm.EventChars().Set(5, 'x');
  comm.Timeouts().Set(-1, 9);
  EXPECT_EQ(comm.EventChars().Get(5), 0);
  EXPECT_EQ(comm.Timeouts().Get(-1), 0u);
  comm.SetDeviceName("com5");
  EXPECT_EQ(comm.DeviceName(), "com5");  // kept as given
}

// --- open on a pseudo-terminal ---

namespace {

class OpenCommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    comm.SetDeviceName(pty.Path());
    ASSERT_TRUE(comm.Open());
  }
  uint32_t SlaveSpeed() const {
    uint32_t rate = 0;
    XComGetSpeed(pty.Slave(), rate);
    return rate;
  }
  PtyPair pty;
  TXComm comm;
};

}  // namespace

TEST_F(OpenCommTest, OpenGivesARawLineWithTheSettings) {
  const termios t = pty.SlaveTermios();
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(comm.DataControl().DataBits(), db8);
  EXPECT_EQ(comm.BaudRate(), br9600);
}

TEST_F(OpenCommTest, SettersReachTheDeviceAtOnce) {
  // probe: the frame bits a pty must take for the row (clear mask, bits).
  const struct {
    const char* name;
    std::function<void(TXComm&)> set;
    std::function<bool(const termios&)> device;
    std::function<bool(TXComm&)> getter;
    tcflag_t probeClear = 0;
    tcflag_t probeSet = 0;
  } rows[] = {
      {"19200", [](TXComm& c) { c.SetBaudRate(br19200); },
       [](const termios& t) { return cfgetospeed(&t) == B19200; },
       [](TXComm& c) { return c.BaudRate() == br19200 && c.BaudValue() == 19200; }},
      {"7-bits", [](TXComm& c) { c.DataControl().SetDataBits(db7); },
       [](const termios& t) { return (t.c_cflag & CSIZE) == CS7; },
       [](TXComm& c) { return c.DataControl().DataBits() == db7; }, CSIZE, CS7},
      {"5-bits", [](TXComm& c) { c.DataControl().SetDataBits(db5); },
       [](const termios& t) { return (t.c_cflag & CSIZE) == CS5; },
       [](TXComm& c) { return c.DataControl().DataBits() == db5; }, CSIZE, CS5},
      {"odd", [](TXComm& c) { c.DataControl().SetParity(paOdd); },
       [](const termios& t) { return (t.c_cflag & (PARENB | PARODD | CMSPAR)) == (PARENB | PARODD); },
       [](TXComm& c) { return c.DataControl().Parity() == paOdd; }, 0, PARENB | PARODD},
      {"even", [](TXComm& c) { c.DataControl().SetParity(paEven); },
       [](const termios& t) { return (t.c_cflag & (PARENB | PARODD | CMSPAR)) == PARENB; },
       [](TXComm& c) { return c.DataControl().Parity() == paEven; }, 0, PARENB},
      {"mark", [](TXComm& c) { c.DataControl().SetParity(paMark); },
       [](const termios& t) { return (t.c_cflag & (PARENB | PARODD | CMSPAR)) == (PARENB | PARODD | CMSPAR); },
       [](TXComm& c) { return c.DataControl().Parity() == paMark; }, 0, PARENB | PARODD | CMSPAR},
      {"space", [](TXComm& c) { c.DataControl().SetParity(paSpace); },
       [](const termios& t) { return (t.c_cflag & (PARENB | PARODD | CMSPAR)) == (PARENB | CMSPAR); },
       [](TXComm& c) { return c.DataControl().Parity() == paSpace; }, 0, PARENB | CMSPAR},
      {"two-stop-bits", [](TXComm& c) { c.DataControl().SetStopBits(sb2); },
       [](const termios& t) { return (t.c_cflag & CSTOPB) != 0; },
       [](TXComm& c) { return c.DataControl().StopBits() == sb2; }},
      {"rts-cts", [](TXComm& c) { c.SetFlowControl(fcRtsCts); },
       [](const termios& t) { return (t.c_cflag & CRTSCTS) && !(t.c_iflag & (IXON | IXOFF)); },
       [](TXComm& c) { return c.RTSSettings() == (kCtsOut | kRtsHs) && c.DTRSettings() == kDtrOn; }},
      {"software", [](TXComm& c) { c.SetFlowControl(fcSoftware); },
       [](const termios& t) { return !(t.c_cflag & CRTSCTS) && (t.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF); },
       [](TXComm& c) { return c.XOnXOffSettings() == (kInX | kOutX) && c.RTSSettings() == 0; }},
      {"custom-output-xon", [](TXComm& c) { c.SetFlowControl(fcCustom); c.SetXOnXOffSettings(kOutX); },
       [](const termios& t) { return (t.c_iflag & (IXON | IXOFF)) == IXON; },
       [](TXComm& c) { return c.XOnXOffSettings() == kOutX; }},
      {"parity-check", [](TXComm& c) { c.SetOptions(bit(coParityCheck)); },
       [](const termios& t) { return (t.c_iflag & INPCK) != 0; },
       [](TXComm& c) { return c.Options() == bit(coParityCheck); }},
      {"xon-xoff-chars", [](TXComm& c) { c.EventChars().Set(0, 'A'); c.EventChars().Set(1, 'B'); },
       [](const termios& t) { return t.c_cc[VSTART] == 'A' && t.c_cc[VSTOP] == 'B'; },
       [](TXComm& c) { return c.EventChars().XonChar() == 'A' && c.EventChars().XoffChar() == 'B'; }},
  };
  for (const auto& row : rows) {
    PtyPair pty;
    TXComm comm;
    comm.SetDeviceName(pty.Path());
    ASSERT_TRUE(comm.Open()) << row.name;
    if ((row.probeClear | row.probeSet) == 0 || PtyTakes(row.probeClear, row.probeSet)) {
      ASSERT_EQ(Code([&] { row.set(comm); }), 0) << row.name;
      EXPECT_TRUE(row.device(pty.SlaveTermios())) << row.name;
      EXPECT_TRUE(row.getter(comm)) << row.name;
    } else {
      // The device refuses: code 3, and it keeps its previous settings.
      const termios before = pty.SlaveTermios();
      EXPECT_EQ(Code([&] { row.set(comm); }), CE_DCB) << row.name;
      const termios after = pty.SlaveTermios();
      EXPECT_EQ(after.c_cflag, before.c_cflag) << row.name;
      EXPECT_EQ(after.c_iflag, before.c_iflag) << row.name;
    }
    comm.Close();
  }
}

TEST_F(OpenCommTest, RatesWithoutATermiosConstantUseTermios2) {
  comm.SetBaudRate(br14400);
  EXPECT_EQ(SlaveSpeed(), 14400u);
  EXPECT_EQ(comm.BaudRate(), br14400);
  comm.SetBaudRate(brCustom);
  comm.SetBaudValue(12345);
  EXPECT_EQ(SlaveSpeed(), 12345u);
  EXPECT_EQ(comm.BaudValue(), 12345u);
  EXPECT_EQ(comm.BaudRate(), brCustom);
  comm.SetBaudValue(115200);  // back to a B-constant
  EXPECT_EQ(SlaveSpeed(), 115200u);
  EXPECT_EQ(Code([&] { comm.SetBaudValue(0); }), CE_DCB);  // rate 0 would hang up the line
  EXPECT_EQ(SlaveSpeed(), 115200u);
}

TEST_F(OpenCommTest, GettersReportTheDevicesLiveSettings) {
  // Someone changes the line behind the component's back.
  termios t = pty.SlaveTermios();
  t.c_cflag |= CSTOPB | CRTSCTS;
  t.c_iflag |= IXON | INPCK;
  t.c_cc[VSTART] = 'S';
  cfsetspeed(&t, B38400);
  ASSERT_EQ(tcsetattr(pty.Slave(), TCSANOW, &t), 0);

  EXPECT_EQ(comm.DataControl().StopBits(), sb2);
  EXPECT_EQ(comm.EventChars().XonChar(), 'S');
  EXPECT_EQ(comm.BaudValue(), 38400u);
  EXPECT_EQ(comm.BaudRate(), br38400);
  EXPECT_EQ(comm.RTSSettings(), kCtsOut | kRtsHs);
  EXPECT_EQ(comm.XOnXOffSettings(), kOutX);
  EXPECT_EQ(comm.Options(), bit(coParityCheck));

  cfsetspeed(&t, B230400);  // a rate outside the component's table
  ASSERT_EQ(tcsetattr(pty.Slave(), TCSANOW, &t), 0);
  EXPECT_EQ(comm.BaudRate(), brCustom);
  EXPECT_EQ(comm.BaudValue(), 230400u);

  if (PtyTakes(CSIZE, CS7 | PARENB)) {
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARODD | CMSPAR)) | CS7 | PARENB;
    ASSERT_EQ(tcsetattr(pty.Slave(), TCSANOW, &t), 0);
    EXPECT_EQ(comm.DataControl().DataBits(), db7);
    EXPECT_EQ(comm.DataControl().Parity(), paEven);
  }
}

TEST_F(OpenCommTest, RefusedFrameKeepsTheDeviceAndTheNewValue) {
  if (PtyTakes(CSIZE, CS7)) GTEST_SKIP() << "this kernel's ptys take 7 data bits";
  EXPECT_EQ(Code([&] { comm.DataControl().SetDataBits(db7); }), CE_DCB);
  EXPECT_EQ(comm.DataControl().DataBits(), db8);  // what the device runs with
  EXPECT_EQ(pty.SlaveTermios().c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  comm.Close();
  EXPECT_EQ(comm.DataControl().DataBits(), db7);  // the component kept the request
}

TEST_F(OpenCommTest, DeviceNameAndLeaveDtrOpenAreFrozenWhileOpen) {
  comm.SetDeviceName("COM9");
  EXPECT_EQ(comm.DeviceName(), pty.Path());
  comm.SetOptions(kLeaveDtr | bit(coParityCheck));
  EXPECT_EQ(comm.Options(), bit(coParityCheck));
  comm.Close();
  comm.SetDeviceName("COM9");
  EXPECT_EQ(comm.DeviceName(), "COM9");
}

TEST_F(OpenCommTest, QueueSizeChangePurgesBothWays) {
  pty.Send("abc");
  ASSERT_TRUE(pty.WaitSlaveInput());
  EXPECT_EQ(comm.QueueCount(0), 3u);
  comm.Buffers().SetInputSize(1024);
  EXPECT_EQ(comm.QueueCount(0), 0u);
  EXPECT_EQ(comm.Buffers().InputSize(), 1024);
}

TEST_F(OpenCommTest, SettersOnALineThatWentAwayRaiseAndKeepTheValue) {
  pty.CloseMaster();
  EXPECT_EQ(Code([&] { comm.DataControl().SetParity(paOdd); }), CE_DCB);
  EXPECT_EQ(Code([&] { comm.SetBaudRate(br57600); }), CE_DCB);
  EXPECT_EQ(Code([&] { comm.Buffers().SetOutputSize(256); }), CE_BUFFERS);
  EXPECT_EQ(Code([&] { comm.Timeouts().Set(0, 5); }), 0);  // no device time-outs on Linux
  // The queries fail too: the getters fall back to the stored values, quietly.
  EXPECT_EQ(comm.DataControl().Parity(), paOdd);
  EXPECT_EQ(comm.BaudRate(), br57600);
  EXPECT_EQ(comm.BaudValue(), 57600u);
  EXPECT_EQ(comm.Buffers().OutputSize(), 256);
  comm.Close();
}
