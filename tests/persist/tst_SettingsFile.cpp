// Settings files against the real pages: the keys, their forms, the defaults,
// the pages' own rules, foreign files and failures to write.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <memory>

#include "persist/IniFile.h"
#include "persist/SettingsCodec.h"
#include "tests/persist/TestFiles.h"
#include "ui/KeyDialog.h"
#include "ui/MainForm.h"
#include "ui/PageSettings.h"
#include "ui/RadioButton.h"
#include "ui/Trislider.h"
#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/f_keys.h"

namespace {

QString N(const char* prefix, int n) { return QLatin1String(prefix) + QString::number(n); }

template <typename T>
T* Find(QWidget* page, const QString& name) {
  auto* widget = page->findChild<T*>(name);
  if (widget == nullptr) qFatal("control %s missing", qPrintable(name));
  return widget;
}

using testfiles::ReadBytes;
using testfiles::WriteBytes;

const QString EmptyKey = QString::fromStdString(TSettings::EmptyKey);
const QString BlankKey = QString::fromStdString(TSettings::BlankKey);

TSettings PageDefaults() {
  TSettings s;
  for (auto& channel : s.Threshold)
    for (int k = 0; k < TSettings::kThresholds; ++k) channel[k] = TformACP::DefaultThreshold(k);
  return s;
}

// Everything a settings file stores, as the program's own pages (views of a
// settings model) and port combo box hold it, with the debug-log mark
// standing in for mnuLog.
struct TPages {
  QComboBox ports;
  TformCommon common;
  TformKeys keys;
  TformACP acp;
  TformGSM gsm;
  TSettingsModel model{PageDefaults()};
  TPagesView view{model, &common, &keys, &acp, &gsm};
  bool logMarked = false;
  int logClicks = 0;

  TPages() { ports.setEditable(true); }

  TPagesFile File() {
    return TPagesFile({&ports, &model, [this] { return logMarked; },
                          [this] {
                            ++logClicks;
                            logMarked = !logMarked;
                          }});
  }

  QLineEdit* Phone(int n) { return Find<QLineEdit>(&common, N("etPhone", n)); }
  QCheckBox* Box(const QString& name) { return Find<QCheckBox>(&common, name); }
  TRadioButton* Norm(int n) { return Find<TRadioButton>(&common, N("rbNorm", n)); }
  QSpinBox* Spin(const QString& name) { return Find<QSpinBox>(&common, name); }
  TRadioButton* Mode(int n) { return Find<TRadioButton>(&gsm, N("rb", n)); }
  QComboBox* Ring() { return Find<QComboBox>(&gsm, "cbRing"); }
  QTreeWidgetItem* KeyRow(int i) { return keys.List()->topLevelItem(i); }
  TTrislider* Slider(int channel) { return acp.Slider(channel); }

  // Every stored control as "name=value", in the file's order.
  QStringList Snapshot() {
    QStringList s;
    s << "ComPorts=" + ports.currentText() << QString("Log=%1").arg(logMarked);
    for (int n = 1; n <= 12; ++n) {
      s << N("etPhone", n) + "=" + Phone(n)->text();
      s << N("cbReact", n) + "=" + QString::number(Box(N("cbReact", n))->isChecked());
      if (n >= 5) s << N("rbNorm", n) + "=" + QString::number(Norm(n)->IsOn());
    }
    for (int l = 1; l <= 4; ++l) s << N("cb24", l) + "=" + QString::number(Box(N("cb24", l))->isChecked());
    s << "cbFastGuard=" + QString::number(Box("cbFastGuard")->isChecked());
    s << "seTimeOut=" + QString::number(Spin("seTimeOut")->value());
    s << "cbWaitSend=" + QString::number(Box("cbWaitSend")->isChecked());
    s << "seTimeOut2=" + QString::number(Spin("seTimeOut2")->value());
    for (int i = 0; i < 10; ++i) s << N("Key", i) + "=" + KeyRow(i)->text(1);
    for (int k = 0; k < 5; ++k) {
      s << N("ts.", k) + "=" + QString::number(Slider(1)->GetPosition(k));
      s << N("ts2.", k) + "=" + QString::number(Slider(2)->GetPosition(k));
    }
    for (int m = 1; m <= 3; ++m) s << N("rb", m) + "=" + QString::number(Mode(m)->IsOn());
    s << "cbRing=" + QString::number(Ring()->currentIndex());
    return s;
  }

