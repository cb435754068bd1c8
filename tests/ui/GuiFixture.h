// Drives the real main window offscreen: the port dialog and the progress
// dialog are answered from timers while their modal loops run.
#pragma once

#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "persist/ProgramDir.h"

#include "ui/ConnectDlg.h"
#include "ui/MainForm.h"
#include "ui/MessageBox.h"
#include "ui/NavBar.h"
#include "ui/Panel.h"
#include "ui/SplashDlg.h"
#include "ui/StatusPane.h"

namespace gui {

// What every window test needs around it: message boxes collected instead of
// shown, and the window's files ("current.ini", "Windows.ini", "log.txt") in
// a directory of the test's own, never beside the test binary.
class TSandbox {
 public:
  void Enter() {
    messages.clear();
    MessageBox::Hook = [this](const QString& text) { messages << text; };
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    SetProgramDirOverride(dir_->path());
  }
  void Leave() {
    MessageBox::Hook = nullptr;
    SetProgramDirOverride(QString());
    dir_.reset();
  }
  QStringList messages;

 private:
  std::unique_ptr<QTemporaryDir> dir_;
};

inline QString Panel2Text(TForm1& form) { return form.SplashDialog()->Panel2()->Caption(); }

inline TRzGroupItem* NavItem(TForm1& form, const char* caption) {
  return form.findChild<TRzGroupItem*>(QString::fromUtf8(caption));
}

// Runs Connect with the port typed into the port dialog. While the progress
// dialog is up, cancelWhen is asked every 10 ms; true cancels it. A dialog
// still up after limitMs is cancelled too (and the test fails).
inline void Connect(TForm1& form, const QString& port, std::function<bool()> cancelWhen = nullptr,
                    int limitMs = 20000) {
  QTimer::singleShot(0, &form, [&form, port] {
    form.ConnectDialog()->ComPorts()->setEditText(port);
    form.ConnectDialog()->accept();
  });
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer watch;
  watch.setInterval(10);
  QObject::connect(&watch, &QTimer::timeout, &form, [&] {
    TdlgSplash* splash = form.SplashDialog();
    if (!splash->isVisible()) return;
    if ((cancelWhen && cancelWhen()) || elapsed.elapsed() > limitMs) splash->reject();
  });
  watch.start();
  form.Connect();
  watch.stop();
  QVERIFY2(elapsed.elapsed() <= limitMs, "the progress dialog did not finish in time");
}

inline QStringList MemoLines(TForm1& form) { return form.Memo()->toPlainText().split('\n'); }

}  // namespace gui
