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

class QSocketNotifier;
class QWidget;

class TShutdownSignals : public QObject {
  Q_OBJECT

 public:
  explicit TShutdownSignals(QWidget* window);
  // Puts the previous handlers back.
  ~TShutdownSignals() override;
  TShutdownSignals(const TShutdownSignals&) = delete;
  TShutdownSignals& operator=(const TShutdownSignals&) = delete;

  // False when the pipe or a handler could not be set up.
  bool IsInstalled() const { return installed_; }

 private:
  void Serve();

  QPointer<QWidget> window_;
  QSocketNotifier* notifier_ = nullptr;
  bool installed_ = false;
  struct sigaction previous_[3] = {};
};
