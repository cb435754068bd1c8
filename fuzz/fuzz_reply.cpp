// The panel's replies to the device's own exchanges. The first input byte
// picks the operation: the current page (common settings, keys, GSM, ADC) and
// the link mode 3 to 6. The rest is what the panel answers to each command in
// turn, the answers separated by a 0xFF byte: an empty answer is silence, and
// once the answers run out the panel stays silent. An answer that begins with
// 0xFE and a count n is the rest of it repeated up to n KiB, a flood; one a
// run, and a little more than one reply may keep (a flood is read byte by
// byte, so it costs time, not coverage).
//
// The device runs on a link whose port is a pseudo-terminal, in virtual time.
// The panel's side is played inside the link's waits, on the same thread, so
// a run does not depend on the machine's speed and a time-out costs nothing.
//
// What must hold whatever the panel says: every output element names a
// control the device may change and posts a value that control can hold, no
// line grows past the reply cap, and the operation ends with the link mode
// back at 0.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <string>

#include "link/xModem.h"
#include "model/Fields.h"
#include "model/Operation.h"
#include "protocol/DevOstrel.h"

namespace {

void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

// ------------------------------------------------------------ the output

const size_t kMaxLine = TModem::kMaxReply + 256;  // a reply and the words around it

bool DecimalIn(const std::string& text, int low, int high) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const int value = std::stoi(text);
  return value >= low && value <= high;
}

bool IsFlag(const std::string& text) { return text == "true" || text == "false"; }

// name is prefix followed by a number from low to high.
bool Numbered(const std::string& name, const std::string& prefix, int low, int high) {
  return name.rfind(prefix, 0) == 0 && DecimalIn(name.substr(prefix.size()), low, high) &&
         name.substr(prefix.size())[0] != '0';
}

void CheckCommonControl(const std::string& name, const std::string& text) {
  if (Numbered(name, "etPhone", 1, 12)) {
    Require(text.size() <= 20 && text.find_first_not_of("0123456789+") == std::string::npos,
            "a phone is at most 20 digits and +");
  } else if (Numbered(name, "cbReact", 1, 12) || Numbered(name, "cb24", 1, 4) || Numbered(name, "rbNorm", 5, 12) ||
             name == "cbFastGuard" || name == "cbWaitSend") {
    Require(IsFlag(text), "a flag is true or false");
  } else if (name == "seTimeOut" || name == "seTimeOut2") {
    Require(DecimalIn(text, 0, 255), "a delay is 0..255");
  } else {
    Require(false, "a control of the common settings page");
  }
}

void CheckGsmControl(const std::string& name, const std::string& text) {
  if (name == "rb1" || name == "rb2" || name == "rb3")
    Require(text == "true", "a GSM module is chosen, never unchosen");
  else if (name == "cbRing")
    Require(DecimalIn(text, 0, 5), "a ring index is 0..5");
  else
    Require(false, "a control of the GSM page");
}

const char* const AdcPanes[] = {"pKZ1", "pZam1", "p2Z1", "p1Z1", "pRaz1", "pKZ2", "pZam2", "p2Z2", "p1Z2", "pRaz2"};

void CheckControlText(const TTarget& target, const std::string& text) {
  if (target == Targets::Memo1) {
    Require(text.rfind("good=", 0) == 0 && text.size() <= kMaxLine, "a traffic line within the reply cap");
  } else if (target == Targets::RzStatusPane2) {
    Require(text.find('\r') == std::string::npos && text.size() <= TModem::kMaxReply, "a version is one line");
  } else if (target.Name.empty()) {
    Require(text == "Show", "a page is only brought to the front");
  } else if (target.Form == Pages::Common) {
    CheckCommonControl(target.Name, text);
  } else if (target.Form == Pages::GSM) {
    CheckGsmControl(target.Name, text);
  } else if (target.Form == Pages::ACP) {
    Require(std::find(std::begin(AdcPanes), std::end(AdcPanes), target.Name) != std::end(AdcPanes),
            "a value pane of the ADC page");
    Require(DecimalIn(text, 0, 1023), "an ADC value is 0..1023");
  } else {
    Require(false, "a settings control or the main window's");
  }
}

bool IsHex(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
}

