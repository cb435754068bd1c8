// TIniFile: profile-file conventions, encodings and the atomic save.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>



#include <sys/stat.h>

#include "persist/IniFile.h"

#include "tests/persist/TestFiles.h"

namespace {

// "Москва" and "Тула" as the Windows version wrote them (Windows-1251).
const QByteArray kMoscow1251 = "\xCC\xEE\xF1\xEA\xE2\xE0";
const QByteArray kTula1251 = "\xD2\xF3\xEB\xE0";

using testfiles::ReadBytes;
using testfiles::WriteBytes;

using testcaps::RunWithoutOverride;

void Write(TIniFile& ini, const QString& section, const QString& key, const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::Int: ini.WriteInteger(section, key, value.toInt()); break;
    case QMetaType::Bool: ini.WriteBool(section, key, value.toBool()); break;
    case QMetaType::QString: ini.WriteString(section, key, value.toString()); break;
    default: break;  // no write
  }
}

// Reads with the form that def's type names.
QVariant Read(const TIniFile& ini, const QString& section, const QString& key, const QVariant& def) {
  switch (def.typeId()) {
    case QMetaType::Int: return ini.ReadInteger(section, key, def.toInt());
    case QMetaType::Bool: return ini.ReadBool(section, key, def.toBool());
    default: return ini.ReadString(section, key, def.toString());
  }
}

}  // namespace

class TestIniFile : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void edit_data();
  void edit();
  void read_data();
  void read();
  void textRoundTrip();
  void saveFailure_data();
  void saveFailure();
  void saveRefused();
  void findFileIgnoringCase();
  void onlySmallRegularFiles_data();
  void onlySmallRegularFiles();
  void createdFilesAreTheOwnersAlone();

 private:
  QString PathOf(const QString& name) const { return dir_->filePath(name); }
  std::unique_ptr<QTemporaryDir> dir_;
};

void TestIniFile::init() {
  dir_ = std::make_unique<QTemporaryDir>();
  QVERIFY(dir_->isValid());
}

