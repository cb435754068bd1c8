// Serial port component on POSIX termios.
//
// TCustomComm owns one serial device: exclusive open, line settings, queues,
// transfers with time-outs of its own, an event-watch thread and EDeviceError
// for every failure. TXComm adds the published properties.
//
// Threads: the owner's thread (the link thread in this program) calls Open,
// Close, the transfers, the setters and the getters. The event watcher runs on
// its own thread and hands each notification to the GUI thread through
// TGuiSync when Synchronize is true. QueueCount may also run on the GUI thread
// (from DoCommEvent) while a transfer runs on the owner's thread. Handlers and
// clients are set up before Open: the watcher reads them without a lock.
//
// Linux: the device is a tty opened with O_NONBLOCK, made exclusive by flock
// and TIOCEXCL, and driven in raw mode through termios. Settings with no
// termios equivalent are stored and reported as stored (see LineSettings.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class TCustomComm;
class TCommEventThread;

// The component's exception: a fixed English message and a numeric code.
class EDeviceError : public std::runtime_error {
 public:
  EDeviceError(const std::string& message, int code) : std::runtime_error(message), ErrorCode(code) {}
  int ErrorCode;
  // The errno behind a failed open (0 when there is none); a port held by
  // another opener's lock reports EBUSY.
  int SystemError = 0;
};

[[noreturn]] void RaiseDeviceError(const std::string& message, int code);
// Builds "%s (system error %d: %s)" from the message, errno and strerror(errno);
// control characters, trailing spaces and full stops are taken off the system text.
[[noreturn]] void RaiseSystemDeviceError(const std::string& message, int code);
// The system's text for an errno, without control characters and the final full stop.
std::string SystemErrorText(int err);

// Refusal of an assignment between settings groups of different classes:
// "Cannot assign a <source class> to a <target class>".
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Base of the settings groups: an object that can be assigned from another.
// The base refuses every source; a group accepts a source of its own class.
class TPersistent {
 public:
  virtual ~TPersistent() = default;
  virtual const char* ClassName() const { return "TPersistent"; }
  virtual void Assign(const TPersistent& source);

 protected:
  TPersistent() = default;
  TPersistent(const TPersistent&) = default;
  TPersistent& operator=(const TPersistent&) = default;
};

// Error codes of EDeviceError.
enum : int {
  CE_NOT_OPEN = 1,
  CE_ALREADY_OPEN = 2,
  CE_DCB = 3,
  CE_SEND_LOCKED = 4,
  CE_READ_LOCKED = 5,
  CE_BUFFERS = 6,
  CE_TIMEOUTS = 7,
  CE_READ = 10,
  CE_WRITE = 11,
  CE_CANNOT_OPEN = 65535,
};

enum TBaudRate : int32_t {
  br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
  br38400, br56000, br57600, br115200, br128000, br256000, brCustom
};
enum TDataBits : uint8_t { db4, db5, db6, db7, db8 };
enum TParity : uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopBits : uint8_t { sb1, sb1p5, sb2 };
enum TFlowControl : int32_t { fcNone, fcRtsCts, fcDtrDsr, fcSoftware, fcCustom };

// Sets are bit sets: member n is bit n.
enum TRTSSetting : uint8_t { fsCTSOut, fsRTSEnabled, fsRTSHandshake };
enum TDTRSetting : uint8_t { fsDSROut, fsDTREnabled, fsDTRHandshake };
enum TXOnXOffSetting : uint8_t { fsInX, fsOutX };
enum TCommOption : uint8_t {
  coAbortOnError, coDiscardNull, coDSRSensitivity, coErrorChar, coParityCheck,
  coTXContinueOnXOff, coLeaveDTROpen
};
enum TDeviceEvent : uint8_t {
  deChar, deFlag, deOutEmpty, deCTS, deDSR, deRLSD, deBreak, deError, deRing,
  dePrintError, deIn80Full, deProv1, deProv2
};
using TRTSSettings = uint8_t;
using TDTRSettings = uint8_t;
using TXOnXOffSettings = uint8_t;
using TCommOptions = uint8_t;
using TDeviceEvents = uint16_t;