void CheckElement(const TOutElement& e) {
  switch (e.Kind) {
    case okMemo:
      Require(static_cast<const TMemoOut&>(e).Text.size() <= kMaxLine, "a memo line within the reply cap");
      break;
    case okControlText: {
      const auto& c = static_cast<const TControlOut&>(e);
      CheckControlText(c.Control, c.Text);
      break;
    }
    case okControlColor: {
      const auto& c = static_cast<const TControlOut&>(e);
      Require(c.Text == "clWindowText" || c.Text == "clRed" || c.Text == "clBlue", "a colour of a request");
      Require(c.Control.Form == Pages::GSM || c.Control.Form == Pages::ACP, "a label of the GSM or ADC page");
      break;
    }
    case okListRow: {
      const auto& l = static_cast<const TListOut&>(e);
      Require(l.ListView == TTarget{Pages::Keys, "TMLV"}, "the key list");
      Require(DecimalIn(l.RowNumber, 1, 10) && l.RowNumber[0] != '0', "a key row is 1..10");
      Require(l.Text.size() == 16 && IsHex(l.Text), "a key is 16 hexadecimal digits");
      break;
    }
    case okTriSlider: {
      const auto& s = static_cast<const TTriSliderOut&>(e);
      Require(s.Slider.Form == Pages::ACP && (s.Slider.Name == "ts" || s.Slider.Name == "ts2"), "an ADC slider");
      if (s.Text == "position") {
        Require(s.Index >= 0 && s.Index <= 1023, "a reading is 0..1023");
      } else {
        Require(s.Index >= 0 && s.Index <= 4, "a thumb is 0..4");
        const std::string digits = s.Text.substr(std::min<size_t>(1, s.Text.size()));
        Require(s.Text[0] == '$' && IsHex(digits) && digits.size() <= 8 && std::stoul(digits, nullptr, 16) <= 1023,
                "a threshold is 0..1023");
      }
      break;
    }
    case okMsg:
      Require(static_cast<const TMsgOut&>(e).Text.size() < 100, "a message box says a fixed text");
      break;
    case okPersistent: {
      const auto& p = static_cast<const TPOut&>(e);
      Require(p.Target == Targets::RzGroup2 && IsFlag(p.Text), "the page navigation is enabled or disabled");
      break;
    }
    case okResult: {
      // What a read brings goes into the settings of the result: every value
      // of the groups it holds must be one its field can hold.
      const TOperationResult& r = static_cast<const TResultOut&>(e).Result;
      Require(r.Mode == 1 || (r.Mode >= 3 && r.Mode <= 6), "the result of an operation");
      for (const TField& f : Fields()) {
        if (!r.Settings.Groups.Has(f.Group)) continue;
        const std::string text = FieldText(r.Settings, f);
        Require(Follows(f.Rule, text), "a value its field can hold");
        Require(f.Rule != TRule::Key || text.size() == 16, "a key is 16 hexadecimal digits");
      }
      break;
    }
    default:
      Require(false, "an element the device posts");
  }
}

void CheckAll(TOutArray& queue) {
  TOutElement* e = nullptr;
  while (queue.Pop(e) != 0) CheckElement(*e);
}

// ------------------------------------------------------------ the panel