// One write (or none) on a file given as bytes, then Save: the whole file as
// bytes afterwards, and the value as a fresh load reads it.
void TestIniFile::edit_data() {
  QTest::addColumn<bool>("exists");
  QTest::addColumn<QByteArray>("input");
  QTest::addColumn<QString>("section");
  QTest::addColumn<QString>("key");
  QTest::addColumn<QVariant>("value");  // int, bool, QString; invalid: no write
  QTest::addColumn<QByteArray>("expected");
  QTest::addColumn<QVariant>("readBack");  // invalid: not checked

  const QByteArray other = "[Other]\r\nTimeOut=5\r\nWaitSend=0\r\n";
  QTest::newRow("replace-in-place-keeps-crlf")
      << true << other << "Other" << "TimeOut" << QVariant(17)
      << QByteArray("[Other]\r\nTimeOut=17\r\nWaitSend=0\r\n") << QVariant(17);
  QTest::newRow("names-in-other-case-keep-their-spelling")
      << true << QByteArray("[OTHER]\r\ntimeout = 5\r\n") << "Other" << "TimeOut" << QVariant(-7)
      << QByteArray("[OTHER]\r\ntimeout = -7\r\n") << QVariant(-7);
  QTest::newRow("new-key-after-last-key-of-section")
      << true << QByteArray("[Phones]\r\nPhone1=1\r\n; loops\r\n\r\n[React]\r\nReact1=1\r\n")
      << "phones" << "Phone2" << QVariant("22")
      << QByteArray("[Phones]\r\nPhone1=1\r\nPhone2=22\r\n; loops\r\n\r\n[React]\r\nReact1=1\r\n")
      << QVariant("22");
  QTest::newRow("new-key-in-section-without-keys")
      << true << QByteArray("[Keys]\r\n; none yet\r\n[GSM]\r\nRING=2\r\n") << "Keys" << "Key0"
      << QVariant("0000000000000000")
      << QByteArray("[Keys]\r\nKey0=0000000000000000\r\n; none yet\r\n[GSM]\r\nRING=2\r\n")
      << QVariant("0000000000000000");
  QTest::newRow("new-section-at-end-of-file")
      << true << other << "Debug" << "Log" << QVariant(true)
      << other + "[Debug]\r\nLog=1\r\n" << QVariant(true);
  QTest::newRow("last-line-without-line-end-gets-one")
      << true << QByteArray("[Connect]\r\nComPort=COM1") << "Connect" << "Speed" << QVariant(0)
      << QByteArray("[Connect]\r\nComPort=COM1\r\nSpeed=0\r\n") << QVariant(0);
  QTest::newRow("lf-file-gets-lf-lines")
      << true << QByteArray("[A]\nk=1\r\n[B]\nk=2\n") << "C" << "k" << QVariant(false)
      << QByteArray("[A]\nk=1\r\n[B]\nk=2\n[C]\nk=0\n") << QVariant(false);
  QTest::newRow("missing-file-created-with-crlf")
      << false << QByteArray() << "Connect" << "ComPort" << QVariant("COM3")
      << QByteArray("[Connect]\r\nComPort=COM3\r\n") << QVariant("COM3");
  QTest::newRow("comments-and-lines-without-equals-kept")
      << true << QByteArray("; head\r\n[Other]\r\ngarbage line\r\n  # hash=1\r\nTimeOut=1\r\n")
      << "Other" << "TimeOut" << QVariant(2)
      << QByteArray("; head\r\n[Other]\r\ngarbage line\r\n  # hash=1\r\nTimeOut=2\r\n")
      << QVariant(2);
  QTest::newRow("same-value-leaves-line-as-is")
      << true << "[Phones]\r\nPhone1 = \"" + kMoscow1251 + "\"\r\n" << "Phones" << "Phone1"
      << QVariant(u"Москва"_qs) << "[Phones]\r\nPhone1 = \"" + kMoscow1251 + "\"\r\n"
      << QVariant(u"Москва"_qs);
  QTest::newRow("new-value-of-cp1251-line-in-utf8")
      << true << "[Phones]\r\nPhone1=" + kMoscow1251 + "\r\nPhone2=" + kTula1251 + "\r\n"
      << "Phones" << "Phone1" << QVariant(u"Тула"_qs)
      << "[Phones]\r\nPhone1=" + u"Тула"_qs.toUtf8() + "\r\nPhone2=" + kTula1251 + "\r\n"
      << QVariant(u"Тула"_qs);
  QTest::newRow("blanks-at-ends-written-quoted")
      << true << QByteArray("[S]\r\nk=x\r\n") << "S" << "k" << QVariant(" x ")
      << QByteArray("[S]\r\nk=\" x \"\r\n") << QVariant(" x ");
  QTest::newRow("line-break-in-value-stays-on-one-line")
      << true << QByteArray("[Connect]\r\n") << "Connect" << "ComPort"
      << QVariant("COM1\r\n[Keys]\r\nKey0=1")
      << QByteArray("[Connect]\r\nComPort=COM1  [Keys]  Key0=1\r\n")
      << QVariant("COM1  [Keys]  Key0=1");
  QTest::newRow("key-name-with-equals-dropped")
      << true << other << "Other" << "a=b" << QVariant("1") << other << QVariant();
  QTest::newRow("repeated-section-first-gets-new-key")
      << true << QByteArray("[A]\r\nx=1\r\n[B]\r\n[a]\r\ny=2\r\n") << "A" << "z" << QVariant(3)
      << QByteArray("[A]\r\nx=1\r\nz=3\r\n[B]\r\n[a]\r\ny=2\r\n") << QVariant(3);
  QTest::newRow("key-above-first-section-is-not-the-sections")
      << true << QByteArray("k=1\r\n[S]\r\n") << "S" << "k" << QVariant(2)
      << QByteArray("k=1\r\n[S]\r\nk=2\r\n") << QVariant(2);
  const QByteArray mixed = "\xEF\xBB\xBF[Phones]\r\nPhone1=" + kMoscow1251 +
                           "\n\n;\xFF\r\n[Keys]\r\nKey0=0000000000000000";
  QTest::newRow("no-write-keeps-every-byte")
      << true << mixed << "" << "" << QVariant() << mixed << QVariant();
}