  // A state in which every control differs from its initial value.
  void SetAll() {
    ports.setCurrentText("/dev/ttyUSB3");
    logMarked = true;
    for (int n = 1; n <= 12; ++n) {
      Phone(n)->setText("+7900" + QString::number(n));
      Box(N("cbReact", n))->setChecked(n % 2 == 1);
    }
    for (int n = 5; n <= 8; ++n) Norm(n % 2 ? n : n + 4)->SetOn(true);  // 5, 10, 7, 12
    for (int l = 1; l <= 4; ++l) Box(N("cb24", l))->setChecked(l != 2);
    Box("cbFastGuard")->setChecked(true);
    Spin("seTimeOut")->setValue(200);
    Box("cbWaitSend")->setChecked(true);
    Spin("seTimeOut2")->setValue(17);
    for (int i = 0; i < 10; ++i) KeyRow(i)->setText(1, QString("0123456789ABCDE%1").arg(i));
    KeyRow(4)->setText(1, BlankKey);
    // The user moves the thumbs, the top one first, so none meets a neighbour.
    const int thresholds[5] = {10, 100, 300, 600, 1000};
    for (int k = 4; k >= 0; --k) {
      Slider(1)->MoveThumb(k, thresholds[k]);
      Slider(2)->MoveThumb(k, thresholds[k] + 5);
    }
    Mode(2)->SetOn(true);
    Ring()->setCurrentIndex(3);
  }
};

}  // namespace

class TestSettingsFile : public QObject {
  Q_OBJECT

 private slots:
  void init() { QVERIFY(dir_.isValid()); }

  // Every control comes back from a save and a load into pages in another
  // state; the all-F key comes back as zeros. The new file has the sections
  // and keys in the order the program writes them.
  void roundTrip() {
    const QString path = dir_.filePath("round.ini");
    TPages source;
    source.SetAll();
    QString error;
    QVERIFY(source.File().Save(path, &error));
    QStringList expected = source.Snapshot();
    expected.replaceInStrings("Key4=" + BlankKey, "Key4=" + EmptyKey);

    TPages target;
    target.Ring()->setCurrentIndex(5);
    target.Mode(3)->SetOn(true);
    target.Spin("seTimeOut2")->setValue(99);
    QVERIFY(target.File().Load(path, &error));
    QCOMPARE(target.Snapshot(), expected);
    QCOMPARE(target.logClicks, 1);

    const QByteArray bytes = ReadBytes(path);
    QVERIFY(bytes.contains("[Connect]\r\nComPort=/dev/ttyUSB3\r\n[Debug]\r\nLog=1\r\n[Phones]\r\nPhone1=+79001\r\n"));
    QVERIFY(bytes.contains("Key4=0000000000000000\r\n"));
    QVERIFY(!bytes.contains("FFFF"));
    QStringList sections;
    for (const QByteArray& line : bytes.split('\n'))
      if (line.startsWith('[')) sections << QString(line.trimmed());
    QCOMPARE(sections, QStringList({"[Connect]", "[Debug]", "[Phones]", "[React]", "[Norm]", "[24Hours]",
                                    "[Other]", "[Keys]", "[ts1]", "[ts2]", "[GSM]"}));
    TIniFile ini(path);
    QVERIFY(ini.Load());
    QCOMPARE(ini.ReadSection("Norm"), QStringList({"Norm5", "Norm6", "Norm7", "Norm8", "Norm9", "Norm10",
                                                   "Norm11", "Norm12"}));
    QCOMPARE(ini.ReadSection("Other"), QStringList({"FastGuard", "TimeOut", "WaitSend", "TimeOut2"}));
    QCOMPARE(ini.ReadSection("GSM"), QStringList({"MODE1", "MODE2", "MODE3", "RING"}));
    QCOMPARE(ini.ReadSection("ts1").size(), 5);
    QCOMPARE(ini.ReadString("GSM", "RING", ""), QString("3"));
  }