// A pseudo-terminal whose master side is the panel: it answers each command
// (bytes up to a carriage return) with the next answer. It is played inside
// the link's waits, so time stands still while the panel or the line owes
// something; when the line is quiet, a wait moves time on by at least a
// second, so a silent panel's time-outs come after a few waits.
class TPanelLine : public TClock {
 public:
  TPanelLine(std::deque<std::string> answers, TOutArray& queue) : answers_(std::move(answers)), queue_(queue) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    Require(master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0, "a pseudo-terminal");
    path_ = ptsname(master_);
  }
  ~TPanelLine() override { close(master_); }
  TPanelLine(const TPanelLine&) = delete;
  TPanelLine& operator=(const TPanelLine&) = delete;

  const std::string& SlavePath() const { return path_; }
  // The link's port, once it is open.
  void Attach(TXComm& port) { port_ = &port; }
  void Detach() { port_ = nullptr; }

  uint32_t NowMs() override { return static_cast<uint32_t>(nowNs_ / kNsPerMs); }
  // The link waits for an answer or for unasked data: the panel has its turn.
  void Wait(uint32_t ms, int, int, int) override {
    const bool quiet = Play();
    nowNs_ += int64_t{quiet ? std::max(ms, kQuietStepMs) : ms} * kNsPerMs;
  }
  TDeadline DeadlineIn(uint32_t ms) override { return TDeadline{nowNs_}.After(ms); }
  // The pause after each character of a command: the panel's turn comes at
  // the next wait.
  void WaitUntil(TDeadline deadline) override {
    CheckAll(queue_);
    nowNs_ = std::max(nowNs_, deadline.Ns);
  }

 private:
  static constexpr int64_t kNsPerMs = 1'000'000;
  static constexpr uint32_t kQuietStepMs = 1000;
  // What the panel has written and the program not yet read stays below this,
  // well inside what the line holds unread.
  static constexpr uint32_t kInFlight = 2048;

  // Takes in what the program sent, answers, and hands the line the next part
  // of the answers. True when the line is quiet: the panel has nothing more to
  // say and the program has read all it said.
  bool Play() {
    CheckAll(queue_);
    if (!port_ || !port_->IsOpen()) return true;
    TakeCommands();
    WaitForTheLine();
    const uint32_t queued = port_->QueueCount(0);
    if (!pending_.empty() && queued < kInFlight) {
      const ssize_t n = write(master_, pending_.data(), std::min<size_t>(pending_.size(), kInFlight - queued));
      if (n > 0) {
        pending_.erase(0, static_cast<size_t>(n));
        given_ += static_cast<uint32_t>(n);
      }
      WaitForTheLine();
    }
    return pending_.empty() && port_->QueueCount(0) == 0;
  }

  // Everything the port has written reaches the master, and is answered.
  void TakeCommands() {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (taken_ < port_->SentCount()) {
      Require(std::chrono::steady_clock::now() < limit, "the line delivers what the program sent");
      pollfd in{master_, POLLIN, 0};
      poll(&in, 1, 100);
      char buffer[256];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) continue;
      taken_ += static_cast<uint32_t>(n);
      for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] != '\r') continue;
        if (answers_.empty()) continue;
        pending_ += answers_.front();
        answers_.pop_front();
      }
    }
  }

  // Everything the panel has written becomes readable on the program's side.
  void WaitForTheLine() {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (given_ - port_->ReceivedCount() != port_->QueueCount(0)) {
      Require(std::chrono::steady_clock::now() < limit, "the line delivers what the panel said");
      pollfd in{port_->Handle(), POLLIN, 0};
      poll(&in, 1, 1);
    }
  }

  std::deque<std::string> answers_;
  TOutArray& queue_;
  int master_ = -1;
  std::string path_;
  TXComm* port_ = nullptr;
  int64_t nowNs_ = 1000 * kNsPerMs;
  std::string pending_;  // answered, not yet written
  uint32_t taken_ = 0;   // bytes read from the program
  uint32_t given_ = 0;   // bytes written to the program
};

// The settings a write sends: values the pages can hold.
TSettings PageValues() {
  TSettings s;
  s.Phone.fill("+79161234567");
  s.TimeOut = 30;
  s.TimeOut2 = 255;
  s.Ring = 2;
  s.Module = 1;
  s.React[2] = s.Hours24[1] = s.Norm[6] = s.FastGuard = true;
  for (int row = 1; row <= 9; ++row) s.Key[row - 1] = "0123456789ABCDE" + std::to_string(row % 10);
  for (int k = 0; k < 5; ++k) s.Threshold[0][k] = s.Threshold[1][k] = 100 * k + 3;
  return s;
}

// The answers of an input: separated by 0xFF, a flood where one says so.
std::deque<std::string> Answers(const uint8_t* data, size_t size) {
  std::deque<std::string> answers;
  std::string answer;
  bool flooded = false;
  auto finish = [&] {
    if (!flooded && answer.size() >= 2 && static_cast<uint8_t>(answer[0]) == 0xFE) {
      flooded = true;
      const size_t length = std::min(static_cast<uint8_t>(answer[1]) * size_t{1024}, TModem::kMaxReply + 1024);
      const std::string unit = answer.size() > 2 ? answer.substr(2) : std::string("x");
      answer.clear();
      while (answer.size() < length) answer += unit;
      answer.resize(length);
    }
    answers.push_back(answer);
    answer.clear();
  };
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF)
      finish();
    else
      answer += static_cast<char>(data[i]);
  }
  finish();
  return answers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const std::string* const pages[] = {&Pages::Common, &Pages::Keys, &Pages::GSM, &Pages::ACP};
  const std::string& page = *pages[data[0] % 4];
  const uint8_t mode = static_cast<uint8_t>(3 + data[0] / 4 % 4);

  TOutArray queue;
  // Producer and consumer are one thread here: a full ring must not wait.
  queue.SetProducerStop([] { return true; });
  queue.DateTimeText = [] { return std::string("DT"); };
  TPanelLine line(Answers(data + 1, size - 1), queue);
  TDevOstrel device(queue);
  {
    TModem link("fuzz", "", queue, device, false, &line);
    link.Port().SetDeviceName(line.SlavePath());
    Require(link.Port().Open(), "the port opens");
    line.Attach(link.Port());
    device.SetLink(&link);
    device.SetSettings(PageValues());
    device.SetPage(page);
    link.SetMode(mode);
    device.Step(mode);
    Require(link.GetMode() == 0, "the link mode is back at 0");
    CheckAll(queue);
    line.Detach();  // the link closes its port as it goes
  }
  CheckAll(queue);
  return 0;
}