constexpr uint32_t bit(unsigned n) { return 1u << n; }

// Bits per second for each TBaudRate below brCustom.
extern const uint32_t BaudTable[15];

// Milliseconds from CLOCK_MONOTONIC, truncated to 32 bits; compare readings by
// unsigned difference so that a wrap does not break a wait.
uint32_t TickMs();

// Lock states returned by LockState.
enum TLockState : uint8_t { lsSend = 1, lsRead = 2 };

// A client attached to a component (the program attaches none).
class TCommClient {
 public:
  enum TNotify : uint8_t { nBefore = 1, nAfter = 2 };
  virtual ~TCommClient();
  uint8_t NotifyOrder = 0;  // set of TNotify
  uint8_t Locks = 0;        // set of TLockState
  virtual void CommEvent(TDeviceEvents events) = 0;
  void Attach(TCustomComm* comm);
  void Detach();
  TCustomComm* Comm() const { return comm_; }

 private:
  TCustomComm* comm_ = nullptr;
};

// Settings groups. Each holds a reference to its component; setters follow the
// component's rules (store, then apply to an open device).
class TCommDataControl : public TPersistent {
 public:
  explicit TCommDataControl(TCustomComm* owner) : owner_(owner) {}
  const char* ClassName() const override { return "TCommDataControl"; }
  TDataBits DataBits() const;
  TParity Parity() const;
  TStopBits StopBits() const;
  void SetDataBits(TDataBits v);
  void SetParity(TParity v);
  void SetStopBits(TStopBits v);
  // Copies a group of the same class (its values as its getters report
  // them) and applies them; any other source raises EConvertError.
  void Assign(const TPersistent& src) override;

 private:
  friend class TCustomComm;
  TCustomComm* owner_;
  TDataBits dataBits_ = db8;
  TParity parity_ = paNone;
  TStopBits stopBits_ = sb1;
};

class TCommBuffers : public TPersistent {
 public:
  explicit TCommBuffers(TCustomComm* owner) : owner_(owner) {}
  const char* ClassName() const override { return "TCommBuffers"; }
  uint16_t InputSize() const;
  uint16_t OutputSize() const;
  uint16_t InputTimeout() const { return inputTimeout_; }
  uint16_t OutputTimeout() const { return outputTimeout_; }
  void SetInputSize(uint16_t v);
  void SetOutputSize(uint16_t v);
  void SetInputTimeout(uint16_t v) { inputTimeout_ = v; }
  void SetOutputTimeout(uint16_t v) { outputTimeout_ = v; }
  void Assign(const TPersistent& src) override;

 private:
  friend class TCustomComm;
  TCustomComm* owner_;
  uint16_t inputSize_ = 2048;
  uint16_t outputSize_ = 2048;
  uint16_t inputTimeout_ = 500;
  uint16_t outputTimeout_ = 500;
};

class TCommEventChars : public TPersistent {
 public:
  explicit TCommEventChars(TCustomComm* owner) : owner_(owner) {}
  const char* ClassName() const override { return "TCommEventChars"; }
  // Index: XonChar 0, XoffChar 1, EofChar 2, ErrorChar 3, EventChar 4.
  char Get(int index) const;
  void Set(int index, char c);
  char XonChar() const { return Get(0); }
  char XoffChar() const { return Get(1); }
  char EofChar() const { return Get(2); }
  char ErrorChar() const { return Get(3); }
  char EventChar() const { return Get(4); }
  void Assign(const TPersistent& src) override;

 private:
  friend class TCustomComm;
  TCustomComm* owner_;
  char chars_[5] = {17, 19, 0, 0, 10};
};