  // A missing file reads as empty: every key gets its default, while the GSM
  // page, the ADC page (a file without thresholds), the port name and a
  // running log keep their state.
  void missingFileGivesDefaults() {
    TPages pages;
    pages.SetAll();
    pages.Mode(3)->SetOn(true);
    const QStringList before = pages.Snapshot();
    QVERIFY(pages.File().Load(dir_.filePath("none.ini")));
    const QStringList s = pages.Snapshot();
    QCOMPARE(s.first(), QString("ComPorts=/dev/ttyUSB3"));
    QVERIFY(s.contains("Log=1"));
    QCOMPARE(pages.logClicks, 0);
    for (const QString& entry : s) {
      if (entry.startsWith("ComPorts") || entry.startsWith("Log") || entry.startsWith("rb") ||
          entry.startsWith("cbRing"))
        continue;
      if (entry.startsWith("ts")) {
        QVERIFY2(before.contains(entry), qPrintable(entry));
        continue;
      }
      const QString value = entry.section('=', 1);
      const bool isDefault = value.isEmpty() || value == "0" || value == EmptyKey;
      QVERIFY2(isDefault, qPrintable(entry));
    }
    QVERIFY(s.contains("rb3=1") && s.contains("rb2=0") && s.contains("cbRing=3"));
    QVERIFY(!pages.Box("cbWaitSend")->isEnabled());
  }

  // A file edited by hand: names in other letter case are found, a value that
  // is not a number gives the default, an empty port keeps the combo's text,
  // and after a save every line the program does not own is still there.
  void handWrittenFile() {
    const QString path = dir_.filePath("hand.ini");
    const QByteArray original =
        "; settings of the object on Lenina street\r\n"
        "[CONNECT]\r\ncomport=\r\n"
        "[phones]\r\nphone3 = 112\r\nPHONE12=+7495\r\nNote=call twice\r\n"
        "[other]\r\ntimeout=abc\r\nTimeOut2=12x\r\nfastguard=7\r\n"
        "[Keys]\r\nkey2=ffffffffffffffff\r\nKey3=FFFFFFFFFFFFFFFF\r\n"
        "[gsm]\r\nmode3=1\r\nring=x\r\n"
        "[ts1]\r\nslider0=-\r\nslider1=50\r\n"
        "[Extra]\r\n# unknown to the program\r\nfoo=bar\r\n";
    WriteBytes(path, original);
    TPages pages;
    pages.ports.setCurrentText("COM7");
    pages.Spin("seTimeOut")->setValue(40);
    pages.Ring()->setCurrentIndex(2);
    QString error;
    QVERIFY(!pages.File().Load(path, &error));
    QCOMPARE(pages.ports.currentText(), QString("COM7"));
    QCOMPARE(pages.Phone(3)->text(), QString("112"));
    QCOMPARE(pages.Phone(12)->text(), QString("+7495"));
    // Values that break their rule leave their controls as they were, and
    // the one message names each of them.
    QCOMPARE(pages.Spin("seTimeOut")->value(), 40);
    QCOMPARE(pages.Spin("seTimeOut2")->value(), 0);
    QVERIFY(!pages.Box("cbFastGuard")->isChecked());
    QCOMPARE(pages.Ring()->currentIndex(), 2);
    for (const char* skipped : {"[other] timeout, line 9", "[other] TimeOut2, line 10", "[other] fastguard, line 11",
                                "[gsm] ring, line 17", "[ts1] slider0, line 19"})
      QVERIFY2(error.contains(skipped), qPrintable(error));
    QCOMPARE(error.count('\n'), 5);
    // Keys are taken in capitals, as typed ones are.
    QCOMPARE(pages.KeyRow(2)->text(1), EmptyKey);
    QCOMPARE(pages.KeyRow(3)->text(1), EmptyKey);
    QVERIFY(pages.Mode(3)->IsOn() && !pages.Mode(1)->IsOn());
    QCOMPARE(pages.Slider(1)->GetPosition(0), 0);
    QCOMPARE(pages.Slider(1)->GetPosition(1), 50);

    QVERIFY(pages.File().Save(path));
    const QByteArray saved = ReadBytes(path);
    for (const char* kept : {"; settings of the object on Lenina street\r\n[CONNECT]\r\ncomport=COM7\r\n",
                             "[phones]\r\nphone3 = 112\r\nPHONE12=+7495\r\nNote=call twice\r\nPhone1=\r\n",
                             "[Extra]\r\n# unknown to the program\r\nfoo=bar\r\n", "Key3=0000000000000000\r\n"})
      QVERIFY2(saved.contains(kept), kept);
    QCOMPARE(saved.count("phone3") + saved.count("Phone3"), 1);
  }

