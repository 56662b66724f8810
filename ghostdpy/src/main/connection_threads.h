// Connection threads that wait a little for the next client.
//
// Every connection is served on a thread of its own. When its connection
// ends, a thread parks for a while (park_time) instead of ending, and the
// accept loop hands the next connection to a parked thread before it starts
// a new one. Why: on a busy machine a new thread waits for a free slice of a
// CPU before it first runs (milliseconds), on whichever CPU was least loaded
// when it was made, usually away from its client; a parked thread is woken
// like any sleeping server, next to the thread that woke it. A program that
// opens and closes a display (what every X11 program start does) would pay
// that on every connection; measured with bench/ghostdpy, XOpenDisplay +
// XCloseDisplay cycles ran several times slower with a new thread each.
//
// At most max_parked threads wait at a time; the others end with their
// connection, so a burst of clients leaves no crowd of threads behind, and a
// parked thread that gets no connection within park_time ends too.
#pragma once

#include <semaphore.h>

#include <chrono>
#include <cstddef>
#include <mutex>
#include <vector>

#include "unique_fd.h"

namespace launcher {

class ConnectionThreads {
 public:
  using Body = void (*)(x11::UniqueFd);

  ConnectionThreads(Body body, std::size_t max_parked, std::chrono::milliseconds park_time);
  ConnectionThreads(const ConnectionThreads&) = delete;
  ConnectionThreads& operator=(const ConnectionThreads&) = delete;
  /// REQUIRES: live() == 0 (the threads use this object until they end).
  ~ConnectionThreads() = default;

  /// Runs body(socket) on a parked thread, or on a new one. Returns 0, or
  /// the error number of a failed thread start; the socket is then closed.
  int serve(x11::UniqueFd socket);

  std::size_t parked() const;  ///< threads waiting for a connection
  std::size_t live() const;    ///< threads serving or waiting

 private:
  struct Slot {
    Slot() { ::sem_init(&wake, 0, 0); }
    ~Slot() { ::sem_destroy(&wake); }
    sem_t wake;   // posted when a connection has been handed over
    int fd = -1;  // the handed-over connection
  };

  void run(Slot* slot);
  bool park(Slot* slot);

  const Body body_;
  const std::size_t max_parked_;
  const std::chrono::milliseconds park_time_;
  mutable std::mutex lock_;
  std::vector<Slot*> parked_;  // most recently parked last: reused first
  std::size_t live_ = 0;
};

}  // namespace launcher
