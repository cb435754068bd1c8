// Snapshots of the settings: the forms and defaults of a settings file, the
// differences, and the pages agreeing with the files they save.
#include <QTemporaryDir>
#include <QTest>

#include "persist/Snapshot.h"
#include "tests/persist/TestFiles.h"
#include "ui/MainForm.h"

using testfiles::WriteBytes;

class TestSnapshot : public QObject {
  Q_OBJECT

 private slots:
  void fileValuesTakeTheSettingsFileForms() {
    QTemporaryDir dir;
    const QString file = dir.filePath("a.ini");
    WriteBytes(file,
               "[Connect]\r\nComPort=/dev/ttyUSB0\r\n[PHONES]\r\nphone3= +7903 \r\n[React]\r\nReact1=2\r\n"
               "[Keys]\r\nKey0=FFFFFFFFFFFFFFFF\r\nKey1=00112233AABBCCDD\r\n[Other]\r\nTimeOut=abc\r\nTimeOut2=-5\r\n"
               "[ts1]\r\nslider4=900\r\n");
    TSnapshot without;
    QVERIFY(TSnapshot::FromFile(file, false, &without));
    QCOMPARE(without.Settings().size(), 12 + 12 + 8 + 4 + 4 + 10 + 4);
    QCOMPARE(without.Value("Phones", "Phone3"), QString("+7903"));
    QCOMPARE(without.Value("React", "React1"), QString("1"));
    QCOMPARE(without.Value("React", "React2"), QString("0"));
    QCOMPARE(without.Value("Keys", "Key0"), QString("0000000000000000"));
    QCOMPARE(without.Value("Keys", "Key1"), QString("00112233AABBCCDD"));
    QCOMPARE(without.Value("Keys", "Key9"), QString("0000000000000000"));
    QCOMPARE(without.Value("Other", "TimeOut"), QString("0"));
    QCOMPARE(without.Value("Other", "TimeOut2"), QString("-5"));
    QCOMPARE(without.Value("GSM", "RING"), QString("-1"));
    QVERIFY(without.Value("Connect", "ComPort").isNull());
    QVERIFY(without.Value("ts1", "slider4").isNull());

    TSnapshot with;
    QVERIFY(TSnapshot::FromFile(file, true, &with));
    QCOMPARE(with.Settings().size(), without.Settings().size() + 10);
    QCOMPARE(with.Value("ts1", "slider4"), QString("900"));
    QCOMPARE(with.Value("ts2", "slider0"), QString("0"));

    TSnapshot missing;
    QVERIFY(TSnapshot::FromFile(dir.filePath("none.ini"), false, &missing));
    QCOMPARE(missing.Settings().size(), without.Settings().size());
  }

  void differencesListEachSettingOnce() {
    QTemporaryDir dir;
    WriteBytes(dir.filePath("a.ini"), "[Phones]\r\nPhone3=+7916\r\n[GSM]\r\nRING=2\r\n");
    WriteBytes(dir.filePath("b.ini"), "[phones]\r\nPhone3=+7903\r\n[GSM]\r\nRING=2\r\n[Norm]\r\nNorm12=1\r\n");
    TSnapshot a, b, adc;
    QVERIFY(TSnapshot::FromFile(dir.filePath("a.ini"), false, &a));
    QVERIFY(TSnapshot::FromFile(dir.filePath("b.ini"), false, &b));
    QVERIFY(TSnapshot::FromFile(dir.filePath("a.ini"), true, &adc));
    QVERIFY(a == a);
    QVERIFY(!(a == b));
    const QList<TSettingDifference> d = a.Differences(b);
    QCOMPARE(d.size(), 2);
    QCOMPARE(d[0], (TSettingDifference{"Phones", "Phone3", "+7916", "+7903"}));
    QCOMPARE(d[1], (TSettingDifference{"Norm", "Norm12", "0", "1"}));
    QCOMPARE(DifferenceLine(d[0], "panel", "file"), QString("[Phones] Phone3: panel '+7916' file '+7903'"));
    // A setting only one side holds.
    const QList<TSettingDifference> extra = a.Differences(adc);
    QCOMPARE(extra.size(), 10);
    QCOMPARE(extra[0], (TSettingDifference{"ts1", "slider0", "", "0"}));
  }

  // The pages store what a file saved from them holds.
  void pagesAgreeWithTheFilesTheySave() {
    TForm1 form(nullptr, false);
    QTemporaryDir dir;
    const QString in = dir.filePath("in.ini");
    WriteBytes(in,
               "[Phones]\r\nPhone1=+79160000001\r\nPhone12=55\r\n[React]\r\nReact7=1\r\n[Norm]\r\nNorm5=1\r\n"
               "[Other]\r\nTimeOut=200\r\nTimeOut2=12\r\n[Keys]\r\nKey3=0123456789ABCDEF\r\n"
               "[ts1]\r\nslider0=100\r\nslider1=300\r\nslider2=500\r\nslider3=700\r\nslider4=900\r\n"
               "[GSM]\r\nMODE1=0\r\nMODE2=1\r\nMODE3=0\r\nRING=4\r\n");
    QVERIFY(form.LoadSettings(in));
    const QString saved = dir.filePath("saved.ini");
    QVERIFY(form.SaveSettings(saved));
    for (const bool adc : {false, true}) {
      TSnapshot file;
      QVERIFY(TSnapshot::FromFile(saved, adc, &file));
      QCOMPARE(form.PagesSnapshot(adc).Differences(file), QList<TSettingDifference>());
    }
    const TSnapshot pages = form.PagesSnapshot(true);
    QCOMPARE(pages.Value("Phones", "Phone1"), QString("+79160000001"));
    QCOMPARE(pages.Value("Keys", "Key3"), QString("0123456789ABCDEF"));
    QCOMPARE(pages.Value("ts1", "slider4"), QString("900"));
    QCOMPARE(pages.Value("GSM", "RING"), QString("4"));
    QCOMPARE(pages.Value("Norm", "Norm5") + pages.Value("Norm", "Norm9"), QString("10"));
    QCOMPARE(pages.Value("Other", "TimeOut"), QString("200"));
  }
};

QTEST_MAIN(TestSnapshot)
#include "tst_Snapshot.moc"
