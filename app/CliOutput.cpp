#include "app/CliOutput.h"

#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "persist/WireText.h"

TProgressLine& TProgressLine::Instance() {
  static TProgressLine line;
  return line;
}

void TProgressLine::Start(int total) {
  total_ = total;
  done_ = 0;
  Show();
}

void TProgressLine::Step() {
  if (total_ == 0) return;
  done_ = std::min(done_ + 1, total_);
  Show();
}

void TProgressLine::Stop() {
  Hide();
  total_ = 0;
}

void TProgressLine::Hide() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  shown_ = false;
}

void TProgressLine::Show() {
  if (!Enabled || total_ == 0) return;
  Hide();
  std::fprintf(stderr, "%d из %d", done_, total_);
  std::fflush(stderr);
  shown_ = true;
}

QString ShownLines(const QString& text) {
  QStringList lines = text.split(u'\n');
  for (qsizetype i = 0; i < lines.size(); ++i) {
    // "\r\n" ends a line too; a lone "\r" is escaped like any other.
    const bool crlf = i + 1 < lines.size() && lines[i].endsWith(u'\r');
    lines[i] = crlf ? EscapeControls(lines[i].chopped(1)) + u'\r' : EscapeControls(lines[i]);
  }
  return lines.join(u'\n');
}

QByteArray ShownJson(const QJsonDocument& document) {
  const QString json = QString::fromUtf8(document.toJson(QJsonDocument::Indented));
  QString shown;
  shown.reserve(json.size());
  // The document's own line ends are its only raw line feeds: strings hold
  // theirs as "\n".
  for (const QChar c : json) {
    if (c != u'\n' && IsEscapedControl(c.unicode()))
      shown += QStringLiteral("\\u%1").arg(unsigned(c.unicode()), 4, 16, QChar(u'0'));
    else
      shown += c;
  }
  return shown.toUtf8();
}

void PrintLine(const QString& text) {
  TProgressLine& progress = TProgressLine::Instance();
  progress.Hide();
  const QByteArray bytes = ShownLines(text).toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
  std::fputc('\n', stderr);
  progress.Show();
  std::fflush(stderr);
}

QString ForTerminal(const std::string& text) {
  QString line = FromWire(text);
  line.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  line.replace('\r', '\n');
  return line;
}

namespace {

int outputError = 0;

}  // namespace

void PrintOut(const QByteArray& text) {
  if (outputError != 0) return;
  if (std::fwrite(text.constData(), 1, size_t(text.size()), stdout) != size_t(text.size()) ||
      std::fflush(stdout) != 0)
    outputError = errno != 0 ? errno : EIO;
}

bool OutputFailed() {
  if (std::fflush(stdout) != 0 && outputError == 0) outputError = errno;
  if (std::ferror(stdout) && outputError == 0) outputError = EIO;
  return outputError != 0;
}

int FailOutput() {
  PrintLine(outputError == EPIPE ? QStringLiteral("ostrelgsm4: standard output was closed before the output ended")
                                 : QStringLiteral("ostrelgsm4: cannot write standard output: ") +
                                       QString::fromLocal8Bit(std::strerror(outputError)));
  return exOutputClosed;
}

namespace {
std::function<void()> beforeFinalLine;
}  // namespace

void SetBeforeFinalLine(std::function<void()> hook) { beforeFinalLine = std::move(hook); }

void RunBeforeFinalLine() {
  if (!beforeFinalLine) return;
  auto hook = std::move(beforeFinalLine);
  beforeFinalLine = nullptr;
  hook();
}

int Fail(TExit status, const QString& why) {
  RunBeforeFinalLine();
  if (OutputFailed()) return FailOutput();
  // One line, whatever a port or file name holds.
  PrintLine(QString::fromUtf8("ostrelgsm4: ") + EscapeControls(why));
  return status;
}

QString FailureText(const TOperationResult& r) {
  if (r.Outcome == TOutcome::LinkLost || r.Outcome == TOutcome::Interrupted) {
    QString line = QString::fromUtf8("the link to the panel was lost");
    QString detail = FromWire(r.Detail);
    detail.remove(QString::fromUtf8(" # !!! "));
    detail = detail.trimmed();
    if (!detail.isEmpty()) line += " (" + detail + ")";
    return line;
  }
  QString why = FromWire(ResultMessage(r));
  if (why.isEmpty())
    why = QString::fromStdString(r.Outcome == TOutcome::Refused ? "the panel refused" : "the panel did not confirm");
  if (!r.Command.empty()) why += " (" + FromWire(r.Command) + ")";
  return why;
}
