// A settings file that a write can send as it stands: every setting present
// and within its rule. Tests replace single lines of it to make it hostile.
#pragma once

#include <QByteArray>
#include <vector>

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
    for (int k = 0; k < 5; ++k) text += "slider" + QByteArray::number(k) + "=" + QByteArray::number(k * 200 + 100) + "\r\n";
  }
  text += "[GSM]\r\nMODE1=1\r\nMODE2=0\r\nMODE3=0\r\nRING=0\r\n";
  return text;
}

// CompleteSettings with values other than the pages' initial ones, so that a
// load that changes a control shows.
inline QByteArray KnownSettings() {
  return CompleteSettings()
      .replace("Phone1=\r\n", "Phone1=555\r\n")
      .replace("React2=0", "React2=1")
      .replace("TimeOut=0", "TimeOut=7")
      .replace("Key0=0000000000000000", "Key0=0123456789ABCDEF")
      .replace("[ts2]\r\nslider0=100", "[ts2]\r\nslider0=50")
      .replace("MODE1=1\r\nMODE2=0", "MODE1=0\r\nMODE2=1")
      .replace("RING=0", "RING=3");
}

struct THostileFile {
  const char* Name;
  QByteArray Bytes;
  const char* Named;  // what the refusal must name
};

// Files that must not reach a panel: mistaken or hostile as a whole, or
// KnownSettings with one value the panel cannot take as written.
inline std::vector<THostileFile> HostileFiles() {
  QByteArray random(3072, '\0');
  quint32 seed = 11;
  for (char& c : random) c = char((seed = seed * 1103515245u + 12345u) >> 23);
  const QByteArray known = KnownSettings();
  const auto with = [&](const char* from, const QByteArray& to) { return QByteArray(known).replace(from, to); };
  return {
      {"empty", "", "none of the settings sections"},
      {"random-3k", random, "none of the settings sections"},
      {"no-section-headers", "Phone1=123\r\nTimeOut=5\r\nKey0=0000000000000001\r\n", "none of the settings sections"},
      {"huge-line", "[Phones]\r\nPhone1=" + QByteArray(10 * 1024 * 1024, '1') + "\r\n", "read"},
      {"only-phones", "[Phones]\r\nPhone1=89035550011\r\n", "[Phones] Phone2: missing"},
      {"phone-carriage-return", with("Phone1=555", "Phone1=1\r+wp=FF0011"), "[Phones] Phone1, line 6"},
      {"phone-nul", with("Phone1=555", QByteArray("Phone1=1\0", 9)), "[Phones] Phone1"},
      {"phone-100-digits", with("Phone1=555", "Phone1=" + QByteArray(100, '7')), "[Phones] Phone1"},
      {"phone-utf8", with("Phone1=555", "Phone1=\xD1\x82\xD0\xB5\xD0\xBB"), "non-ASCII"},
      {"timeout-99999", with("TimeOut=7", "TimeOut=99999"), "[Other] TimeOut"},
      {"timeout-negative", with("TimeOut=7", "TimeOut=-1"), "[Other] TimeOut"},
      {"flag-2", with("React2=1", "React2=2"), "[React] React2"},
      {"key-beyond-f", with("Key0=0123456789ABCDEF", "Key0=0123456789ABCDEG"), "[Keys] Key0"},
      {"key-17-digits", with("Key0=0123456789ABCDEF", "Key0=0123456789ABCDEF0"), "[Keys] Key0"},
      {"key-date", with("Key0=0123456789ABCDEF", "Key0=10.12.2026 12:20"), "[Keys] Key0"},
      {"ring-99", with("RING=3", "RING=99"), "[GSM] RING"},
      {"two-modules", with("MODE1=0", "MODE1=1"), "[GSM] MODE1"},
      {"threshold-99999", with("[ts2]\r\nslider0=50", "[ts2]\r\nslider0=99999"), "[ts2] slider0"},
      {"both-normal-states", with("Norm5=0", "Norm5=1").replace("Norm9=0", "Norm9=1"), "Norm5 and Norm9"},
      {"duplicate-key", with("Phone1=555\r\n", "Phone1=555\r\nphone1=777\r\n"), "lines 6 and 7"},
  };
}
