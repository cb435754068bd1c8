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

bool IsEscapedControl(char16_t u) {
  return u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029;
}

QString EscapeControls(const QString& text) {
  QString shown;
  shown.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u == u'\n') {
      shown += QStringLiteral("\\n");
    } else if (u == u'\r') {
      shown += QStringLiteral("\\r");
    } else if (u == u'\t') {
      shown += QStringLiteral("\\t");
    } else if (IsEscapedControl(u)) {
      shown += QStringLiteral("\\x%1").arg(static_cast<unsigned>(u), 2, 16, QChar(u'0'));
    } else {
      shown += c;
    }
  }
  return shown;
}
