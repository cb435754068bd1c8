// TWindowLayout and TSplitterShare on a small window shaped like the main
// window: a splitter between an upper and a lower pane.
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

#include "persist/IniFile.h"
#include "persist/Layout.h"

namespace {

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(bytes), bytes.size());
}

struct TWindow {
  QWidget form;
  QSplitter* splitter;

  TWindow() {
    form.setObjectName("Form1");
    form.setGeometry(207, 64, 894, 628);
    form.setMinimumSize(640, 400);
    auto* layout = new QVBoxLayout(&form);
    layout->setContentsMargins(0, 0, 0, 0);
    splitter = new QSplitter(Qt::Vertical, &form);
    splitter->setObjectName("RzSplitter1");
    splitter->setHandleWidth(7);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(new QWidget);
    splitter->addWidget(new QWidget);
    // As the main window sets it up: the stretch factors alone would let the
    // share drift once the bar has moved.
    splitter->setStretchFactor(0, 76);
    splitter->setStretchFactor(1, 24);
    splitter->setSizes({420, 208});
    layout->addWidget(splitter);
    new TSplitterShare(splitter, 76);
  }
  int Share() const { return TSplitterShare::Of(splitter)->Percent(); }
  // The share the panes show.
  double Shown() const {
    const QList<int> s = splitter->sizes();
    return 100.0 * s[0] / (s[0] + s[1]);
  }
};

}  // namespace

