// The progress of Read all and Write all in the main window's status bar:
// "n из N" and a bar, counted from the commands the link logs ("-> ") while
// the operation's link mode lasts. GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

class QLabel;
class QProgressBar;
class QStatusBar;
class QTimer;
struct TOutElement;

class TOperationProgress : public QObject {
  Q_OBJECT
 public:
  // linkMode tells the link mode now (0 without a link).
  TOperationProgress(QStatusBar* bar, std::function<uint8_t()> linkMode);

  // Shows "0 из total"; the progress goes away once the link mode is no
  // longer mode (the device sets it back to 0 at the end).
  void Start(uint8_t mode, int total);
  // One progress over several operations in a row (backup, write, check):
  // it counts every command until EndSequence, whatever the link mode.
  void StartSequence(int total);
  void EndSequence();
  // What the label adds after the count: the line an operation runs over
  // when it is slower than the cable ("" for none).
  void SetLine(const QString& line) { line_ = line; }
  // Sees every output element the window applies.
  void See(const TOutElement& element);

  bool IsRunning() const { return mode_ != 0 || sequence_; }
  int Total() const { return total_; }
  int Done() const { return done_; }
  QLabel* Label() const { return label_; }
  QProgressBar* Bar() const { return bar_; }

 private:
  void Show();
  void Finish();

  std::function<uint8_t()> linkMode_;
  QLabel* label_;
  QProgressBar* bar_;
  QTimer* watch_;
  uint8_t mode_ = 0;
  bool sequence_ = false;
  QString line_;
  int done_ = 0;
  int total_ = 0;
};
