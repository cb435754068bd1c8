// The settings model and its file codec: the files written are the files the
// program has always written, the strict read refuses what a panel cannot
// take as written, the lenient read skips it, and values stay exact from file
// to model to file.
#include <QTemporaryDir>
#include <QTest>

#include "model/Fields.h"
#include "persist/IniFile.h"
#include "persist/SettingsCodec.h"
#include "tests/common/SettingsText.h"
#include "tests/persist/TestFiles.h"

using testfiles::ReadBytes;
using testfiles::WriteBytes;

namespace {

TSettings Strict(const QString& path, TGroups groups, QString* refused = nullptr) {
  TSettings s;
  const auto why = ReadSettingsForWrite(path, groups, &s);
  if (refused) *refused = why.value_or(QString());
  return s;
}

// Every field set away from its default.
TSettings Busy() {
  TSettings s;
  s.Groups = TGroups::AllWithAdc();
  for (int n = 0; n < TSettings::kEntries; ++n) {
    s.Phone[n] = "+7900" + std::to_string(n + 1);
    s.React[n] = n % 2 == 0;
  }
  s.Norm[4] = s.Norm[9] = s.Norm[6] = s.Norm[11] = true;
  s.Hours24 = {true, false, true, true};
  s.TimeOut = 200;
  s.TimeOut2 = 17;
  s.FastGuard = s.WaitSend = true;
  for (int i = 0; i < TSettings::kKeys; ++i) s.Key[i] = "0123456789ABCDE" + std::to_string(i);
  s.Threshold = {{{500, 501, 502, 503, 504}, {0, 0, 1023, 1023, 1023}}};
  s.Module = 1;
  s.Ring = 3;
  return s;
}

}  // namespace

class TestSettingsModel : public QObject {
  Q_OBJECT

 private slots:
  void init() { QVERIFY(dir_.isValid()); }

