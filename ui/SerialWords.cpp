#include "ui/SerialWords.h"

#include "output/OutElement.h"
#include "persist/WireText.h"
#include "serial/PortDiagnosis.h"
#include "serial/XComDrv.h"

namespace SerialWords {

namespace {

const struct {
  int Code;
  const char* Words;
} kWords[] = {
    {CE_NOT_OPEN, "Порт не открыт"},
    {CE_ALREADY_OPEN, "Порт уже открыт"},
    {CE_DCB, "Не удалось установить параметры порта (скорость, чётность, стоповые биты)"},
    {CE_SEND_LOCKED, "Передача в порт заблокирована"},
    {CE_READ_LOCKED, "Чтение из порта заблокировано"},
    {CE_BUFFERS, "Не удалось настроить буферы порта"},
    {CE_TIMEOUTS, "Не удалось установить тайм-ауты порта"},
    {CE_READ, "Не удалось прочитать данные из порта"},
    {CE_WRITE, "Не удалось записать данные в порт"},
    {CE_CANNOT_OPEN, "Не удалось открыть порт"},
};

}  // namespace

QString Said(int code, int systemError, const QString& device) {
  QString words;
  for (const auto& w : kWords)
    if (w.Code == code) words = QString::fromUtf8(w.Words);
  if (words.isEmpty()) words = QString::fromUtf8("Ошибка COM порта, код %1").arg(code);
  if (code == CE_CANNOT_OPEN && !device.isEmpty()) words += QStringLiteral(" ") + device;
  if (systemError != 0) words += QStringLiteral(" (") + QString::fromStdString(SystemErrorTextRu(systemError)) + u')';
  return words;
}

QString MemoText(const TMemoOut& e) {
  const TSerialFault& f = e.Serial;
  if (f.Code == 0 || f.Length + f.Tail > e.Text.size()) return FromWire(e.Text);
  const size_t at = e.Text.size() - f.Tail - f.Length;
  return FromWire(e.Text.substr(0, at)) + Said(f.Code, f.SystemError, FromWire(f.Device)) +
         FromWire(e.Text.substr(at + f.Length));
}

}  // namespace SerialWords
