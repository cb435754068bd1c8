// SIGTERM, SIGINT and SIGHUP end the program in order: the window closes as
// the user closing it would (settings, layout and debug log saved), though
// no message box waits for an answer then; the command line stops its
// operation and releases the port.
//
// The handler only writes the signal number into a pipe (async-signal-safe);
// a socket notifier on the main thread reads it and calls the program's answer. Any further signal is taken with the default action, so a
// program stuck on its way out still ends.
// One instance at a time; construct and destroy it on the GUI thread.
#pragma once

#include <QObject>
#include <csignal>
#include <functional>

class QSocketNotifier;

class TShutdownSignals : public QObject {
  Q_OBJECT

 public:
  // The first signal calls onSignal with its number on this thread (from the
  // event loop). The window passes CloseWindowOnSignal (WindowShutdown.h).
  explicit TShutdownSignals(std::function<void(int)> onSignal);
  // Puts the previous handlers back.
  ~TShutdownSignals() override;
  TShutdownSignals(const TShutdownSignals&) = delete;
  TShutdownSignals& operator=(const TShutdownSignals&) = delete;

  // False when the pipe or a handler could not be set up.
  bool IsInstalled() const { return installed_; }

 private:
  void Install();
  void Serve();

  std::function<void(int)> onSignal_;
  QSocketNotifier* notifier_ = nullptr;
  bool installed_ = false;
  struct sigaction previous_[3] = {};
};
