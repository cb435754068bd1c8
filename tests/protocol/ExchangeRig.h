// The device on a pseudo-terminal for the exchange tests: the settings that a
// write sends, and the output it posted sorted by kind, with the result that
// ends the operation (and the message box the window derives from it).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "link/xModem.h"
#include "model/Operation.h"
#include "protocol/DevOstrel.h"
#include "tests/common/FarEnd.h"

// Everything the device posted, by kind.
struct TOutput {
  struct TLine {
    std::string Text;
    bool Shown;
    bool operator==(const TLine&) const = default;
  };
  struct TRow {
    std::string Row;
    std::string Text;
    int32_t StateImage;
    bool operator==(const TRow&) const = default;
  };
  struct TSlide {
    std::string Slider;
    int32_t Index;
    std::string Text;
    bool operator==(const TSlide&) const = default;
  };
  std::vector<TLine> Memo;
  std::vector<std::pair<TTarget, std::string>> Controls;  // without the traffic ("good=") lines
  std::vector<std::pair<TTarget, std::string>> Colours;
  std::vector<TRow> Rows;
  std::vector<TSlide> Sliders;
  std::vector<std::string> Messages;  // the window's message box for the result
  TOperationResult Result;
  int Results = 0;
  // What the read brought, and whether the page's group was read whole.
  const TSettings& Read() const { return Result.Settings; }
  bool Holds(TGroup group) const { return Result.Settings.Groups.Has(group); }

  std::vector<std::string> TextsFor(const std::string& form, const std::string& name) const {
    return Pick(Controls, {form, name});
  }
  std::vector<std::string> ColoursFor(const std::string& form, const std::string& name) const {
    return Pick(Colours, {form, name});
  }
  // Every control of a page with the texts posted for it, in order.
  std::map<std::string, std::vector<std::string>> PageTexts(const std::string& form) const {
    std::map<std::string, std::vector<std::string>> texts;
    for (const auto& [target, text] : Controls)
      if (target.Form == form) texts[target.Name].push_back(text);
    return texts;
  }
  bool HasLine(const std::string& text, bool shown) const {
    return std::find(Memo.begin(), Memo.end(), TLine{text, shown}) != Memo.end();
  }
  size_t IndexOf(const std::string& text) const {
    for (size_t i = 0; i < Memo.size(); ++i)
      if (Memo[i].Text == text) return i;
    return Memo.size();
  }

 private:
  static std::vector<std::string> Pick(const std::vector<std::pair<TTarget, std::string>>& from, const TTarget& t) {
    std::vector<std::string> texts;
    for (const auto& [target, text] : from)
      if (target == t) texts.push_back(text);
    return texts;
  }
};

inline TOutput Collect(TOutArray& queue) {
  TOutput out;
  TOutElement* e = nullptr;
  while (queue.Pop(e) != 0) {
    switch (e->Kind) {
      case okMemo: {
        auto* m = static_cast<TMemoOut*>(e);
        out.Memo.push_back({m->Text, m->ShowInMemo});
        break;
      }
      case okControlText: {
        auto* c = static_cast<TControlOut*>(e);
        if (!(c->Control == Targets::Memo1)) out.Controls.emplace_back(c->Control, c->Text);
        break;
      }
      case okControlColor: {
        auto* c = static_cast<TControlOut*>(e);
        out.Colours.emplace_back(c->Control, c->Text);
        break;
      }
      case okListRow: {
        auto* l = static_cast<TListOut*>(e);
        EXPECT_EQ(l->ListView, (TTarget{Pages::Keys, "TMLV"}));
        out.Rows.push_back({l->RowNumber, l->Text, l->StateImage});
        break;
      }
      case okTriSlider: {
        auto* s = static_cast<TTriSliderOut*>(e);
        EXPECT_EQ(s->Slider.Form, Pages::ACP);
        out.Sliders.push_back({s->Slider.Name, s->Index, s->Text});
        break;
      }
      case okMsg:
        out.Messages.push_back(static_cast<TMsgOut*>(e)->Text);
        break;
      case okResult: {
        out.Result = static_cast<TResultOut*>(e)->Result;
        ++out.Results;
        if (const std::string m = ResultMessage(out.Result); !m.empty()) out.Messages.push_back(m);
        break;
      }
      default:
        break;
    }
  }
  return out;
}

// The device on a link whose port is the given pseudo-terminal, in virtual
// time that stands still while the far end there (a simulator or scripted
// peer) still owes an answer.
struct TRig {
  template <class TFarEnd>
  TRig(const std::string& path, const TFarEnd& farEnd) {
    queue.DateTimeText = [] { return std::string("DT"); };
    device.SetLink(&link);
    link.Port().SetDeviceName(path);
    link.Port().Open();
    StandStillWhileOwed(clock, link, farEnd);
  }
  // One settings operation as the link loop runs it.
  TOutput Run(const std::string& page, uint8_t mode) {
    device.SetPage(page);
    device.SetSettings(settings);
    link.SetMode(mode);
    device.Step(mode);
    EXPECT_EQ(link.GetMode(), 0);
    return Collect(queue);
  }

  TOutArray queue;
  TDevOstrel device{queue};
  TVirtualClock clock;
  TModem link{"test", "", queue, device, true, &clock};
  TSettings settings;  // what a write sends
};
