// The command line's run of the link against a panel (TSession) and what
// its commands share: exit statuses and the lines they print.
//
// GUI thread only (the thread that owns the off-screen main window).
#pragma once

#include <unistd.h>

#include <QEventLoop>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>

#include "ui/MainForm.h"
#include "ui/MessageBox.h"
#include "ui/SplashDlg.h"
#include "ui/Panel.h"
#include "ui/WireText.h"

// Exit statuses; 128 + the signal after SIGINT, SIGTERM or SIGHUP, and
// 128 + SIGPIPE when standard output could not be written (app/CliOptions
// describes each).
enum TExit { exOk = 0, exUsage = 1, exConnect = 2, exExchange = 3, exDifferent = 4, exOutputClosed = 141 };

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

// One run of the link against a panel, watched through the output elements
// that the main window applies. Every wait ends when the window reports the
// end of the operation or of the link, or when a signal asks to stop.
class TSession {
 public:
  TSession(TForm1& form, bool quiet) : form_(form), quiet_(quiet) {
    TProgressLine::Instance().Enabled = !quiet && isatty(STDERR_FILENO);
    form_.Applier().Observe = [this](const TOutElement& e) { Observe(e); };
    MessageBox::Hook = [this](const QString& text) {
      messages_ << text;
      if (!quiet_) PrintLine(QString::fromUtf8("message: ") + text);
    };
    QObject::connect(&form_, &TForm1::OperationFinished, &loop_, &QEventLoop::quit);
    QObject::connect(&form_, &TForm1::LinkFinished, &loop_, [this] {
      linkEnded_ = true;
      loop_.quit();
    });
  }
  ~TSession() {
    MessageBox::Hook = nullptr;
    form_.Applier().Observe = nullptr;
  }

  // A signal asks to stop: the wait in progress ends, and so does the link.
  void Interrupt(int signal) {
    if (signal_ == 0) signal_ = signal;
    loop_.quit();
  }
  int Signal() const { return signal_; }

  // Opens the port and runs the connection check; on failure *why says why.
  bool Connect(const QString& port, const std::string& phone, QString* why) {
    bool accepted = false;
    const QMetaObject::Connection watch = QObject::connect(form_.SplashDialog(), &QDialog::accepted, &loop_, [&] {
      accepted = true;
      loop_.quit();
    });
    linkEnded_ = false;
    form_.StartLink(port, phone);
    Wait([&] { return accepted || linkEnded_; });
    QObject::disconnect(watch);
    if (Interrupted()) return false;
    if (accepted) {
      form_.EnterConnectedState();
      if (form_.IsConnected()) return true;
    }
    form_.Disconnect();
    Drain();
    *why = lostLine_.isEmpty() ? form_.SplashDialog()->Panel2()->Caption() : LinkLost();
    if (why->isEmpty()) *why = QString::fromUtf8("the panel did not answer");
    return false;
  }

  // Starts an operation of about `commands` commands and waits for its end;
  // true when it ended with the expected message box and nothing failed, the
  // link still up.
  bool Run(bool (TForm1::*start)(), int commands, const QString& success, QString* why) {
    TProgressLine::Instance().Start(commands);
    const bool done = RunOperation(start, success, why);
    TProgressLine::Instance().Stop();
    return done;
  }

  bool RunOperation(bool (TForm1::*start)(), const QString& success, QString* why) {
    messages_.clear();
    failedRequests_.clear();
    if (Interrupted()) return false;
    if (!form_.Link() || linkEnded_ || !(form_.*start)()) {
      *why = LinkLost();
      return false;
    }
    Wait([&] { return !form_.IsBusy(); });
    Drain();
    if (Interrupted()) return false;
    if (linkEnded_ || !form_.Link() || form_.Link()->IsTerminated()) {
      *why = LinkLost();
      return false;
    }
    for (const QString& m : messages_)
      if (m != success) {
        *why = m + Requests();
        return false;
      }
    if (!failedRequests_.isEmpty()) {
      *why = QString::fromUtf8("the panel did not confirm") + Requests();
      return false;
    }
    if (!success.isEmpty() && !messages_.contains(success)) {
      *why = QString::fromUtf8("the panel did not confirm the operation");
      return false;
    }
    return true;
  }

  // Ends the link: the port is closed (and its lock released) on return.
  void Disconnect() {
    form_.Disconnect();
    Drain();
  }

  bool Interrupted() const { return signal_ != 0; }

 private:
  void Observe(const TOutElement& e) {
    if (e.Kind == okMemo) {
      const std::string& text = static_cast<const TMemoOut&>(e).Text;
      if (!quiet_) PrintLine(ForTerminal(text));
      if (text.rfind("-> ", 0) == 0) {
        lastCommand_ = FromWire(text.substr(3));
        TProgressLine::Instance().Step();
      }
      // The lines the link writes when the line or the call is gone (after
      // the date and time).
      for (const char* lost : {" # !!! Ошибка при чтении данных из COM порта", " # !!! Ошибка при отправке команды",
                               " # !!! Ошибка при работе с COM портом", "ОШИБКА!Цифровое соединение разорвано!"})
        if (const size_t at = text.find(lost); at != std::string::npos)
          lostLine_ = FromWire(text.substr(at)).remove(QString::fromUtf8(" # !!! ")).trimmed();
    } else if (e.Kind == okControlColor && static_cast<const TControlOut&>(e).Text == "clRed") {
      // A GSM or ADC request failed: the device marks its label red.
      if (!failedRequests_.contains(lastCommand_)) failedRequests_ << lastCommand_;
    }
  }

  QString LinkLost() const {
    QString line = QString::fromUtf8("the link to the panel was lost");
    if (!lostLine_.isEmpty()) line += " (" + lostLine_ + ")";
    return line;
  }

  // The requests that the panel did not confirm, for the final line.
  QString Requests() const {
    QStringList requests = failedRequests_;
    if (requests.isEmpty() && !lastCommand_.isEmpty()) requests << lastCommand_;
    return requests.isEmpty() ? QString() : " (" + requests.join(", ") + ")";
  }

  // Serves the event loop until done() holds or a signal arrives.
  void Wait(const std::function<bool()>& done) {
    while (!done() && !Interrupted()) loop_.exec();
  }

  void Drain() {
    while (form_.Queue().HasPending() != 0) form_.TimerTick();
  }

  TForm1& form_;
  bool quiet_;
  QEventLoop loop_;
  QStringList messages_;
  QStringList failedRequests_;
  QString lastCommand_;
  QString lostLine_;
  bool linkEnded_ = false;
  int signal_ = 0;
};

// Ends the link after a signal: "ostrelgsm4: interrupted", 128 + the signal.
int Interrupted(TSession& session);
