#pragma once
// A pseudo-terminal pair for the simulators: the simulator serves the master side, the program
// under test opens the slave by its path like any serial port.

#include <cstddef>
#include <string>

namespace ostrel::sim {

class TPty
{
public:
  // Opens the pair; the master is raw and non-blocking. Throws std::system_error on failure.
  TPty();
  ~TPty();
  TPty(const TPty&) = delete;
  TPty& operator=(const TPty&) = delete;

  // -1 once the master has been closed.
  int MasterFd() const { return Master; }
  bool IsMasterOpen() const { return Master >= 0; }
  // The slave's device path (ttyname of the slave), e.g. "/dev/pts/3".
  const std::string& SlavePath() const { return Path; }

  // Points a symbolic link at the slave; an existing symbolic link at linkPath is replaced, any
  // other file there is left alone and reported. The link is removed again by RemoveLink or the
  // destructor.
  bool MakeLink(const std::string& linkPath, std::string& error);
  void RemoveLink();

  // Bytes written by the master that no opener of the slave has read yet (0 once closed).
  size_t SlaveInputPending() const;

  // Drops the line: the program's side then sees POLLHUP and EIO, and the slave path disappears.
  void CloseMaster();

private:
  int Master = -1;
  // We keep our own descriptor of the slave open for the whole life of the pair. Without it the
  // master reads EIO and polls POLLHUP whenever the program closes its side (for instance between
  // two connections), and unread replies would be thrown away; with it the master only ever sees
  // the program's bytes. It is opened O_NOCTTY and never read.
  int Slave = -1;
  std::string Path;
  std::string Link;
};

}  // namespace ostrel::sim