class TCommTimeoutsEx : public TPersistent {
 public:
  explicit TCommTimeoutsEx(TCustomComm* owner) : owner_(owner) {}
  const char* ClassName() const override { return "TCommTimeoutsEx"; }
  // Index: ReadInterval 0, ReadMultiplier 1, ReadConstant 2, WriteMultiplier 3, WriteConstant 4.
  uint32_t Get(int index) const;
  void Set(int index, uint32_t v);
  void Assign(const TPersistent& src) override;

 private:
  friend class TCustomComm;
  TCustomComm* owner_;
  uint32_t values_[5] = {1, 0, 1, 0, 1};
};

class TCustomComm {
 public:
  using TCommEvent = std::function<void(TCustomComm* sender, TDeviceEvents events)>;
  using TDataEvent = std::function<void(TCustomComm* sender, uint32_t received)>;
  using TNotifyEvent = std::function<void(TCustomComm* sender)>;

  TCustomComm();
  virtual ~TCustomComm();
  TCustomComm(const TCustomComm&) = delete;
  TCustomComm& operator=(const TCustomComm&) = delete;

  // Owner's thread. Close (and the destructor) stop the watcher and join it;
  // on the GUI thread they keep serving TGuiSync calls while they wait. Close
  // must not be called from an OnCommEvent/OnData handler.
  virtual bool Open();
  virtual void Close();
  virtual uint8_t LockState();
  bool IsOpen() const { return handle_.load(std::memory_order_acquire) >= 0; }
  int Handle() const { return handle_.load(std::memory_order_acquire); }
  // which: 0 input, 1 output. Any thread. A failure of the input query (a
  // line that went away) raises code 10, of the output query code 11.
  uint32_t QueueCount(int which);
  // Transfers: owner's thread. Waits use poll() bounded by the time left.
  uint32_t ReadBuffer(void* buffer, uint32_t count, uint32_t timeoutMs);
  uint32_t Read(void* buffer, uint32_t count);
  bool ReadChar(char& c);
  uint32_t WriteBuffer(const void* buffer, uint32_t count, uint32_t timeoutMs);
  uint32_t Write(const void* buffer, uint32_t count);
  // A descriptor that ends a transfer's wait early when it becomes readable
  // (the owner's stop signal); -1 for none. The transfer then returns the
  // short count, as on its time-out. Owner's thread.
  void SetCancelFd(int fd) { cancelFd_ = fd; }
  bool WriteChar(char c);
  bool WriteString(const std::string& text);
  uint32_t ReceivedCount() const { return receivedCount_; }
  uint32_t SentCount() const { return sentCount_; }
  void DispatchEvents(TDeviceEvents events);

  // Path opened for a device name: a name with "/" is the path itself,
  // "COMn" is /dev/ttyS(n-1), any other name is /dev/NAME.
  static std::string DevicePath(const std::string& name);

  TCommEvent OnCommEvent;
  TDataEvent OnData;
  TNotifyEvent OnRead;
  TNotifyEvent OnSend;

 protected:
  virtual void DoCommEvent(TDeviceEvents events);
  virtual void DoData(uint32_t received);

  // Write the settings to an open device (nothing when closed); raise codes 3
  // and 6. Linux has no device time-outs, so code 7 is never raised.
  void ApplyLineSettings();
  void ApplyBuffers();
  void ApplyTimeouts();
  // Re-derive the line-control sets (see TXComm); flags 0 means from the preset,
  // else a word made by ReadLiveLine (lfValid always set).
  void SyncLineControl(uint32_t deviceFlags);

  // Bits of the device flag word handed to SyncLineControl.
  enum : uint32_t {
    lfCtsRts = 1u << 0,  // CRTSCTS
    lfOutX = 1u << 1,    // IXON
    lfInX = 1u << 2,     // IXOFF
    lfParity = 1u << 3,  // INPCK
    lfValid = 1u << 31,  // the word comes from the device
  };
  // The open device's line settings in this component's terms.
  struct TLiveLine {
    uint32_t baud = 0;  // 0 when the rate could not be read
    TDataBits dataBits = db8;
    TParity parity = paNone;
    TStopBits stopBits = sb1;
    char xonChar = 17;
    char xoffChar = 19;
    uint32_t flags = 0;
  };
  // False when closed or when the device query fails.
  bool ReadLiveLine(TLiveLine& live) const;
  // SyncLineControl from the open device's flags; false (nothing changed)
  // when closed or when the query fails.
  bool SyncFromDevice();