void TestIniFile::edit() {
  QFETCH(bool, exists);
  QFETCH(QByteArray, input);
  QFETCH(QString, section);
  QFETCH(QString, key);
  QFETCH(QVariant, value);
  QFETCH(QByteArray, expected);
  QFETCH(QVariant, readBack);

  const QString path = PathOf("current.ini");
  if (exists) WriteBytes(path, input);
  TIniFile ini(path);
  QVERIFY(ini.Load());
  Write(ini, section, key, value);
  QString error;
  QVERIFY2(ini.Save(&error), qPrintable(error));
  QCOMPARE(ReadBytes(path), expected);
  QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"current.ini"});
  // The same text kept in memory (a library record) edits to the same bytes.
  TIniFile text{QString()};
  text.LoadText(exists ? input : QByteArray());
  Write(text, section, key, value);
  QCOMPARE(text.Text(), expected);

  if (readBack.isValid()) {
    TIniFile again(path);
    QVERIFY(again.Load());
    QCOMPARE(Read(again, section, key, value), readBack);
  }
}

void TestIniFile::read_data() {
  QTest::addColumn<bool>("exists");
  QTest::addColumn<QByteArray>("input");
  QTest::addColumn<QString>("section");
  QTest::addColumn<QString>("key");
  QTest::addColumn<QVariant>("def");  // its type picks ReadInteger, ReadBool or ReadString
  QTest::addColumn<QVariant>("expected");

  auto row = [](const char* name, const QByteArray& input, const char* section, const char* key,
                const QVariant& def, const QVariant& expected) {
    QTest::newRow(name) << true << input << QString(section) << QString(key) << def << expected;
  };
  QTest::newRow("missing-file-gives-default")
      << false << QByteArray() << "Other" << "TimeOut" << QVariant(4) << QVariant(4);
  row("utf8-text", "[Phones]\r\nPhone1=" + u"Москва"_qs.toUtf8() + "\r\n", "Phones", "Phone1",
      QVariant(""), QVariant(u"Москва"_qs));
  row("cp1251-text", "[Phones]\r\nPhone1=" + kMoscow1251 + "\r\n", "Phones", "Phone1", QVariant(""),
      QVariant(u"Москва"_qs));
  row("bom-before-first-section", "\xEF\xBB\xBF[Connect]\r\nComPort=COM2\r\n", "Connect", "ComPort",
      QVariant(""), QVariant("COM2"));
  row("names-in-other-case", "[CONNECT]\r\ncomport=COM2", "Connect", "ComPort", QVariant(""),
      QVariant("COM2"));
  row("blanks-trimmed-then-one-quote-pair", "[S]\r\n k =  \"\"  x \"\" \t\r\n", "S", "k",
      QVariant(""), QVariant("\"  x \""));
  row("single-quote-pair", "[S]\r\nk='x'\r\n", "S", "k", QVariant(""), QVariant("x"));
  row("unmatched-quotes-kept", "[S]\r\nk=\"x'\r\n", "S", "k", QVariant(""), QVariant("\"x'"));
  row("empty-value-is-not-default", "[S]\r\nk=\r\n", "S", "k", QVariant("d"), QVariant(""));
  row("equals-inside-value", "[S]\r\nk=a=b\r\n", "S", "k", QVariant(""), QVariant("a=b"));
  row("missing-key", "[S]\r\nk=1\r\n", "S", "j", QVariant("d"), QVariant("d"));
  row("missing-section", "[S]\r\nk=1\r\n", "T", "k", QVariant("d"), QVariant("d"));
  row("key-above-first-section", "k=1\r\n[S]\r\n", "S", "k", QVariant("d"), QVariant("d"));
  row("line-without-equals-is-no-key", "[S]\r\nk\r\n", "S", "k", QVariant("d"), QVariant("d"));
  row("comment-is-no-key", "[S]\r\n;k=1\r\n", "S", ";k", QVariant("d"), QVariant("d"));
  row("first-of-repeated-key", "[S]\r\nk=1\r\n[s]\r\nK=2\r\n", "S", "k", QVariant(""),
      QVariant("1"));
  row("key-of-repeated-section", "[S]\r\n[T]\r\n[s]\r\nk=2\r\n", "S", "k", QVariant(""),
      QVariant("2"));
  row("section-name-with-blanks", "  [ GSM ] ; module\r\nRING=3\r\n", "gsm", "ring", QVariant(0),
      QVariant(3));
  row("integer", "[Other]\r\nTimeOut=17\r\n", "Other", "TimeOut", QVariant(0), QVariant(17));
  row("integer-negative", "[GSM]\r\nRING=-1\r\n", "GSM", "RING", QVariant(2), QVariant(-1));
  row("integer-plus-sign", "[GSM]\r\nRING=+4\r\n", "GSM", "RING", QVariant(2), QVariant(4));
  row("integer-blanks-trimmed", "[S]\r\nk=\t 7 \r\n", "S", "k", QVariant(3), QVariant(7));
  row("integer-with-tail-is-not-a-number", "[Form1]\r\nxForm.Width=12abc\r\n", "Form1",
      "xForm.Width", QVariant(600), QVariant(600));
  row("integer-empty", "[S]\r\nk=\r\n", "S", "k", QVariant(3), QVariant(3));
  row("integer-sign-only", "[S]\r\nk=-\r\n", "S", "k", QVariant(3), QVariant(3));
  row("integer-hex-is-not-a-number", "[S]\r\nk=0x10\r\n", "S", "k", QVariant(3), QVariant(3));
  row("integer-out-of-range", "[S]\r\nk=2147483648\r\n", "S", "k", QVariant(3), QVariant(3));
  row("integer-min", "[S]\r\nk=-2147483648\r\n", "S", "k", QVariant(3), QVariant(INT_MIN));
  row("integer-arabic-indic-digits", "[S]\r\nk=\xD9\xA1\r\n", "S", "k", QVariant(3), QVariant(3));
  row("bool-nonzero-is-true", "[React]\r\nReact1=2\r\n", "React", "React1", QVariant(false),
      QVariant(true));
  row("bool-zero-is-false", "[React]\r\nReact1=0\r\n", "React", "React1", QVariant(true),
      QVariant(false));
  row("bool-text-gives-default", "[GSM]\r\nMODE1=true\r\n", "GSM", "MODE1", QVariant(true),
      QVariant(true));
  row("bool-missing-gives-default", "[GSM]\r\n", "GSM", "MODE1", QVariant(true), QVariant(true));
}

