// How many commands Read all and Write all send to the panel when every
// exchange goes through: the common settings ("+v" on reading, "+rt"/"+rq"
// or "+wt"/"+wq" for the twelve entries, "+rp" or "+wp="), the ten keys and
// the GSM page's two. The link logs each command once ("-> "), whatever its
// attempts, so a watcher of the traffic can show how far an operation got.
#pragma once

namespace OperationSize {

constexpr int CommonEntries = 12;
constexpr int KeyRows = 10;
constexpr int GsmCommands = 2;

constexpr int ReadAllCommands = 1 + 2 * CommonEntries + 1 + KeyRows + GsmCommands;
constexpr int WriteAllCommands = 2 * CommonEntries + 1 + KeyRows + GsmCommands;

}  // namespace OperationSize
