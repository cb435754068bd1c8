// Whether the panel simulator took only whole commands: every byte it read
// belongs to a command ended by its carriage return, so nothing the program
// sent was cut in half.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "tools/SimServer.h"

inline void ExpectWholeCommands(const ostrel::sim::TSimServer& sim) {
  for (int pass = 0;; ++pass) {
    const std::vector<std::string> commands = sim.Commands();
    const uint64_t whole = std::accumulate(commands.begin(), commands.end(), uint64_t{0},
                                           [](uint64_t n, const std::string& c) { return n + c.size() + 1; });
    const uint64_t taken = sim.BytesTaken();
    if (taken == whole) return;
    // The rest of a command may still be on its way through the line: it
    // comes as one more command, or never.
    if (pass == 0 && sim.WaitForCommands(commands.size() + 1, 5000)) continue;
    std::string last;
    for (size_t i = commands.size() > 4 ? commands.size() - 4 : 0; i < commands.size(); ++i) last += commands[i] + " ";
    ADD_FAILURE() << "a command was cut: " << taken << " bytes taken, " << whole
                  << " in whole commands; the last ones: " << last;
    return;
  }
}
