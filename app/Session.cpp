#include "app/Session.h"

#include <cstdio>

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

int Fail(TExit status, const QString& why) {
  PrintLine(QString::fromUtf8("ostrelgsm4: ") + why);
  return status;
}

int Interrupted(TSession& session) {
  session.Disconnect();
  PrintLine(QString::fromUtf8("ostrelgsm4: interrupted"));
  return 128 + session.Signal();
}
