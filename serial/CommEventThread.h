// Event watcher of an open serial device.
//
// Threads: TCustomComm::Open creates it and TCustomComm::Close (or the
// component's destructor) stops and destroys it, both on the owner's thread.
// Run is the body of its own std::thread: it waits with epoll on the device
// and on a stop eventfd and hands each line event to DoEvent, which runs on the
// GUI thread through TGuiSync when the component's Synchronize is true, else
// on the watcher thread. The device descriptor belongs to the component, which
// closes it only after the watcher has been joined.
#pragma once

#include <cstdint>
#include <thread>

#include "serial/XComDrv.h"

class TCommEventThread {
 public:
  // Sets up the wait (the device is watched from here on) and starts the
  // thread; throws std::system_error when that is impossible.
  TCommEventThread(TCustomComm* comm, int deviceFd);
  ~TCommEventThread();
  TCommEventThread(const TCommEventThread&) = delete;
  TCommEventThread& operator=(const TCommEventThread&) = delete;

  // Owner's thread: signals the stop event and waits for the thread to end.
  // On the GUI thread it serves TGuiSync calls meanwhile, so that a watcher
  // waiting for the GUI thread to run a notification can finish.
  void Stop();

 private:
  void Run();
  void DoEvent();
  void CloseDescriptors();

  TCustomComm* comm_;
  int epollFd_ = -1;
  int stopFd_ = -1;  // the stop event: readable once signalled
  int doneFd_ = -1;  // readable once Run has finished
  // Last event mask received; written by the watcher only. When DoEvent runs
  // on the GUI thread, TGuiSync's hand-off orders the write before the read.
  uint32_t lastMask_ = 0;
  std::thread thread_;
};
