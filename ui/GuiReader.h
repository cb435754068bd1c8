// Reads the pages' controls for the link thread: every read runs on the GUI
// thread (TGuiSync), so no widget is touched from the link thread.
#pragma once

#include <QObject>
#include <functional>

#include "protocol/ControlReader.h"

class TGuiControlReader : public TControlReader {
 public:
  explicit TGuiControlReader(std::function<QObject*(const TTarget&)> resolve) : resolve_(std::move(resolve)) {}
  std::string ReadText(const TTarget& control) override;
  std::string ReadListRow(const TTarget& listView, int row) override;
  int ReadSliderPosition(const TTarget& slider, int index) override;

  // GUI thread: the value of a control as text (see TControlReader).
  static std::string ControlText(QObject* control);

 private:
  std::function<QObject*(const TTarget&)> resolve_;
};
