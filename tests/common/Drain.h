// Takes everything out of an output queue for assertions.
#pragma once

#include <string>
#include <vector>

#include "output/OutArray.h"

struct TDrained {
  struct TLine {
    std::string Text;
    bool Shown;
  };
  std::vector<TLine> Memo;                                    // memo elements
  std::vector<std::pair<TTarget, std::string>> Controls;     // control texts
  std::vector<std::pair<TTarget, std::string>> Persistent;   // group actions
  std::vector<std::string> Messages;                          // message boxes, from the results
  std::vector<TOperationResult> Results;                      // one an operation

  // Memo texts only, in order.
  std::vector<std::string> MemoTexts() const {
    std::vector<std::string> texts;
    for (const auto& l : Memo) texts.push_back(l.Text);
    return texts;
  }
  std::vector<std::string> TextsFor(const TTarget& target) const {
    std::vector<std::string> texts;
    for (const auto& [t, text] : Controls)
      if (t == target) texts.push_back(text);
    return texts;
  }
};

inline void DrainInto(TOutArray& queue, TDrained& out) {
  TOutElement* e = nullptr;
  while (queue.Pop(e) != 0) {
    switch (e->Kind) {
      case okMemo:
        out.Memo.push_back({static_cast<TMemoOut*>(e)->Text, static_cast<TMemoOut*>(e)->ShowInMemo});
        break;
      case okControlText:
        out.Controls.emplace_back(static_cast<TControlOut*>(e)->Control, static_cast<TControlOut*>(e)->Text);
        break;
      case okPersistent:
        out.Persistent.emplace_back(static_cast<TPOut*>(e)->Target, static_cast<TPOut*>(e)->Text);
        break;
      case okMsg:
        out.Messages.push_back(static_cast<TMsgOut*>(e)->Text);
        break;
      case okResult: {
        const TOperationResult& r = static_cast<TResultOut*>(e)->Result;
        out.Results.push_back(r);
        if (const std::string m = ResultMessage(r); !m.empty()) out.Messages.push_back(m);
        break;
      }
      default:
        break;
    }
  }
}

inline TDrained Drain(TOutArray& queue) {
  TDrained out;
  DrainInto(queue, out);
  return out;
}
