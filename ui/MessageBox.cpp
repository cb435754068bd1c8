#include "ui/MessageBox.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QPushButton>
#include <QUrl>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>

#include "persist/WireText.h"

namespace MessageBox {

std::function<void(const QString&)> Hook;
std::function<void(TKind, const QString&)> KindHook;
std::function<bool(const QString&)> AskHook;
std::function<int(const QString&, const QStringList&)> ChooseHook;
std::function<bool(const QString&)> OpenFolderHook;
std::function<void(QMessageBox&)> FolderBoxHook;

namespace {

bool noMore = false;
std::function<void(const QString&)> noMoreLog;

QMessageBox::Icon IconOf(TKind kind) {
  switch (kind) {
    case TKind::Plain:
      return QMessageBox::NoIcon;
    case TKind::Warning:
      return QMessageBox::Warning;
    case TKind::Error:
      return QMessageBox::Critical;
    case TKind::Question:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

// No one is there to answer a box: the text goes to standard error and the log.
bool SaidWithoutBox(const QString& text) {
  if (!noMore) return false;
  for (const QString& line : text.split(u'\n')) {
    const QByteArray bytes = ("ostrelgsm4: " + EscapeControls(line) + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
  }
  std::fflush(stderr);
  if (noMoreLog) noMoreLog(text);
  return true;
}

// A box a test collects: true when no modal box is to be shown.
bool Collected(TKind kind, const QString& text) {
  if (KindHook) KindHook(kind, text);
  if (Hook) Hook(text);
  return KindHook || Hook;
}

}  // namespace

void ShowNoMore(std::function<void(const QString&)> log) {
  noMore = true;
  noMoreLog = std::move(log);
}

void Show(const QString& text, QWidget* parent, TKind kind) {
  if (SaidWithoutBox(text) || Collected(kind, text)) return;
  QMessageBox box(IconOf(kind), QApplication::applicationDisplayName(), text, QMessageBox::Ok,
                  parent ? parent : QApplication::activeWindow());
  box.exec();
}

bool OpenFolder(const QString& folder) {
  if (OpenFolderHook) return OpenFolderHook(folder);
  return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void ShowWithFolder(const QString& text, const QString& folder, QWidget* parent) {
  if (SaidWithoutBox(text)) return;
  if (!FolderBoxHook && Collected(TKind::Plain, text)) return;
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text, QMessageBox::Ok,
                  parent ? parent : QApplication::activeWindow());
  // The button opens the folder and leaves the box up, so the path can still be read.
  auto* open = new QPushButton(QString::fromUtf8("Открыть папку"), &box);
  open->setObjectName(QStringLiteral("btnOpenFolder"));
  box.addButton(open, QMessageBox::ActionRole);
  QObject::disconnect(open, &QAbstractButton::clicked, nullptr, nullptr);
  QObject::connect(open, &QPushButton::clicked, &box, [folder] { OpenFolder(folder); });
  box.setDefaultButton(QMessageBox::Ok);
  if (FolderBoxHook) return FolderBoxHook(box);
  box.exec();
}

bool Ask(const QString& question, QWidget* parent) {
  // Unanswered, a question takes its default, "Нет".
  if (SaidWithoutBox(question)) return false;
  if (AskHook) {
    if (KindHook) KindHook(TKind::Question, question);
    return AskHook(question);
  }
  if (Collected(TKind::Question, question)) return false;
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), question,
                  QMessageBox::Yes | QMessageBox::No, parent ? parent : QApplication::activeWindow());
  box.button(QMessageBox::Yes)->setText(QString::fromUtf8("Да"));
  box.button(QMessageBox::No)->setText(QString::fromUtf8("Нет"));
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

int Choose(const QString& question, const QStringList& buttons, int cancel, QWidget* parent) {
  // No one is there to answer: the caller goes on, nothing said.
  if (noMore) return -1;
  if (ChooseHook) {
    if (KindHook) KindHook(TKind::Question, question);
    return ChooseHook(question, buttons);
  }
  // Collected boxes and no one to answer this one: not asked at all.
  if (Hook || KindHook) return -1;
  QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), question, QMessageBox::NoButton,
                  parent ? parent : QApplication::activeWindow());
  QList<QAbstractButton*> made;
  for (int i = 0; i < buttons.size(); ++i)
    made << box.addButton(buttons[i], i == cancel ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
  if (cancel >= 0 && cancel < made.size()) {
    box.setEscapeButton(made[cancel]);
    box.setDefaultButton(qobject_cast<QPushButton*>(made[cancel]));
  }
  box.exec();
  const int chosen = int(made.indexOf(box.clickedButton()));
  return chosen < 0 ? cancel : chosen;
}

}  // namespace MessageBox
