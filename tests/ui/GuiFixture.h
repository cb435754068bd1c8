// Drives the real main window offscreen: the port dialog and the progress
// dialog are answered from timers while their modal loops run.
#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTreeWidget>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "model/Fields.h"
#include "persist/ProgramDir.h"

#include "ui/ConnectDlg.h"
#include "ui/KeyDialog.h"  // f_keys.h holds a QPointer to the dialog
#include "ui/MainForm.h"
#include "ui/MessageBox.h"
#include "ui/NavBar.h"
#include "ui/Panel.h"
#include "ui/SplashDlg.h"
#include "ui/SettingsModel.h"
#include "ui/StatusPane.h"
#include "ui/Trislider.h"
#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/f_keys.h"

namespace gui {

// What every window test needs around it: message boxes collected instead of
// shown, and the window's files ("current.ini", "Windows.ini", "log.txt") in
// a directory of the test's own, never beside the test binary.
class TSandbox {
 public:
  void Enter() {
    // Qt's pooled threads (the offscreen backing store converts images on
    // them) stay until the end: one that expires in a long test leaves its
    // name to be freed at exit, after a join the thread checker cannot see.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
    messages.clear();
    kinds.clear();
    MessageBox::Hook = [this](const QString& text) { messages << text; };
    MessageBox::KindHook = [this](MessageBox::TKind kind, const QString&) { kinds << kind; };
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    SetProgramDirOverride(dir_->path());
  }
  void Leave() {
    MessageBox::Hook = nullptr;
    MessageBox::KindHook = nullptr;
    SetProgramDirOverride(QString());
    dir_.reset();
  }
  QStringList messages;
  QList<MessageBox::TKind> kinds;  // of the same boxes

 private:
  std::unique_ptr<QTemporaryDir> dir_;
};

inline QString Panel2Text(TForm1& form) { return form.SplashDialog()->Panel2()->Caption(); }

inline TRzGroupItem* NavItem(TForm1& form, const char* caption) {
  return form.findChild<TRzGroupItem*>(QString::fromUtf8(caption));
}

// Runs Connect, with fill setting the connection dialog's choices before its
// OK. While the progress dialog is up, cancelWhen is asked every 10 ms; true
// cancels it. A dialog still up after limitMs is cancelled too (and the test
// fails).
inline void ConnectWith(TForm1& form, std::function<void(TdlgConnect&)> fill, std::function<bool()> cancelWhen = nullptr,
                        int limitMs = 20000) {
  QTimer::singleShot(0, &form, [&form, fill] {
    fill(*form.ConnectDialog());
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

// Connect with the port typed into the port dialog.
inline void Connect(TForm1& form, const QString& port, std::function<bool()> cancelWhen = nullptr,
                    int limitMs = 20000) {
  ConnectWith(form, [port](TdlgConnect& dialog) { dialog.ComPorts()->setEditText(port); }, std::move(cancelWhen),
              limitMs);
}

inline QStringList MemoLines(TForm1& form) { return form.Memo()->toPlainText().split('\n'); }

// A field's value as the window's pages show it, in the field's file form,
// read from the controls themselves.
inline std::string Shown(TForm1& form, const TField& f) {
  const auto find = [&](QWidget* page) { return page->findChild<QWidget*>(QString::fromStdString(f.Control)); };
  switch (f.Rule) {
    case TRule::Phone:
      return qobject_cast<QLineEdit*>(find(form.CommonPage()))->text().toStdString();
    case TRule::Flag:
      return qobject_cast<QAbstractButton*>(find(form.CommonPage()))->isChecked() ? "1" : "0";
    case TRule::ModuleFlag:
      return qobject_cast<QAbstractButton*>(find(form.GSMPage()))->isChecked() ? "1" : "0";
    case TRule::Delay:
      return std::to_string(qobject_cast<QSpinBox*>(find(form.CommonPage()))->value());
    case TRule::Key: {
      const QTreeWidgetItem* row = form.KeysPage()->List()->topLevelItem(f.Index);
      return row ? row->text(1).toStdString() : "(no row)";
    }
    case TRule::Threshold:
      return std::to_string(form.ACPPage()->Slider(f.Channel + 1)->GetPosition(f.Index));
    case TRule::Ring:
      return std::to_string(qobject_cast<QComboBox*>(find(form.GSMPage()))->currentIndex());
  }
  return {};
}

// Every field that a page shows otherwise than the window's settings model
// holds it, as "[section] key: shown / held"; empty when the pages agree.
inline QStringList PagesAgainstModel(TForm1& form) {
  QStringList wrong;
  for (const TField& f : Fields()) {
    const std::string shown = Shown(form, f);
    const std::string held = FieldText(form.Model()->Settings(), f);
    if (shown != held)
      wrong << QString::fromStdString("[" + f.Section + "] " + f.Key + ": " + shown + " / " + held);
  }
  return wrong;
}

}  // namespace gui