  friend class TCommClient;
  friend class TCommDataControl;
  friend class TCommBuffers;
  friend class TCommEventChars;
  friend class TCommTimeoutsEx;
  friend class TCommEventThread;

  std::atomic<int> handle_{-1};
  TBaudRate baudRate_ = br9600;
  uint32_t baudValue_ = 9600;
  std::unique_ptr<TCommBuffers> buffers_;
  std::unique_ptr<TCommDataControl> dataControl_;
  std::string deviceName_ = "COM2";
  TDTRSettings dtrSettings_ = 0;
  std::unique_ptr<TCommEventChars> eventChars_;
  TDeviceEvents monitorEvents_ = bit(deChar) | bit(deFlag) | bit(deOutEmpty);
  TFlowControl flowControl_ = fcNone;
  TCommOptions options_ = 0;
  TRTSSettings rtsSettings_ = 0;
  std::atomic<bool> synchronize_{true};
  std::unique_ptr<TCommTimeoutsEx> timeouts_;
  TXOnXOffSettings xonXoffSettings_ = 0;
  std::unique_ptr<TCommEventThread> eventThread_;
  uint8_t lockBits_ = 0;
  std::vector<TCommClient*> clients_;
  uint32_t receivedCount_ = 0;
  uint32_t sentCount_ = 0;
  std::atomic<bool> destroying_{false};  // read by the watcher
  int cancelFd_ = -1;

  // The destructors' part: marks the component as being destroyed, stops the
  // watcher and closes the device without raising. The most derived class
  // calls it first thing in its destructor, so that the watcher never calls an
  // override (DoCommEvent, DoData) of a class already torn down. Idempotent.
  void Shutdown();

 private:
  void StopEventThread();
  void CloseHandle();
  // Waits up to timeoutMs for events on the open device; returns revents
  // (0 on time-out or signal). *cancelled tells that the cancel descriptor
  // ended the wait.
  short WaitDevice(short events, int timeoutMs, bool* cancelled);
};

// The component with its published properties and their rules.
class TXComm : public TCustomComm {
 public:
  TXComm() = default;
  // Stops the watcher before anything of the object is torn down.
  ~TXComm() override;
  TBaudRate BaudRate();
  void SetBaudRate(TBaudRate v);
  uint32_t BaudValue();
  void SetBaudValue(uint32_t v);
  TCommBuffers& Buffers() { return *buffers_; }
  void SetBuffers(const TCommBuffers& v);
  TRTSSettings RTSSettings();
  void SetRTSSettings(TRTSSettings v);
  TCommDataControl& DataControl() { return *dataControl_; }
  void SetDataControl(const TCommDataControl& v);
  const std::string& DeviceName() const { return deviceName_; }
  void SetDeviceName(const std::string& v);
  TDTRSettings DTRSettings();
  void SetDTRSettings(TDTRSettings v);
  TCommEventChars& EventChars() { return *eventChars_; }
  void SetEventChars(const TCommEventChars& v);
  TDeviceEvents MonitorEvents() const { return monitorEvents_; }
  void SetMonitorEvents(TDeviceEvents v) { monitorEvents_ = v; }
  TFlowControl FlowControl() const { return flowControl_; }
  void SetFlowControl(TFlowControl v);
  TCommOptions Options();
  void SetOptions(TCommOptions v);
  bool Synchronize() const { return synchronize_.load(); }
  void SetSynchronize(bool v) { synchronize_.store(v); }
  TCommTimeoutsEx& Timeouts() { return *timeouts_; }
  void SetTimeouts(const TCommTimeoutsEx& v);
  TXOnXOffSettings XOnXOffSettings();
  void SetXOnXOffSettings(TXOnXOffSettings v);
};
