// Output elements: small data objects that the link thread posts and the GUI
// thread applies. They carry data only; the posting operations (TOutArray) and
// the appliers (ui/Appliers) hold the behaviour.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "model/Operation.h"

// What an element addresses: a control, list view, slider, navigation item or
// group, named by the form (page, dialog or main window) it sits on and its
// own name. The link side only names it; the GUI thread resolves the name when
// it applies the element, so no widget type crosses the thread boundary.
// An empty Name addresses the form itself.
struct TTarget {
  std::string Form;
  std::string Name;
  bool operator==(const TTarget&) const = default;
};

// Targets outside the settings pages that the link thread and the device use.
namespace Targets {
inline const TTarget Memo1{"Form1", "Memo1"};
inline const TTarget RzStatusPane2{"Form1", "RzStatusPane2"};
inline const TTarget RzGroup2{"Form1", "RzGroup2"};
inline const TTarget DisconnectItem{"Form1", "Отключиться"};
inline const TTarget Panel2{"TdlgSplash", "Panel2"};
inline const TTarget Button1{"TdlgSplash", "Button1"};
// The line under Panel2 that keeps the course of a modem call (attempt, the
// previous attempt's outcome, the line's speed).
inline const TTarget CallLine{"TdlgSplash", "Panel6"};
}  // namespace Targets

struct TOutElement {
  explicit TOutElement(uint8_t kind) : Kind(kind) {}
  virtual ~TOutElement() = default;
  uint8_t Kind;
};

// Element kinds.
enum : uint8_t {
  okMemo = 1,
  okControlText = 2,
  okComponentText = 3,
  okListRow = 4,
  okChangeItemInd = 5,
  okTriSlider = 6,
  okFullList = 7,
  okClearList = 8,
  okMsg = 9,
  okStatus = 10,
  okControlColor = 11,
  okPersistent = 12,
  okResult = 13,
  okReading = 14,
};

// A failure of the serial port component quoted in a memo line: the
// component's code and English message, which the window says in its own
// words. The message is the Length bytes of the line that end Tail bytes
// before its end (a date prefix added in front does not move it).
struct TSerialFault {
  int Code = 0;         // EDeviceError::ErrorCode; 0: the line quotes none
  int SystemError = 0;  // the errno behind it, 0 when none
  std::string Device;   // the port's name
  size_t Length = 0;
  size_t Tail = 0;
};

struct TMemoOut : TOutElement {
  TMemoOut() : TOutElement(okMemo) {}
  std::string Text;
  bool ShowInMemo = false;
  // The traffic itself (commands, replies, attempts, the thread's start and
  // end) rather than a line for the installer: the window shows it only
  // when asked to; the debug log always keeps it.
  bool Traffic = false;
  TSerialFault Serial;
};

// Kind 2 (a control text) and kind 11 (a colour name) share this class.
struct TControlOut : TOutElement {
  explicit TControlOut(uint8_t kind) : TOutElement(kind) {}
  TTarget Control;
  std::string Text;
};

struct TCompOut : TOutElement {
  TCompOut() : TOutElement(okComponentText) {}
  TTarget Component;
  std::string Text;
};

struct TListOut : TOutElement {
  TListOut() : TOutElement(okListRow) {}
  TTarget ListView;
  std::string RowNumber;  // 1-based, decimal
  std::string Text;       // the row's first sub-item
  int32_t StateImage = -1;
};

struct TChangeItemIndOut : TOutElement {
  TChangeItemIndOut() : TOutElement(okChangeItemInd) {}
  TTarget ListView;
  int32_t Row = 0;  // 0-based row of ListView
  int32_t StateImage = -1;
};

struct TTriSliderOut : TOutElement {
  TTriSliderOut() : TOutElement(okTriSlider) {}
  TTarget Slider;
  int32_t Index = 0;
  std::string Text;
};

using StrArr = std::array<std::string, 6>;

struct TFullListOut : TOutElement {
  TFullListOut() : TOutElement(okFullList) {}
  TTarget ListView;
  std::string Caption;
  StrArr SubItems;
};

struct TClearListOut : TOutElement {
  TClearListOut() : TOutElement(okClearList) {}
  TTarget ListView;
};

struct TMsgOut : TOutElement {
  TMsgOut() : TOutElement(okMsg) {}
  std::string Text;
};

struct TStatusOut : TOutElement {
  TStatusOut() : TOutElement(okStatus) {}
  std::string Text;
  TTarget Panel;
};

struct TPOut : TOutElement {
  TPOut() : TOutElement(okPersistent) {}
  std::string Text;
  TTarget Target;
};

// The end of an operation (the connection check included): its typed outcome
// and what a read brought. Queued after everything else the operation posted.
struct TResultOut : TOutElement {
  TResultOut() : TOutElement(okResult) {}
  TOperationResult Result;
};

// One reading of an ADC channel taken by the monitor: when (the link clock's
// milliseconds, the same time line for every reading of a link), which
// channel (0 or 1), and the value 0..1023, or none when the request failed
// (no "OK", a refusal, a reply line that is not a reading, the link going
// down): a failed reading is never a value.
struct TReadingOut : TOutElement {
  TReadingOut() : TOutElement(okReading) {}
  uint32_t TimeMs = 0;
  int32_t Channel = 0;
  std::optional<int32_t> Value;
};
