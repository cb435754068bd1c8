// The layout reader: whatever "Windows.ini" holds, the window is placed inside
// the available screen and no larger than it, and it can be drawn.
#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>
#include <QVBoxLayout>

#include "fuzz/FuzzSupport.h"
#include "persist/Layout.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::StartApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString path = fuzz::InputFile("Windows.ini", data, size);
  QWidget form;
  form.setObjectName("Form1");
  form.setGeometry(100, 50, 600, 400);
  auto* layout = new QVBoxLayout(&form);
  auto* splitter = new QSplitter(Qt::Vertical, &form);
  splitter->setObjectName("RzSplitter1");
  splitter->addWidget(new QWidget);
  splitter->addWidget(new QWidget);
  layout->addWidget(splitter);
  new TSplitterShare(splitter, 76);

  TWindowLayout windowLayout(&form, path);
  windowLayout.Load();
  windowLayout.RestorePlacement();
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  fuzz::Require(screen.contains(form.geometry()), "the window is inside the available screen");
  const int percent = TSplitterShare::Of(splitter)->Percent();
  fuzz::Require(percent >= 0 && percent <= 100, "the splitter share is a percentage");
  // Drawing allocates in proportion to the size.
  fuzz::Require(!form.grab().isNull(), "the window can be drawn");
  fuzz::ServeEvents();
  return 0;
}
