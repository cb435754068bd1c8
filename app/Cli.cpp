#include "app/Cli.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <string_view>

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

void PrintLine(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
  std::fputc('\n', stderr);
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
// that the main window applies.
class TSession {
 public:
  TSession(TForm1& form, bool quiet) : form_(form), quiet_(quiet) {
    form_.Applier().Observe = [this](const TOutElement& e) { Observe(e); };
    MessageBox::Hook = [this](const QString& text) {
      messages_ << text;
      if (!quiet_) PrintLine(QString::fromUtf8("message: ") + text);
    };
  }
  ~TSession() {
    MessageBox::Hook = nullptr;
    form_.Applier().Observe = nullptr;
  }

  // Opens the port and runs the connection check; on failure *why says why.
  bool Connect(const QString& port, const std::string& phone, QString* why) {
    bool accepted = false;
    const QMetaObject::Connection watch =
        QObject::connect(form_.SplashDialog(), &QDialog::accepted, &form_, [&] { accepted = true; });
    form_.StartLink(port, phone);
    WaitUntil([&] { return accepted || form_.Link()->Finished(); });
    QObject::disconnect(watch);
    if (accepted && !form_.Link()->IsTerminated()) {
      form_.EnterConnectedState();
      return true;
    }
    WaitUntil([&] { return form_.Link()->Finished(); });
    Drain();
    *why = form_.SplashDialog()->Panel2()->Caption();
    if (why->isEmpty()) *why = QString::fromUtf8("the panel did not answer");
    return false;
  }

  // Starts an operation (it sets the link mode) and waits for its end; true
  // when it ended with the expected message box and nothing failed.
  bool Run(const std::function<void()>& start, const QString& success, QString* why) {
    messages_.clear();
    failedRequests_ = 0;
    start();
    WaitUntil([&] { return form_.Link()->GetMode() == 0 || form_.Link()->Finished(); });
    Drain();
    if (form_.Link()->IsTerminated()) {
      *why = QString::fromUtf8("the link to the panel was lost");
      return false;
    }
    for (const QString& m : messages_)
      if (m != success) {
        *why = m;
        return false;
      }
    if (!success.isEmpty() && !messages_.contains(success)) {
      *why = QString::fromUtf8("the panel did not confirm the operation");
      return false;
    }
    if (failedRequests_ > 0) {
      *why = QString::fromUtf8("%1 request(s) to the panel failed").arg(failedRequests_);
      return false;
    }
    return true;
  }

  void Disconnect() {
    form_.Disconnect();
    Drain();
  }

 private:
  void Observe(const TOutElement& e) {
    if (e.Kind == okMemo) {
      if (!quiet_) PrintLine(ForTerminal(static_cast<const TMemoOut&>(e).Text));
    } else if (e.Kind == okControlColor && static_cast<const TControlOut&>(e).Text == "clRed") {
      ++failedRequests_;  // a GSM or ADC request failed: the device marks its label red
    }
  }

  // Serves the event loop (the main window's timer applies the elements)
  // until done() holds.
  void WaitUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
      if (done()) loop.quit();
    });
    check.start(20);
    if (!done()) loop.exec();
  }

  void Drain() {
    while (form_.Queue().HasPending() != 0) form_.TimerTick();
  }

  TForm1& form_;
  bool quiet_;
  QStringList messages_;
  int failedRequests_ = 0;
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

int ReadPanel(TForm1& form, TSession& session, const QString& port, const std::string& phone, const QString& out,
              bool adc) {
  QString why;
  if (!session.Connect(port, phone, &why)) return Fail(exConnect, "connection failed: " + why);
  if (!session.Run([&] { form.ReadAll(); }, QString::fromUtf8("Чтение всех параметров завершено!"), &why))
    return Fail(exExchange, "reading the panel failed: " + why);
  if (adc) {
    form.ShowPage(form.ACPPage());
    if (!session.Run([&] { form.Read(); }, QString(), &why))
      return Fail(exExchange, "reading the ADC channels failed: " + why);
  }
  session.Disconnect();
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
  if (!session.Connect(port, phone, &why)) return Fail(exConnect, "connection failed: " + why);
  if (!session.Run([&] { form.WriteAll(); }, QString::fromUtf8("Запись всех параметров завершена!"), &why))
    return Fail(exExchange, "writing the panel failed: " + why);
  if (adc) {
    form.ShowPage(form.ACPPage());
    if (!session.Run([&] { form.Write(); }, QString(), &why))
      return Fail(exExchange, "writing the ADC thresholds failed: " + why);
  }
  session.Disconnect();
  return exOk;
}

}  // namespace

bool IsCommandLine(int argc, char* argv[]) {
  // "--port PORT" alone opens the window with the port filled in.
  if (argc == 3 && std::string_view(argv[1]) == "--port") return false;
  return argc >= 2;
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
      "Without arguments it opens its window. Commands:\n"
      "  read   --port PORT --out FILE [--adc] [--phone NUMBER]   read the panel into a settings file\n"
      "  write  --port PORT --in FILE [--adc] [--phone NUMBER]    write a settings file to the panel\n"
      "  ports                                                    list the serial ports\n"
      "Exit status: 0 success; 1 usage error or a settings file that cannot be read or written;\n"
      "2 the connection failed; 3 a read or write failed after connecting."));
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
  const std::string phone = ToWire(parser.value(phoneOpt));
  if (command == "read") return ReadPanel(form, session, port, phone, file, parser.isSet(adcOpt));
  return WritePanel(form, session, port, phone, file, parser.isSet(adcOpt));
}
