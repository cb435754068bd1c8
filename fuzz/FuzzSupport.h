// What the fuzz targets share: an offscreen application for the widgets, a
// scratch file for inputs that the program reads from a file, and a check
// that stops the run when a property does not hold.
#pragma once

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// Reports a property that does not hold; libFuzzer saves the input.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

// Created once, lives for the whole run.
inline void StartApplication() {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Qt's warnings about hostile sizes would drown libFuzzer's own output.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg) {
      std::fprintf(stderr, "%s\n", qPrintable(text));
      std::abort();
    }
  });
  static int argc = 1;
  static char name[] = "fuzz";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

// What the widgets posted for one input is delivered before the next, as the
// event loop of the program would; left alone, it would pile up.
inline void ServeEvents() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

// The input as the content of one file, rewritten for every input.
inline QString InputFile(const char* name, const uint8_t* data, size_t size) {
  static QTemporaryDir dir;
  const QString path = dir.filePath(QString::fromLatin1(name));
  QFile file(path);
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  return path;
}

}  // namespace fuzz
