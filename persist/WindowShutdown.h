// The window's answer to SIGTERM, SIGINT and SIGHUP (TShutdownSignals): close
// any modal dialog, newest first, then the window, as the user would.
#pragma once

#include <functional>

class QWidget;

std::function<void(int)> CloseWindowOnSignal(QWidget* window);
