// What the command line prints: the traffic and the final line on standard
// error, the progress line on a terminal, and the exit statuses.
//
// Main thread only.
#pragma once

#include <QJsonDocument>
#include <QString>
#include <functional>
#include <string>

#include "model/Operation.h"

// Exit statuses; 128 + the signal after SIGINT, SIGTERM or SIGHUP, and
// 128 + SIGPIPE when standard output could not be written (app/CliOptions
// describes each).
enum TExit { exOk = 0, exUsage = 1, exConnect = 2, exExchange = 3, exDifferent = 4, exLibrary = 5,
            exOutputClosed = 141 };

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

// Text on standard error (above the progress line), ended by a line end:
// each of its lines as ShownLines shows it.
void PrintLine(const QString& text);
// The text as the command line prints it, whoever wrote it (the panel, a
// caller through --phone, a file, the library): each line's control
// characters escaped as EscapeControls does, its line ends ("\n", "\r\n")
// kept; nothing a terminal would take as a command reaches it.
QString ShownLines(const QString& text);
// A JSON document for standard output, indented; the control characters it
// leaves raw in strings (DEL, C1, the Unicode separators) written as \u
// escapes, so the values read back the same.
QByteArray ShownJson(const QJsonDocument& document);
// Memo texts keep the panel's carriage returns; a terminal wants line feeds.
QString ForTerminal(const std::string& text);
// What must come before the final line (the library's warning): run once,
// by Fail or by RunBeforeFinalLine.
void SetBeforeFinalLine(std::function<void()> hook);
void RunBeforeFinalLine();
// The final line "ostrelgsm4: <why>"; returns status. When standard output
// could no longer be written, that is the final line and status instead.
int Fail(TExit status, const QString& why);
// Text for standard output, written at once; a failure (a closed pipe) is
// remembered for OutputFailed.
void PrintOut(const QByteArray& text);
// True when what was printed on standard output did not all reach it (a
// closed pipe, a full disk); flushes it first.
bool OutputFailed();
// The final line for that, "ostrelgsm4: standard output ..."; exOutputClosed.
int FailOutput();

// Why an operation failed, for the final line: the message box the window
// would show and the request, or the link's own line when the link was lost.
QString FailureText(const TOperationResult& result);
