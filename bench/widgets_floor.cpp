// The least a Qt Widgets program does before its window is on the screen:
// QApplication, one main window with a menu bar and a label, shown. The
// start-up benchmark holds the window's time to map against this one.
//
//   bench_widgets_floor
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.menuBar()->addMenu(QStringLiteral("Файл"))->addAction(QStringLiteral("Выход"));
  window.setCentralWidget(new QLabel(QStringLiteral("floor"), &window));
  window.resize(894, 628);
  window.show();
  return QApplication::exec();
}
