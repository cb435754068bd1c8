#include "persist/WireText.h"

#include <QStringDecoder>

QString FromWire(const std::string& text) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString result = utf8.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  if (!utf8.hasError()) return result;
  QStringDecoder cp1251("windows-1251");
  return cp1251.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
}

std::string ToWire(const QString& text) { return text.toStdString(); }