void TestIniFile::read() {
  QFETCH(bool, exists);
  QFETCH(QByteArray, input);
  QFETCH(QString, section);
  QFETCH(QString, key);
  QFETCH(QVariant, def);
  QFETCH(QVariant, expected);

  const QString path = PathOf("current.ini");
  if (exists) WriteBytes(path, input);
  TIniFile ini(path);
  QVERIFY(ini.Load());
  QCOMPARE(Read(ini, section, key, def), expected);
  QCOMPARE(ini.ValueExists(section, key), Read(ini, section, key, QVariant("<none>")).toString() != "<none>");
}

// Texts a user may type come back from a saved file exactly, Cyrillic among
// them, and the file is UTF-8.
void TestIniFile::textRoundTrip() {
  const QStringList texts = {u"Москва, ул. Ленина"_qs,
                             u"ЁЖЩЪ ёжщъ"_qs,
                             "",
                             "  leading",
                             "trailing\t",
                             "\"quoted\"",
                             "'single'",
                             "\"",
                             "a=b=c",
                             "; not a comment",
                             "[not a section]",
                             "#x"};
  const QString path = PathOf("round.ini");
  {
    TIniFile ini(path);
    QVERIFY(ini.Load());
    for (qsizetype i = 0; i < texts.size(); ++i) {
      ini.WriteString(u"Тексты"_qs, "Text" + QString::number(i), texts[i]);
    }
    ini.WriteString("Keys", u"Ключ"_qs, u"Значение"_qs);
    QVERIFY(ini.Save());
  }
  const QByteArray bytes = ReadBytes(path);
  QVERIFY(bytes.contains(u"Москва"_qs.toUtf8()));
  QVERIFY(bytes.startsWith(u"[Тексты]\r\n"_qs.toUtf8()));

  TIniFile ini(path);
  QVERIFY(ini.Load());
  for (qsizetype i = 0; i < texts.size(); ++i) {
    QCOMPARE(ini.ReadString(u"Тексты"_qs, "TEXT" + QString::number(i), "<missing>"), texts[i]);
  }
  QCOMPARE(ini.ReadString("keys", u"Ключ"_qs, ""), u"Значение"_qs);
  QCOMPARE(ini.ReadSection("KEYS"), QStringList{u"Ключ"_qs});
  QCOMPARE(ini.ReadSection(u"Тексты"_qs).size(), texts.size());
}