  // A complete file read strictly and saved fresh gives back its own bytes:
  // sections, keys, order, value forms and line ends as always written.
  void savedFilesKeepTheirBytes_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("complete") << CompleteSettings();
    QTest::newRow("known") << KnownSettings();
    QTest::newRow("port-and-log") << QByteArray(CompleteSettings())
                                         .replace("ComPort=\r\n", "ComPort=/dev/ttyUSB0\r\n")
                                         .replace("Log=0", "Log=1");
  }
  void savedFilesKeepTheirBytes() {
    QFETCH(QByteArray, file);
    const QString in = dir_.filePath("in.ini");
    WriteBytes(in, file);
    QString refused;
    const TSettings s = Strict(in, TGroups::AllWithAdc(), &refused);
    QVERIFY2(refused.isEmpty(), qPrintable(refused));
    TIniFile ini(in);
    QVERIFY(ini.Load());
    const TDecodedSettings d = DecodeSettings(ini, TSettings(), TGroups::AllWithAdc());
    const QString out = dir_.filePath("out.ini");
    QVERIFY(SaveSettingsFile(out, s, d.Header, true, nullptr));
    QCOMPARE(ReadBytes(out), file);
  }

  // Every value comes back exactly: thresholds that a slider could not hold
  // apart, the ends of the scale, keys, the module and the ring.
  void valuesRoundTripExactly() {
    const QString path = dir_.filePath("busy.ini");
    const TSettings busy = Busy();
    QVERIFY(SaveSettingsFile(path, busy, {"COM3", true}, true, nullptr));
    QString refused;
    const TSettings back = Strict(path, TGroups::AllWithAdc(), &refused);
    QVERIFY2(refused.isEmpty(), qPrintable(refused));
    QVERIFY(back == busy);
    QVERIFY(Differences(back, busy).empty());
    const QByteArray bytes = ReadBytes(path);
    QVERIFY(bytes.startsWith("[Connect]\r\nComPort=COM3\r\n[Debug]\r\nLog=1\r\n[Phones]\r\nPhone1=+79001\r\n"));
    QVERIFY(bytes.contains("[ts1]\r\nslider0=500\r\nslider1=501\r\nslider2=502\r\nslider3=503\r\nslider4=504\r\n"));
    QVERIFY(bytes.contains("[GSM]\r\nMODE1=0\r\nMODE2=1\r\nMODE3=0\r\nRING=3\r\n"));
  }

  // Without the thresholds a file has no [ts1] nor [ts2], and a write with
  // them refuses it naming the missing section.
  void settingsWithoutThresholdsWriteNone() {
    TSettings s = Busy();
    s.Groups = TGroups::All();
    const QString path = dir_.filePath("noadc.ini");
    QVERIFY(SaveSettingsFile(path, s, {}, true, nullptr));
    QVERIFY(!ReadBytes(path).contains("[ts"));
    QString refused;
    QVERIFY(Strict(path, TGroups::All(), &refused) == s);
    QVERIFY(refused.isEmpty());
    Strict(path, TGroups::AllWithAdc(), &refused);
    QVERIFY2(refused.endsWith("[ts1] slider0: missing; a write sends every setting"), qPrintable(refused));
  }

  // A fresh save replaces whatever the file held: foreign sections, names
  // given twice, other thresholds.
  void freshSaveReplacesTheOldFile() {
    const QString path = dir_.filePath("old.ini");
    WriteBytes(path, "[Extra]\r\nfoo=1\r\n[phones]\r\nPHONE1=1\r\nPhone1=2\r\n[ts1]\r\nslider0=7\r\n");
    TSettings s = Busy();
    s.Groups = TGroups::All();
    QVERIFY(SaveSettingsFile(path, s, {}, true, nullptr));
    const QString fresh = dir_.filePath("fresh.ini");
    QVERIFY(SaveSettingsFile(fresh, s, {}, true, nullptr));
    QCOMPARE(ReadBytes(path), ReadBytes(fresh));
  }

  // The strict read: one row a rule.
  void strictReadRefuses_data() {
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<bool>("adc");
    QTest::addColumn<QString>("named");  // empty: accepted
    QTest::newRow("equal-neighbours") << QByteArray("slider1=300") << QByteArray("slider1=100") << true << "";
    // A panel may hold falling thresholds, and its backup must write back.
    QTest::newRow("falling-threshold") << QByteArray("slider1=300") << QByteArray("slider1=99") << true << "";
    QTest::newRow("falling-threshold-without-adc") << QByteArray("slider1=300") << QByteArray("slider1=99") << false
                                                   << "";
    QTest::newRow("threshold-1024") << QByteArray("slider4=900") << QByteArray("slider4=1024") << true
                                    << "[ts1] slider4, line 66: \"1024\": a threshold is an integer from 0 to 1023";
    QTest::newRow("short-lower-key") << QByteArray("Key1=0000000000000000") << QByteArray("Key1=abc") << true << "";
    QTest::newRow("key-17-digits") << QByteArray("Key1=0000000000000000") << QByteArray("Key1=00000000000000000")
                                   << true << "[Keys] Key1, line 52";
    QTest::newRow("key-not-hex") << QByteArray("Key1=0000000000000000") << QByteArray("Key1=00G") << true
                                 << "a key is 1 to 16 hexadecimal digits";
    QTest::newRow("two-modules") << QByteArray("MODE2=0") << QByteArray("MODE2=1") << true
                                 << "exactly one of MODE1, MODE2, MODE3";
    QTest::newRow("ring-6") << QByteArray("RING=0") << QByteArray("RING=6") << true << "[GSM] RING";
    QTest::newRow("delay-256") << QByteArray("TimeOut=0") << QByteArray("TimeOut=256") << true << "[Other] TimeOut";
    QTest::newRow("flag-2") << QByteArray("React3=0") << QByteArray("React3=2") << true << "a flag is 0 or 1";
    QTest::newRow("both-normal-states") << QByteArray("Norm5=0\r\nNorm6=0\r\nNorm7=0\r\nNorm8=0\r\nNorm9=0")
                                        << QByteArray("Norm5=1\r\nNorm6=0\r\nNorm7=0\r\nNorm8=0\r\nNorm9=1") << true
                                        << "a loop has one normal state";
    QTest::newRow("phone-21") << QByteArray("Phone2=\r\n") << QByteArray("Phone2=123456789012345678901\r\n") << true
                              << "[Phones] Phone2";
    QTest::newRow("duplicate-case") << QByteArray("[Phones]\r\n") << QByteArray("[Phones]\r\nphone1=1\r\n") << true
                                    << "given twice";
  }
  void strictReadRefuses() {
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(bool, adc);
    QFETCH(QString, named);
    const QByteArray file = QByteArray(CompleteSettings()).replace(from, to);
    QVERIFY(file != CompleteSettings());
    const QString path = dir_.filePath("strict.ini");
    WriteBytes(path, file);
    QString refused;
    Strict(path, adc ? TGroups::AllWithAdc() : TGroups::All(), &refused);
    if (named.isEmpty())
      QVERIFY2(refused.isEmpty(), qPrintable(refused));
    else
      QVERIFY2(refused.startsWith(path + ": ") && refused.contains(named), qPrintable(refused));
  }

  // Keys of 1 to 16 digits in either case are held as 16 capitals; all ones
  // is the empty slot.
  void keysAreCanonical_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::newRow("one-digit") << "a" << "000000000000000A";
    QTest::newRow("three-lower") << "abc" << "0000000000000ABC";
    QTest::newRow("sixteen-mixed") << "0123456789abcDEF" << "0123456789ABCDEF";
    QTest::newRow("all-ones") << "ffffffffffffffff" << "0000000000000000";
    QTest::newRow("seventeen") << "00000000000000001" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("blank-inside") << "12 34" << "";
  }
  void keysAreCanonical() {
    QFETCH(QString, text);
    QFETCH(QString, key);
    const auto canonical = CanonicalKey(text.toStdString());
    QCOMPARE(QString::fromStdString(canonical.value_or("")), key);
  }

  // The window's Load: a value that breaks its rule keeps the value given,
  // a missing key gives its default (the GSM settings keep theirs), and a
  // file without [ts1] and [ts2] leaves the thresholds alone.
  void lenientReadSkipsAndDefaults() {
    const QString path = dir_.filePath("hand.ini");
    WriteBytes(path, "[Phones]\r\nPhone2=112\r\n[Other]\r\nTimeOut=abc\r\n[GSM]\r\nRING=9\r\n[Keys]\r\nKey4=beef\r\n");
    const TSettings base = Busy();
    TDecodedSettings d;
    QString error;
    QVERIFY(!LoadSettingsFile(path, base, &d, &error));
    QVERIFY(d.Taken);
    QCOMPARE(d.Settings.Phone[1], std::string("112"));
    QCOMPARE(d.Settings.Phone[0], std::string());
    QCOMPARE(d.Settings.TimeOut, 200);
    QCOMPARE(d.Settings.TimeOut2, 0);
    QCOMPARE(d.Settings.Ring, 3);
    QCOMPARE(d.Settings.Module, 1);
    QCOMPARE(d.Settings.Key[4], std::string("000000000000BEEF"));
    QCOMPARE(d.Settings.Key[0], TSettings::EmptyKey);
    QVERIFY(d.Settings.Threshold == base.Threshold);
    QVERIFY(error.contains("[Other] TimeOut, line 4") && error.contains("[GSM] RING, line 6"));
    QCOMPARE(error.count('\n'), 2);

    WriteBytes(path, "[ts2]\r\nslider3=7\r\n");
    QVERIFY(LoadSettingsFile(path, base, &d, &error));
    QCOMPARE(d.Settings.Threshold[1][3], 7);
    QCOMPARE(d.Settings.Threshold[0][0], 0);
  }

  // Differences name each field once, by file name and by display name; a
  // group only one side holds shows "" on the other.
  void differencesNameTheFields() {
    TSettings a = Busy();
    TSettings b = a;
    b.Threshold[0][2] += 1;
    b.Phone[2] = "+7903";
    const std::vector<TDifference> d = Differences(a, b);
    QCOMPARE(d.size(), size_t(2));
    QCOMPARE(DifferenceLine(d[0], "panel", "file"), QString("[Phones] Phone3: panel '+79003' file '+7903'"));
    QCOMPARE(DifferenceLine(d[1], "panel", "file"), QString("[ts1] slider2: panel '502' file '503'"));
    QCOMPARE(QString::fromStdString(d[0].Field->Display), QString("Телефон 3"));
    QCOMPARE(QString::fromStdString(d[1].Field->Display), QString("Порог 3 канала 1"));
    b = a;
    b.Groups = TGroups::All();
    const std::vector<TDifference> adc = Differences(b, a);
    QCOMPARE(adc.size(), size_t(10));
    QCOMPARE(adc[0].Left, std::string());
    QCOMPARE(adc[0].Right, std::string("500"));
    QVERIFY(!(a == b));
  }

  // What write's strict check would refuse, found in the value itself: the
  // model's invariant for everything a read finishes with.
  void brokenFieldsAreWhatWriteRefuses_data() {
    QTest::addColumn<int>("change");
    QTest::addColumn<QStringList>("broken");
    QTest::newRow("none") << 0 << QStringList{};
    QTest::newRow("both rows of loop 3") << 1 << QStringList{"[Norm] Norm7", "[Norm] Norm11"};
    QTest::newRow("a phone with a letter") << 2 << QStringList{"[Phones] Phone2"};
    QTest::newRow("a delay of 256") << 3 << QStringList{"[Other] TimeOut2"};
    QTest::newRow("a key that is not hexadecimal") << 4 << QStringList{"[Keys] Key3"};
    QTest::newRow("no module") << 5 << QStringList{"[GSM] MODE1", "[GSM] MODE2", "[GSM] MODE3"};
    // A panel may hold them so, and write takes them as they are.
    QTest::newRow("thresholds that fall") << 6 << QStringList{};
    QTest::newRow("ring 6") << 7 << QStringList{"[GSM] RING"};
  }
  void brokenFieldsAreWhatWriteRefuses() {
    QFETCH(int, change);
    QFETCH(QStringList, broken);
    TSettings s = Busy();
    switch (change) {
      case 1: s.Norm[6] = s.Norm[10] = true; break;
      case 2: s.Phone[1] = "+7a"; break;
      case 3: s.TimeOut2 = 256; break;
      case 4: s.Key[3] = "00000000000000G1"; break;
      case 5: s.Module = 3; break;
      case 6: s.Threshold[1] = {5, 4, 4, 4, 4}; break;
      case 7: s.Ring = 6; break;
    }
    QStringList found;
    for (const TField* f : BrokenFields(s)) found << FieldName(*f);
    QCOMPARE(found, broken);
    // The strict read of the same settings saved says the same.
    const QString path = dir_.filePath("broken.ini");
    QVERIFY(SaveSettingsFile(path, s, {}, true, nullptr));
    QString refused;
    Strict(path, TGroups::AllWithAdc(), &refused);
    QCOMPARE(refused.isEmpty(), broken.isEmpty());
    // Groups the settings do not hold are not looked at.
    s.Groups = TGroups::None();
    QVERIFY(BrokenFields(s).empty());
  }

  // Both rows of a loop as its normal state: the lower row keeps it; one
  // row, or none, stays as it is.
  void canonicalKeepsTheLowerRow() {
    TSettings s;
    s.Norm = {false, false, false, false, true, true, false, false, true, false, false, false};
    Canonicalise(s);
    const std::array<bool, TSettings::kEntries> expected{false, false, false, false, false, true,
                                                         false, false, true,  false, false, false};
    QVERIFY(s.Norm == expected);
  }

 private:
  QTemporaryDir dir_;
};

QTEST_MAIN(TestSettingsModel)
#include "tst_settings_model.moc"
