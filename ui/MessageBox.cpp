#include "ui/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

namespace MessageBox {

std::function<void(const QString&)> Hook;

void Show(const QString& text, QWidget* parent) {
  if (Hook) {
    Hook(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text, QMessageBox::Ok,
                  parent ? parent : QApplication::activeWindow());
  box.exec();
}

}  // namespace MessageBox
