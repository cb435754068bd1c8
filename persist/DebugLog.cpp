#include "persist/DebugLog.h"

#include <QStringDecoder>
#include <utility>

namespace {

const QByteArray kEol = "\r\n";

QByteArray ToFileText(const std::string& text) {
  const QByteArrayView bytes(text.data(), qsizetype(text.size()));
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString decoded = utf8.decode(bytes);
  if (!utf8.hasError()) return QByteArray(bytes.data(), bytes.size());
  // Panel replies may come in Windows-1251; the file stays UTF-8 throughout.
  QStringDecoder cp1251("windows-1251", QStringDecoder::Flag::Stateless);
  return cp1251.isValid() ? QString(cp1251.decode(bytes)).toUtf8() : decoded.toUtf8();
}

// The panel ends its lines with a bare carriage return, which makes lines
// overwrite each other in a pager: every line break inside a text becomes the
// file's own CR LF, and a break at the very end adds no empty line.
QByteArray WithFileLineEnds(const QByteArray& text) {
  QByteArray result;
  result.reserve(text.size() + 8);
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      result += c;
      continue;
    }
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    if (i + 1 < text.size()) result += kEol;
  }
  return result;
}

}  // namespace

TDebugLog::TDebugLog(QString fileName) : fileName_(std::move(fileName)), file_(fileName_) {}

TDebugLog::~TDebugLog() = default;  // QFile flushes and closes

QString TDebugLog::DateTimeText(const QDateTime& when) {
  const QString date = when.toString(QStringLiteral("dd.MM.yyyy"));
  if (when.time().msecsSinceStartOfDay() == 0) return date;
  return date + u' ' + when.toString(QStringLiteral("hh:mm:ss"));
}

bool TDebugLog::WriteBlock(const char* text) {
  const QByteArray rule(81, '=');
  const QByteArray block = kEol + rule + kEol + DateTimeText(Now()).toUtf8() + ' ' +
                           QByteArray(text) + kEol + rule + kEol;
  return file_.write(block) == block.size() && file_.flush();
}

bool TDebugLog::SwitchOn() {
  if (IsOn()) return true;
  // A new log is the user's alone: it holds the panel's phone numbers and keys.
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Append, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
    return false;
  if (!WriteBlock("Начали процесс протоколирования")) {
    file_.close();
    return false;
  }
  return true;
}

bool TDebugLog::SwitchOff(QString* error) {
  if (!IsOn()) return true;
  // The block is flushed before the close, so the close has nothing left to fail on.
  const bool written = WriteBlock("Окончили процесс протоколирования");
  file_.close();
  if (!written && error) *error = QStringLiteral("Unable to write to ") + fileName_;
  return written;
}

void TDebugLog::WriteLine(const std::string& text) {
  if (!IsOn()) return;
  file_.write(WithFileLineEnds(ToFileText(text)) + kEol);
}