// A save that cannot write leaves the old file whole, reports the file, and
// leaves no temporary file behind.
void TestIniFile::saveFailure_data() {
  QTest::addColumn<QString>("setup");
  QTest::addColumn<bool>("loads");
  QTest::newRow("read-only-directory") << "dir-0555" << true;
  QTest::newRow("read-only-file") << "file-0444" << true;
  QTest::newRow("unreadable-file-is-not-replaced") << "file-0200" << false;
}

void TestIniFile::saveFailure() {
  QFETCH(QString, setup);
  QFETCH(bool, loads);

  const QByteArray old = "; mine\r\n[Other]\r\nTimeOut=5\r\n";
  const QString path = PathOf("current.ini");
  WriteBytes(path, old);
  QFile::Permissions mode = QFile::ReadOwner | QFile::ReadUser;
  if (setup == "file-0200") mode = QFile::WriteOwner | QFile::WriteUser;
  if (setup != "dir-0555") QVERIFY(QFile::setPermissions(path, mode));
  const QFile::Permissions dirMode = QFile::permissions(dir_->path());
  if (setup == "dir-0555") {
    QVERIFY(QFile::setPermissions(dir_->path(), QFile::ReadOwner | QFile::ExeOwner |
                                                    QFile::ReadGroup | QFile::ExeGroup |
                                                    QFile::ReadOther | QFile::ExeOther));
  }

  bool loaded = false;
  bool saved = true;
  QString error;
  const bool ran = RunWithoutOverride([&] {
    TIniFile ini(path);
    loaded = ini.Load();
    ini.WriteInteger("Other", "TimeOut", 9);
    saved = ini.Save(&error);
  });
  QFile::setPermissions(dir_->path(), dirMode);
  QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
  if (!ran) QSKIP("cannot drop the capabilities that bypass file modes");

  QCOMPARE(loaded, loads);
  QVERIFY(!saved);
  QCOMPARE(error, "Unable to write to " + path);
  QCOMPARE(ReadBytes(path), old);
  QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"current.ini"});
}