  // Files of the Windows version are Windows-1251.
  void windows1251File() {
    const QString path = dir_.filePath("cp1251.ini");
    WriteBytes(path, "[Connect]\r\nComPort=\xCF\xEE\xF0\xF2 1\r\n[Phones]\r\nPhone1=\xEE\xF5\xF0\xE0\xED\xE0\r\n");
    TPages pages;
    QString error;
    QVERIFY(!pages.File().Load(path, &error));
    QCOMPARE(pages.ports.currentText(), QString("Порт 1"));
    // Letters never belong in a phone number.
    QCOMPARE(pages.Phone(1)->text(), QString());
    QVERIFY2(error.contains("[Phones] Phone1, line 4: \"охрана\" holds a non-ASCII character"), qPrintable(error));
  }

  // Setting the controls directly runs the pages' rules: cbReact1 decides on
  // cbWaitSend before WaitSend is read. Values that would exclude each other
  // (both normal states of a loop, two GSM modules or none) are not loaded.
  void pageRulesFollowTheLoad_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("complete");
    QTest::newRow("wait-send-without-react1")
        << QByteArray("[React]\r\nReact1=0\r\n[Other]\r\nWaitSend=1\r\n")
        << QStringList({"cbReact1=0", "cbWaitSend=1", "waitSendEnabled=0"}) << true;
    QTest::newRow("wait-send-with-react1")
        << QByteArray("[React]\r\nReact1=1\r\n[Other]\r\nWaitSend=0\r\n")
        << QStringList({"cbReact1=1", "cbWaitSend=0", "waitSendEnabled=1"}) << true;
    QTest::newRow("both-normal-states-of-loop-1")
        << QByteArray("[Norm]\r\nNorm5=1\r\nNorm9=1\r\nNorm6=1\r\n")
        << QStringList({"rbNorm5=0", "rbNorm9=0", "rbNorm6=1", "rbNorm10=0"}) << false;
    QTest::newRow("gsm-one-mode") << QByteArray("[GSM]\r\nMODE2=1\r\n") << QStringList({"rb1=0", "rb2=1", "rb3=0"})
                                  << true;
    QTest::newRow("gsm-two-modes") << QByteArray("[GSM]\r\nMODE1=0\r\nMODE2=1\r\nMODE3=1\r\n")
                                   << QStringList({"rb1=1", "rb2=0", "rb3=0"}) << false;
    QTest::newRow("gsm-no-mode") << QByteArray("[GSM]\r\nMODE1=0\r\nMODE2=0\r\nMODE3=0\r\nRING=-1\r\n")
                                 << QStringList({"rb1=1", "rb2=0", "rb3=0", "cbRing=0"}) << false;
  }
  void pageRulesFollowTheLoad() {
    QFETCH(QByteArray, file);
    QFETCH(QStringList, expected);
    QFETCH(bool, complete);
    const QString path = dir_.filePath("rules.ini");
    WriteBytes(path, file);
    TPages pages;
    pages.Norm(10)->SetOn(true);
    QCOMPARE(pages.File().Load(path), complete);
    QStringList s = pages.Snapshot();
    s << QString("waitSendEnabled=%1").arg(pages.Box("cbWaitSend")->isEnabled());
    for (const QString& e : expected) QVERIFY2(s.contains(e), qPrintable(e));
  }

  // A log marked in the file switches logging on; one unmarked never
  // switches a running log off.
  void logKey() {
    const QString path = dir_.filePath("log.ini");
    WriteBytes(path, "[Debug]\r\nLog=0\r\n[Other]\r\nTimeOut=5\r\n");
    TPages pages;
    pages.logMarked = true;
    QVERIFY(pages.File().Load(path));
    QCOMPARE(pages.logClicks, 0);
    WriteBytes(path, "[debug]\r\nlog=1\r\n[Other]\r\nTimeOut=5\r\n");
    QVERIFY(pages.File().Load(path));
    QCOMPARE(pages.logClicks, 0);  // already on
    pages.logMarked = false;
    QVERIFY(pages.File().Load(path));
    QCOMPARE(pages.logClicks, 1);
    QVERIFY(pages.logMarked);
  }

  // A target that cannot be written: the error names the file, and the old
  // file stays whole; an unreadable file is not loaded and changes nothing.
  void unwritableTarget() {
    QTemporaryDir locked;
    const QString path = locked.filePath("current.ini");
    const QByteArray old = "[Phones]\r\nPhone1=old\r\n";
    WriteBytes(path, old);
    QVERIFY(QFile::setPermissions(locked.path(), QFile::ReadOwner | QFile::ExeOwner));
    TPages pages;
    pages.SetAll();
    bool saved = true;
    QString error;
    const bool ran = testcaps::RunWithoutOverride([&] { saved = pages.File().Save(path, &error); });
    QFile::setPermissions(locked.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!ran) QSKIP("cannot drop the capabilities that bypass file modes");
    QVERIFY(!saved);
    QCOMPARE(error, "Unable to write to " + path);
    QCOMPARE(ReadBytes(path), old);

    const QString underFile = path + "/nested.ini";
    QVERIFY(!pages.File().Save(underFile, &error));
    QCOMPARE(error, "Unable to write to " + underFile);

    const QStringList before = pages.Snapshot();
    QVERIFY(!pages.File().Load(locked.path(), &error));  // a directory cannot be read as a file
    QCOMPARE(error, "Unable to read " + locked.path());
    QCOMPARE(pages.Snapshot(), before);
  }

  // The window's pages hold what a file saved from them holds, and a short
  // key loaded in lower case is shown, saved and sent as 16 capitals.
  void pagesAgreeWithTheFilesTheySave() {
    TForm1 form(nullptr, false);
    const QString in = dir_.filePath("in.ini");
    WriteBytes(in,
               "[Phones]\r\nPhone1=+79160000001\r\nPhone12=55\r\n[React]\r\nReact7=1\r\n[Norm]\r\nNorm5=1\r\n"
               "[Other]\r\nTimeOut=200\r\nTimeOut2=12\r\n[Keys]\r\nKey3=0123456789ABCDEF\r\nKey4=abc\r\n"
               "[ts1]\r\nslider0=100\r\nslider1=300\r\nslider2=500\r\nslider3=700\r\nslider4=900\r\n"
               "[GSM]\r\nMODE1=0\r\nMODE2=1\r\nMODE3=0\r\nRING=4\r\n");
    QVERIFY(form.LoadSettings(in));
    const QString saved = dir_.filePath("saved.ini");
    QVERIFY(form.SaveSettings(saved));
    for (const TGroups groups : {TGroups::All(), TGroups::AllWithAdc()}) {
      TSettings file;
      QCOMPARE(ReadSettingsForWrite(saved, groups, &file), std::nullopt);
      QVERIFY(Differences(form.PagesSettings(groups), file).empty());
    }
    const TSettings pages = form.PagesSettings(TGroups::AllWithAdc());
    QCOMPARE(pages.Phone[0], std::string("+79160000001"));
    QCOMPARE(pages.Key[3], std::string("0123456789ABCDEF"));
    QCOMPARE(pages.Key[4], std::string("0000000000000ABC"));
    QCOMPARE(pages.Threshold[0][4], 900);
    QCOMPARE(pages.Ring, 4);
    QCOMPARE(pages.Module, 1);
    QVERIFY(pages.Norm[4] && !pages.Norm[8]);
    QCOMPARE(pages.TimeOut, 200);
  }

 private:
  QTemporaryDir dir_;
};

QTEST_MAIN(TestSettingsFile)
#include "tst_SettingsFile.moc"
