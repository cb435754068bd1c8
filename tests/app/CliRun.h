// Runs the real ostrelgsm4 binary for the command-line tests.
#pragma once

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

inline TRun Run(const QStringList& args, int timeoutMs = 60000) {
  QProcess process;
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