// Without a successful load the lines to keep are unknown; a missing
// directory cannot take the file.
void TestIniFile::saveRefused() {
  const QString path = PathOf("current.ini");
  WriteBytes(path, "[A]\r\nx=1\r\n");
  TIniFile ini(path);
  ini.WriteString("A", "y", "2");
  QVERIFY(!ini.Save());
  QCOMPARE(ReadBytes(path), QByteArray("[A]\r\nx=1\r\n"));

  const QString missingDir = PathOf("nowhere/current.ini");
  TIniFile elsewhere(missingDir);
  QVERIFY(elsewhere.Load());
  elsewhere.WriteString("A", "y", "2");
  QString error;
  QVERIFY(!elsewhere.Save(&error));
  QCOMPARE(error, "Unable to write to " + missingDir);
}

void TestIniFile::findFileIgnoringCase() {
  WriteBytes(PathOf("Windows.ini"), "[Form1]\r\n");
  QCOMPARE(FindFileIgnoringCase(PathOf("windows.ini")), PathOf("Windows.ini"));
  QCOMPARE(FindFileIgnoringCase(PathOf("Windows.ini")), PathOf("Windows.ini"));
  QCOMPARE(FindFileIgnoringCase(PathOf("other.ini")), PathOf("other.ini"));
  QCOMPARE(FindFileIgnoringCase(PathOf("windows.in")), PathOf("windows.in"));
}

// Settings and layout files are small: a larger file, a device or a FIFO is
// refused before its content is read (a FIFO without a writer would block).
void TestIniFile::onlySmallRegularFiles_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<bool>("loads");
  QTest::newRow("one-mebibyte") << "1048576" << true;
  QTest::newRow("one-byte-more") << "1048577" << false;
  QTest::newRow("fifo") << "fifo" << false;
  QTest::newRow("dev-zero") << "/dev/zero" << false;
  QTest::newRow("dev-null") << "/dev/null" << false;
  QTest::newRow("directory") << "dir" << false;
}

void TestIniFile::onlySmallRegularFiles() {
  QFETCH(QString, kind);
  QFETCH(bool, loads);
  QString path = PathOf("big.ini");
  if (kind == "fifo") {
    QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
  } else if (kind == "dir") {
    QVERIFY(QDir().mkdir(path));
  } else if (kind.startsWith('/')) {
    path = kind;
  } else {
    const QByteArray head = "[Phones]\nPhone1=1\n";
    testfiles::WriteBytes(path, head + QByteArray(kind.toInt() - head.size(), '\n'));
  }
  TIniFile ini(path);
  QCOMPARE(ini.Load(), loads);
  QCOMPARE(ini.ReadString("Phones", "Phone1", "none"), loads ? QString("1") : QString("none"));
}


// A file the save creates holds phone numbers and keys: 0600 whatever the
// umask; a file that exists keeps the mode its owner gave it.
void TestIniFile::createdFilesAreTheOwnersAlone() {
  const mode_t oldMask = ::umask(022);
  TIniFile created(PathOf("new.ini"));
  QVERIFY(created.Load());
  created.WriteString("Phones", "Phone1", "+79161234567");
  QVERIFY(created.Save());
  ::umask(oldMask);
  struct stat st {};
  QCOMPARE(::stat(QFile::encodeName(PathOf("new.ini")).constData(), &st), 0);
  QCOMPARE(int(st.st_mode & 0777), 0600);

  WriteBytes(PathOf("shared.ini"), "[Phones]\r\n");
  QVERIFY(::chmod(QFile::encodeName(PathOf("shared.ini")).constData(), 0644) == 0);
  TIniFile shared(PathOf("shared.ini"));
  QVERIFY(shared.Load());
  shared.WriteString("Phones", "Phone1", "+79161234567");
  QVERIFY(shared.Save());
  QCOMPARE(::stat(QFile::encodeName(PathOf("shared.ini")).constData(), &st), 0);
  QCOMPARE(int(st.st_mode & 0777), 0644);
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_IniFile.moc"
