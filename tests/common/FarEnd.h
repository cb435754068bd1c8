// Lets a virtual clock stand still while the far end of a link (a simulator
// or scripted peer on the pseudo-terminal, running in real time) still owes
// the link something, so that a slow or loaded machine cannot turn a late
// answer into a time-out.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

#include "link/Clock.h"
#include "link/xModem.h"

// farEnd: anything with BytesTaken(), BytesGiven() and OutputQueued(). Call it
// once the link's port is open, or before the link opens it: the counts
// start from here.
template <class TFarEnd>
void StandStillWhileOwed(TVirtualClock& clock, TModem& link, const TFarEnd& farEnd) {
  const uint64_t taken = farEnd.BytesTaken();
  const uint64_t given = farEnd.BytesGiven();
  clock.SetFarEndOwes([&link, &farEnd, taken, given] {
    TXComm& port = link.Port();
    try {
      if (!port.IsOpen()) return false;
      // A command not taken in yet (it is answered by the time it counts).
      if (farEnd.BytesTaken() - taken < port.SentCount()) return true;
      // An answer not written yet.
      if (farEnd.OutputQueued()) return true;
      // An answer on its way through the line.
      return farEnd.BytesGiven() - given > uint64_t{port.ReceivedCount()} + port.QueueCount(0);
    } catch (const std::exception&) {
      return false;  // the line is gone: nothing more will come
    }
  });
}
