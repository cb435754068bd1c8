// Must be reported: a thread other than the GUI thread sets an edit's text, as
// a link thread would if it touched a control itself, while the GUI thread
// reads that text.
#include <QApplication>
#include <QLineEdit>
#include <QThread>
#include <atomic>
#include <thread>

namespace {

std::atomic<bool> set{false};

void SetTextOnTheLinkThread(QLineEdit& edit) {
  edit.setText(QString::number(79161234567).repeated(2));
  // Relaxed: it orders nothing, just as a widget hands nothing over.
  set.store(true, std::memory_order_relaxed);
}

int DigitsShownOnTheGuiThread(const QLineEdit& edit) {
  while (!set.load(std::memory_order_relaxed)) QThread::yieldCurrentThread();
  const QString text = edit.text();
  int digits = 0;
  for (const QChar c : text) digits += c.isDigit();
  return digits;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QLineEdit edit;
  edit.setText(QStringLiteral("89161234567"));
  std::thread link([&] { SetTextOnTheLinkThread(edit); });
  const int digits = DigitsShownOnTheGuiThread(edit);
  link.join();
  return digits == 22 ? 0 : 1;
}
