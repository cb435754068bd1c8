#include "ui/GuiThread.h"

#include <QCoreApplication>
#include <QThread>
#include <string>

EWrongThread::EWrongThread(const char* where)
    : std::logic_error(std::string("widget touched outside the GUI thread: ") + where) {}

void RequireGuiThread(const char* where) {
  const QCoreApplication* app = QCoreApplication::instance();
  if (!app || app->thread() == QThread::currentThread()) return;
  throw EWrongThread(where);
}
