#include "persist/WindowShutdown.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

std::function<void(int)> CloseWindowOnSignal(QWidget* window) {
  return [target = QPointer<QWidget>(window)](int) {
    // A modal dialog (a message box, the port dialog, the progress dialog)
    // would keep its own loop running: close those first, newest first.
    for (int guard = 0; guard < 16; ++guard) {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || modal == target) break;
      modal->close();
      if (modal->isVisible()) break;
    }
    if (target) target->close();
  };
}
