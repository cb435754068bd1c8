#include "ui/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

#include "persist/WireText.h"

namespace MessageBox {

std::function<void(const QString&)> Hook;

namespace {

bool noMore = false;
std::function<void(const QString&)> noMoreLog;

}  // namespace

void ShowNoMore(std::function<void(const QString&)> log) {
  noMore = true;
  noMoreLog = std::move(log);
}

void Show(const QString& text, QWidget* parent) {
  if (noMore) {
    for (const QString& line : text.split(u'\n')) {
      const QByteArray bytes = ("ostrelgsm4: " + EscapeControls(line) + u'\n').toUtf8();
      std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    }
    std::fflush(stderr);
    if (noMoreLog) noMoreLog(text);
    return;
  }
  if (Hook) {
    Hook(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text, QMessageBox::Ok,
                  parent ? parent : QApplication::activeWindow());
  box.exec();
}

}  // namespace MessageBox
