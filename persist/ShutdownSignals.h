// SIGTERM, SIGINT and SIGHUP close the main window as the user closing it
// would, so that the settings, the layout and the debug log are saved and
// closed as on every exit.
//
// The handler only writes the signal number into a pipe (async-signal-safe);
// a socket notifier on the GUI thread reads it, closes any modal dialog and
// then the window. Any further signal is taken with the default action, so a
// program stuck on its way out still ends.
// One instance at a time; construct and destroy it on the GUI thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <csignal>
#include <functional>

class QSocketNotifier;
class QWidget;

class TShutdownSignals : public QObject {
  Q_OBJECT

 public:
  explicit TShutdownSignals(QWidget* window);
  // The command line's form: the first signal calls onSignal with its number
  // on this thread (from the event loop) instead of closing a window.
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

  QPointer<QWidget> window_;
  std::function<void(int)> onSignal_;
  QSocketNotifier* notifier_ = nullptr;
  bool installed_ = false;
  struct sigaction previous_[3] = {};
};