class TestLayout : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
  }

  // No file: the designed size as far as the screen allows (800 x 600
  // offscreen), centred on it, the designed share.
  void noFileCentresTheWindow() {
    TWindow w;
    TWindowLayout layout(&w.form, dir_->filePath("Windows.ini"));
    layout.Load();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(w.form.size(), QSize(894, 628).boundedTo(screen.size()));
    QVERIFY(qAbs(w.form.frameGeometry().center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(w.form.frameGeometry().center().y() - screen.center().y()) <= 1);
    QCOMPARE(w.Share(), 76);
    layout.RestorePlacement();
    QVERIFY(screen.contains(w.form.geometry()));
  }

  // The fitting itself, for two small screens (one not at the origin) and
  // frames from a first start, hostile files and a display since removed:
  // the result always lies inside the screen and keeps the minimum size.
  void fitFrame_data() {
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QRect>("stored");
    QTest::addColumn<QRect>("expected");
    const QRect laptop(0, 0, 800, 450);
    const QRect wide(1280, 24, 1280, 776);  // a second screen, under a top panel
    QTest::newRow("design-on-800x450") << laptop << QRect(207, 64, 894, 628) << QRect(0, 0, 800, 450);
    QTest::newRow("tiny-in-corner") << laptop << QRect(1200, 780, 10, 10) << QRect(160, 50, 640, 400);
    QTest::newRow("negative-height") << laptop << QRect(0, 0, 700, -5) << QRect(0, 0, 700, 400);
    QTest::newRow("far-left-top") << laptop << QRect(-3000, -3000, 700, 420) << QRect(0, 0, 700, 420);
    QTest::newRow("fits-as-stored") << laptop << QRect(50, 20, 700, 420) << QRect(50, 20, 700, 420);
    QTest::newRow("design-on-wide") << wide << QRect(207, 64, 894, 628) << QRect(1280, 64, 894, 628);
    QTest::newRow("taller-than-wide") << wide << QRect(1300, 0, 900, 5000) << QRect(1300, 24, 900, 776);
    QTest::newRow("screen-below-minimum") << QRect(0, 0, 600, 300) << QRect(10, 10, 800, 800)
                                          << QRect(0, 0, 640, 400);
  }
  void fitFrame() {
    QFETCH(QRect, screen);
    QFETCH(QRect, stored);
    QFETCH(QRect, expected);
    const QRect fitted = FitFrame(stored.x(), stored.y(), stored.width(), stored.height(), QSize(640, 400), screen);
    QCOMPARE(fitted, expected);
    if (screen.width() >= 640 && screen.height() >= 400) QVERIFY(screen.contains(fitted));
  }

  // What one run writes, the next reads: position, size and share, in a file
  // written as "Windows.ini" and found by any spelling of its name.
  void roundTrip() {
    {
      TWindow w;
      w.form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w.form));
      w.form.setGeometry(40, 30, 700, 500);
      w.splitter->setSizes({100, 393});
      TWindowLayout layout(&w.form, dir_->filePath("Windows.ini"));
      QVERIFY(layout.Save());
    }
    QVERIFY(QFile::rename(dir_->filePath("Windows.ini"), dir_->filePath("WINDOWS.INI")));
    TWindow w;
    TWindowLayout layout(&w.form, dir_->filePath("Windows.ini"));
    QCOMPARE(layout.FileName(), dir_->filePath("WINDOWS.INI"));
    layout.Load();
    QCOMPARE(w.Share(), 20);
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    QCOMPARE(w.form.geometry(), QRect(40, 30, 700, 500));
    QVERIFY(qAbs(w.Shown() - 20) < 1);

    TIniFile ini(layout.FileName());
    QVERIFY(ini.Load());
    QCOMPARE(ini.ReadSection("Form1"), QStringList({"xForm.Left", "xForm.Top", "xForm.Height", "xForm.Width",
                                                    "RzSplitter1.Percent"}));
    QVERIFY(layout.Save());
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList{"WINDOWS.INI"});
  }

  // Values that are not numbers count as missing: the design stays (fitted
  // into the screen), the window is centred, the splitter keeps its share.
  void notNumbers() {
    WriteBytes(dir_->filePath("windows.ini"),
               "[Form1]\r\nxForm.Left=x\r\nxForm.Width=wide\r\nxForm.Height=-5abc\r\nRzSplitter1.Percent=?\r\n");
    TWindow w;
    TWindowLayout layout(&w.form, dir_->filePath("Windows.ini"));
    layout.Load();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(w.form.size(), QSize(894, 628).boundedTo(screen.size()));
    QCOMPARE(w.Share(), 76);
  }

  // A squashed pane is neither taken from the file nor written back.
  void splitterNeverDegenerate() {
    for (const char* percent : {"0", "100", "-7", "250"}) {
      WriteBytes(dir_->filePath("Windows.ini"), QByteArray("[Form1]\r\nRzSplitter1.Percent=") + percent + "\r\n");
      TWindow w;
      TWindowLayout layout(&w.form, dir_->filePath("Windows.ini"));
      layout.Load();
      w.form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w.form));
      QVERIFY2(w.Shown() >= 14 && w.Shown() <= 91, percent);
      QVERIFY(layout.Save());
      TIniFile ini(layout.FileName());
      QVERIFY(ini.Load());
      const int saved = ini.ReadInteger("Form1", "RzSplitter1.Percent", -1);
      QVERIFY2(saved >= 15 && saved <= 90, percent);
    }
  }

  // The placement section decides over the layout section; a rectangle on no
  // screen is moved to 0, 0, keeping its size.
  void placement_data() {
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QRect>("expected");
    QTest::addColumn<bool>("maximized");
    QTest::newRow("normal") << QByteArray("Maximized=0\r\nLeft=10\r\nTop=20\r\nRight=710\r\nBottom=440\r\nSaved=1\r\n")
                            << QRect(10, 20, 700, 420) << false;
    QTest::newRow("off-screen") << QByteArray("Left=-5000\r\nTop=20\r\nRight=-4300\r\nBottom=440\r\n")
                                << QRect(0, 0, 700, 420) << false;
    QTest::newRow("maximized") << QByteArray("Maximized=1\r\nLeft=10\r\nTop=20\r\nRight=710\r\nBottom=440\r\n")
                               << QRect(10, 20, 700, 420) << true;
    QTest::newRow("no-section-keeps-layout") << QByteArray() << QRect(50, 60, 640, 480) << false;
  }
  void placement() {
    QFETCH(QByteArray, section);
    QFETCH(QRect, expected);
    QFETCH(bool, maximized);
    QByteArray file = "[Form1]\r\nxForm.Left=50\r\nxForm.Top=60\r\nxForm.Width=640\r\nxForm.Height=480\r\n";
    if (!section.isEmpty()) file += "[Form1FormState]\r\n" + section;
    WriteBytes(dir_->filePath("Windows.ini"), file);
    TWindow w;
    TWindowLayout layout(&w.form, dir_->filePath("Windows.ini"));
    layout.Load();
    layout.RestorePlacement();
    QCOMPARE(w.form.isMaximized(), maximized);
    // As requested; once shown, the platform may still keep a frame on screen.
    QCOMPARE(maximized ? w.form.normalGeometry() : w.form.geometry(), expected);
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    QCOMPARE(w.form.isMaximized(), maximized);
    const QRect shown = w.form.normalGeometry();

    QVERIFY(layout.SavePlacement());
    TIniFile ini(layout.FileName());
    QVERIFY(ini.Load());
    // A new section in the order written; existing keys keep their lines.
    QStringList keys = ini.ReadSection("Form1FormState");
    if (!section.isEmpty()) keys.sort();
    QStringList written{"Maximized", "Left", "Top", "Right", "Bottom", "Saved"};
    if (!section.isEmpty()) written.sort();
    QCOMPARE(keys, written);
    QCOMPARE(ini.ReadBool("Form1FormState", "Maximized", !maximized), maximized);
    QCOMPARE(ini.ReadInteger("Form1FormState", "Left", 0), shown.x());
    QCOMPARE(ini.ReadInteger("Form1FormState", "Right", 0), shown.x() + expected.width());
    QCOMPARE(ini.ReadInteger("Form1FormState", "Bottom", 0), shown.y() + expected.height());
    QVERIFY(ini.ReadBool("Form1FormState", "Saved", false));
  }

  // Whatever the file says, the window ends up inside the available screen,
  // no larger than it, and is shown without trouble.
  void hostileValuesStayOnScreen_data() {
    QTest::addColumn<QByteArray>("file");
    const QByteArray frame = "[Form1]\r\nxForm.Left=0\r\nxForm.Top=0\r\n";
    QTest::newRow("width-2e9") << frame + "xForm.Width=2000000000\r\nxForm.Height=2000000000\r\n";
    QTest::newRow("width-40000") << frame + "xForm.Width=40000\r\nxForm.Height=300\r\n";
    QTest::newRow("negative-size") << frame + "xForm.Width=-5\r\nxForm.Height=-2147483648\r\n";
    QTest::newRow("left-int-max") << QByteArray("[Form1]\r\nxForm.Left=2147483647\r\nxForm.Top=-2147483648\r\n");
    QTest::newRow("beyond-int") << frame + "xForm.Width=99999999999\r\n";
    QTest::newRow("placement-overflow")
        << QByteArray("[Form1FormState]\r\nLeft=-2147483648\r\nTop=-2147483648\r\nRight=2147483647\r\n"
                      "Bottom=2147483647\r\n");
    QTest::newRow("placement-huge")
        << QByteArray("[Form1FormState]\r\nLeft=10\r\nTop=10\r\nRight=2000000000\r\nBottom=40000\r\n");
    QTest::newRow("tiny-in-far-corner")
        << QByteArray("[Form1]\r\nxForm.Width=10\r\nxForm.Height=10\r\nxForm.Left=1200\r\nxForm.Top=780\r\n");
    QTest::newRow("not-numbers") << QByteArray("[Form1]\r\nxForm.Height=-5\r\nxForm.Width=abc\r\n");
    QTest::newRow("placement-right-edge")
        << QByteArray("[Form1FormState]\r\nLeft=790\r\nTop=5\r\nRight=1290\r\nBottom=405\r\n");
  }
  void hostileValuesStayOnScreen() {
    QFETCH(QByteArray, file);
    WriteBytes(dir_->filePath("Windows.ini"), file);
    TWindow w;
    TWindowLayout layout(&w.form, dir_->filePath("Windows.ini"));
    layout.Load();
    layout.RestorePlacement();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(w.form.width() >= 640 && w.form.height() >= 400);
    QVERIFY2(screen.contains(w.form.geometry()), qPrintable(QString("%1,%2 %3x%4")
                                                              .arg(w.form.x())
                                                              .arg(w.form.y())
                                                              .arg(w.form.width())
                                                              .arg(w.form.height())));
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    QVERIFY(!w.form.grab().isNull());
  }

  // The share stays when the window is resized, whoever set it.
  void shareHeldOnResize() {
    TWindow w;
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    QVERIFY(qAbs(w.Shown() - 76) < 1);
    w.form.resize(800, 400);
    QTRY_VERIFY(qAbs(w.Shown() - 76) < 1);
    w.splitter->setSizes({150, 243});  // as a drag of the bar would
    const double moved = w.Shown();
    w.form.resize(800, 700);
    QTRY_VERIFY(qAbs(w.Shown() - moved) < 1);
    TSplitterShare::Of(w.splitter)->SetPercent(50);
    QVERIFY(qAbs(w.Shown() - 50) < 1);
    QCOMPARE(w.Share(), 50);
  }

  // A file that cannot be written: the error names it, the old file stays.
  void unwritable() {
    const QString path = dir_->filePath("Windows.ini");
    QVERIFY(QDir().mkdir(path));
    TWindow w;
    TWindowLayout layout(&w.form, path);
    layout.Load();
    QString error;
    QVERIFY(!layout.Save(&error));
    QCOMPARE(error, "Unable to write to " + path);
    QVERIFY(!layout.SavePlacement(&error));
    QCOMPARE(error, "Unable to write to " + path);
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_MAIN(TestLayout)
#include "tst_Layout.moc"
