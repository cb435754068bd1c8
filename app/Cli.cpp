#include "app/Cli.h"
#include "app/WindowArgs.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string_view>

#include "persist/ShutdownSignals.h"
#include "protocol/OperationSize.h"
#include "persist/SettingsCheck.h"
#include "ui/ConnectDlg.h"
#include "ui/MainForm.h"
#include "ui/MessageBox.h"
#include "ui/Panel.h"
#include "ui/SplashDlg.h"
#include "ui/WireText.h"
#include "ui/f_ACP.h"

namespace {

enum TExit { exOk = 0, exUsage = 1, exConnect = 2, exExchange = 3 };

// On a terminal the last line of standard error shows how far Read all or
// Write all got ("n из N"), the traffic scrolling above it.
class TProgressLine {
 public:
  bool Enabled = false;
  void Start(int total) {
    total_ = total;
    done_ = 0;
    Show();
  }
  void Step() {
    if (total_ == 0) return;
    done_ = std::min(done_ + 1, total_);
    Show();
  }
  void Stop() {
    Hide();
    total_ = 0;
  }
  void Hide() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    shown_ = false;
  }
  void Show() {
    if (!Enabled || total_ == 0) return;
    Hide();
    std::fprintf(stderr, "%d из %d", done_, total_);
    std::fflush(stderr);
    shown_ = true;
  }

 private:
  int total_ = 0;
  int done_ = 0;
  bool shown_ = false;
};

TProgressLine g_progress;

void PrintLine(const QString& text) {
  g_progress.Hide();
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
  std::fputc('\n', stderr);
  g_progress.Show();
  std::fflush(stderr);
}

// Memo texts keep the panel's carriage returns; a terminal wants line feeds.
QString ForTerminal(const std::string& text) {
  QString line = FromWire(text);
  line.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  line.replace('\r', '\n');
  return line;
}

// One run of the link against a panel, watched through the output elements
// that the main window applies. Every wait ends when the window reports the
// end of the operation or of the link, or when a signal asks to stop.
class TSession {
 public:
  TSession(TForm1& form, bool quiet) : form_(form), quiet_(quiet) {
    g_progress.Enabled = !quiet && isatty(STDERR_FILENO);
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
    g_progress.Start(commands);
    const bool done = RunOperation(start, success, why);
    g_progress.Stop();
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
        g_progress.Step();
      }
      // The lines the link writes when the line or the call is gone.
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

int Fail(TExit status, const QString& why) {
  PrintLine(QString::fromUtf8("ostrelgsm4: ") + why);
  return status;
}

int ListPorts() {
  QStringList ports = TdlgConnect::SystemPorts();
  std::sort(ports.begin(), ports.end(), [](const QString& a, const QString& b) { return a.compare(b) < 0; });
  for (const QString& port : ports) std::printf("%s\n", port.toUtf8().constData());
  return exOk;
}

int Interrupted(TSession& session) {
  session.Disconnect();
  PrintLine(QString::fromUtf8("ostrelgsm4: interrupted"));
  return 128 + session.Signal();
}

int ReadPanel(TForm1& form, TSession& session, const QString& port, const std::string& phone, const QString& out,
              bool adc) {
  QString why;
  const bool connected = session.Connect(port, phone, &why);
  if (session.Interrupted()) return Interrupted(session);
  if (!connected) return Fail(exConnect, "connection failed: " + why);
  const bool read = session.Run(&TForm1::ReadAll, OperationSize::ReadAllCommands,
                                QString::fromUtf8("Чтение всех параметров завершено!"), &why);
  if (session.Interrupted()) return Interrupted(session);
  if (!read) {
    session.Disconnect();
    return Fail(exExchange, "reading the panel failed: " + why);
  }
  if (adc) {
    form.ShowPage(form.ACPPage());
    const bool adcRead = session.Run(&TForm1::Read, 12, QString(), &why);
    if (session.Interrupted()) return Interrupted(session);
    if (!adcRead) {
      session.Disconnect();
      return Fail(exExchange, "reading the ADC channels failed: " + why);
    }
  }
  session.Disconnect();
  // A signal that came meanwhile still leaves the file as it was.
  QCoreApplication::processEvents();
  if (session.Interrupted()) return Interrupted(session);
  form.ConnectDialog()->ComPorts()->setEditText(port);
  if (!form.SaveSettings(out, &why)) return Fail(exUsage, why);
  return exOk;
}

int WritePanel(TForm1& form, TSession& session, const QString& port, const std::string& phone, const QString& in,
               bool adc) {
  // Unattended: a file that is not sent exactly as written is refused before the port is opened.
  if (const auto refused = CheckSettingsForWrite(in, adc)) return Fail(exUsage, *refused);
  QString why;
  if (!QFileInfo(in).isFile()) return Fail(exUsage, "cannot read the settings file " + in);
  if (!form.LoadSettings(in, &why)) return Fail(exUsage, why);
  const bool connected = session.Connect(port, phone, &why);
  if (session.Interrupted()) return Interrupted(session);
  if (!connected) return Fail(exConnect, "connection failed: " + why);
  const bool written = session.Run(&TForm1::WriteAll, OperationSize::WriteAllCommands,
                                   QString::fromUtf8("Запись всех параметров завершена!"), &why);
  if (session.Interrupted()) return Interrupted(session);
  if (!written) {
    session.Disconnect();
    return Fail(exExchange, "writing the panel failed: " + why);
  }
  if (adc) {
    form.ShowPage(form.ACPPage());
    const bool adcWritten = session.Run(&TForm1::Write, 10, QString(), &why);
    if (session.Interrupted()) return Interrupted(session);
    if (!adcWritten) {
      session.Disconnect();
      return Fail(exExchange, "writing the ADC thresholds failed: " + why);
    }
  }
  session.Disconnect();
  return exOk;
}

}  // namespace

