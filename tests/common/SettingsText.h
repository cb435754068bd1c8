// A settings file that a write can send as it stands: every setting present
// and within its rule. Tests replace single lines of it to make it hostile.
#pragma once

#include <QByteArray>

inline QByteArray CompleteSettings() {
  QByteArray text = "[Connect]\r\nComPort=\r\n[Debug]\r\nLog=0\r\n[Phones]\r\n";
  for (int n = 1; n <= 12; ++n) text += "Phone" + QByteArray::number(n) + "=\r\n";
  text += "[React]\r\n";
  for (int n = 1; n <= 12; ++n) text += "React" + QByteArray::number(n) + "=0\r\n";
  text += "[Norm]\r\n";
  for (int n = 5; n <= 12; ++n) text += "Norm" + QByteArray::number(n) + "=0\r\n";
  text += "[24Hours]\r\n24-1=0\r\n24-2=0\r\n24-3=0\r\n24-4=0\r\n";
  text += "[Other]\r\nFastGuard=0\r\nTimeOut=0\r\nWaitSend=0\r\nTimeOut2=0\r\n[Keys]\r\n";
  for (int i = 0; i < 10; ++i) text += "Key" + QByteArray::number(i) + "=0000000000000000\r\n";
  for (const char* slider : {"ts1", "ts2"}) {
    text += QByteArray("[") + slider + "]\r\n";
    for (int k = 0; k < 5; ++k) text += "slider" + QByteArray::number(k) + "=0\r\n";
  }
  text += "[GSM]\r\nMODE1=1\r\nMODE2=0\r\nMODE3=0\r\nRING=0\r\n";
  return text;
}
