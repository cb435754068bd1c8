// What the command line prints: the traffic and the final line on standard
// error, the progress line on a terminal, and the exit statuses.
//
// Main thread only.
#pragma once

#include <QString>
#include <string>

#include "model/Operation.h"

// Exit statuses; 128 + the signal after SIGINT, SIGTERM or SIGHUP.
enum TExit { exOk = 0, exUsage = 1, exConnect = 2, exExchange = 3, exDifferent = 4 };

// On a terminal the last line of standard error shows how far an operation
// got ("n из N"), the traffic scrolling above it.
class TProgressLine {
 public:
  static TProgressLine& Instance();
  bool Enabled = false;
  void Start(int total);
  void Step();
  void Stop();
  void Hide();
  void Show();

 private:
  int total_ = 0;
  int done_ = 0;
  bool shown_ = false;
};

// One line on standard error (above the progress line).
void PrintLine(const QString& text);
// Memo texts keep the panel's carriage returns; a terminal wants line feeds.
QString ForTerminal(const std::string& text);
// The final line "ostrelgsm4: <why>"; returns status.
int Fail(TExit status, const QString& why);

// Why an operation failed, for the final line: the message box the window
// would show and the request, or the link's own line when the link was lost.
QString FailureText(const TOperationResult& result);
