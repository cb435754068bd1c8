// Runs the real ostrelgsm4 binary for the command-line tests.
#pragma once

#include <unistd.h>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <string>
#include <vector>

#include "tools/PanelSim.h"

// What a run of the binary gave: its exit status (-1 when it crashed or hung)
// and its two output streams.
struct TRun {
  int status = -1;
  QString out;
  QString err;
};

// With closedOutput the reader of standard output is gone from the start,
// as when the program's output is piped into "head -1" and head has ended.
inline TRun Run(const QStringList& args, int timeoutMs = 60000, bool closedOutput = false) {
  QProcess process;
  // Standard output becomes a pipe whose reading end is already closed.
  if (closedOutput)
    process.setChildProcessModifier([] {
      int fds[2];
      if (::pipe(fds) != 0) return;
      ::dup2(fds[1], STDOUT_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
    });
  process.start(OSTRELGSM4_BINARY, args);
  TRun run;
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished();
    run.err = "timed out";
    return run;
  }
  run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

inline QString Path(const ostrel::sim::TPanelSim& sim) { return QString::fromStdString(sim.SlavePath()); }

inline bool Contains(const std::vector<std::string>& commands, const std::string& command) {
  return std::find(commands.begin(), commands.end(), command) != commands.end();
}