bool IsCommandLine(int argc, char* argv[]) {
  // "--port PORT" and "--adc" alone open the window.
  return !ParseWindowArgs(argc, argv).IsWindow;
}

int RunCommandLine(int argc, char* argv[]) {
  // The command line never shows a window and needs no display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("ostrelgsm4");
  QApplication::setApplicationVersion("1.012");

  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromUtf8(
      "Configuration utility for the \"Ostrel GSM\" security alarm panel.\n"
      "Without arguments it opens its window; --port PORT fills in its port dialog, and --adc shows\n"
      "its \"АЦП\" page (the ADC thresholds): ostrelgsm4 [--port PORT] [--adc]. Commands:\n"
      "  read   --port PORT --out FILE [--adc] [--phone NUMBER]   read the panel into a settings file\n"
      "  write  --port PORT --in FILE [--adc] [--phone NUMBER]    write a settings file to the panel\n"
      "  ports                                                    list the serial ports\n"
      "Exit status: 0 success; 1 usage error or a settings file that cannot be read or written;\n"
      "2 the connection failed; 3 a read or write failed after connecting (a request the panel\n"
      "did not confirm, or the link lost); 128 + the signal when SIGINT, SIGTERM or SIGHUP\n"
      "stopped it (130, 143, 129)."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("command", "read, write or ports");
  const QCommandLineOption portOpt("port", "Serial port: a device path (/dev/ttyUSB0) or a name (ttyUSB0, COM1).",
                                   "PORT");
  const QCommandLineOption outOpt("out", "Settings file to write (read).", "FILE");
  const QCommandLineOption inOpt("in", "Settings file to load (write).", "FILE");
  const QCommandLineOption adcOpt("adc", "Also read or write the ADC channels' thresholds.");
  const QCommandLineOption phoneOpt("phone", "Reach the panel through a GSM modem data call to NUMBER.", "NUMBER");
  const QCommandLineOption quietOpt("quiet", "Do not show the traffic on standard error.");
  parser.addOptions({portOpt, outOpt, inOpt, adcOpt, phoneOpt, quietOpt});

  if (!parser.parse(QApplication::arguments())) return Fail(exUsage, parser.errorText());
  if (parser.isSet("help") || parser.isSet("help-all")) {
    std::printf("%s", parser.helpText().toUtf8().constData());
    return exOk;
  }
  if (parser.isSet("version")) {
    std::printf("ostrelgsm4 %s\n", QApplication::applicationVersion().toUtf8().constData());
    return exOk;
  }
  const QStringList args = parser.positionalArguments();
  if (args.size() != 1) return Fail(exUsage, "expected one command: read, write or ports (see --help)");
  const QString command = args.first();
  if (command == "ports") return ListPorts();
  if (command != "read" && command != "write") return Fail(exUsage, "unknown command " + command + " (see --help)");

  const QString port = parser.value(portOpt);
  const QString file = parser.value(command == "read" ? outOpt : inOpt);
  if (port.isEmpty()) return Fail(exUsage, "--port is required");
  if (file.isEmpty()) return Fail(exUsage, command == "read" ? "--out is required" : "--in is required");

  TForm1 form(nullptr, false);
  TSession session(form, parser.isSet(quietOpt));
  // SIGINT, SIGTERM and SIGHUP stop the operation; the port is closed and
  // its lock released before the program ends with 128 + the signal.
  TShutdownSignals stopSignals([&session](int signal) { session.Interrupt(signal); });
  const std::string phone = ToWire(parser.value(phoneOpt));
  if (command == "read") return ReadPanel(form, session, port, phone, file, parser.isSet(adcOpt));
  return WritePanel(form, session, port, phone, file, parser.isSet(adcOpt));
}
