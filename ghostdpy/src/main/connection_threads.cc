#include "connection_threads.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

#include "threads.h"

namespace launcher {

ConnectionThreads::ConnectionThreads(Body body, std::size_t max_parked, std::chrono::milliseconds park_time)
    : body_(body), max_parked_(max_parked), park_time_(park_time) {}

int ConnectionThreads::serve(x11::UniqueFd socket) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!parked_.empty()) {
      Slot* slot = parked_.back();
      parked_.pop_back();
      slot->fd = socket.release();
      ::sem_post(&slot->wake);
      return 0;
    }
    ++live_;
  }
  auto slot = std::make_unique<Slot>();
  slot->fd = socket.release();
  Slot* raw = slot.get();
  const int err = spawn_thread([this, raw] { run(raw); }, nullptr);
  if (err != 0) {
    x11::UniqueFd(slot->fd).reset();
    std::lock_guard<std::mutex> guard(lock_);
    --live_;
    return err;
  }
  slot.release();  // the new thread owns it now
  return 0;
}

void ConnectionThreads::run(Slot* slot) {
  const std::unique_ptr<Slot> owned(slot);
  do {
    int fd;
    {
      // Handed over under the lock: the lock, not the semaphore, orders it.
      std::lock_guard<std::mutex> guard(lock_);
      fd = std::exchange(slot->fd, -1);
    }
    body_(x11::UniqueFd(fd));
  } while (park(slot));
  std::lock_guard<std::mutex> guard(lock_);
  --live_;
}

// Waits for the next connection; false when the thread is to end instead.
bool ConnectionThreads::park(Slot* slot) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (parked_.size() >= max_parked_) return false;
    parked_.push_back(slot);
  }
  timespec deadline{};
  ::clock_gettime(CLOCK_MONOTONIC, &deadline);
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(park_time_).count();
  deadline.tv_sec += static_cast<time_t>(ns / 1000000000);
  deadline.tv_nsec += static_cast<long>(ns % 1000000000);
  if (deadline.tv_nsec >= 1000000000) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000;
  }
  for (;;) {
    if (::sem_clockwait(&slot->wake, CLOCK_MONOTONIC, &deadline) == 0) return true;
    if (errno == EINTR) continue;
    // Time is up: leave, unless a connection was handed over meanwhile.
    {
      std::lock_guard<std::mutex> guard(lock_);
      const auto it = std::find(parked_.begin(), parked_.end(), slot);
      if (it != parked_.end()) {
        parked_.erase(it);
        return false;
      }
    }
    while (::sem_wait(&slot->wake) != 0) {
    }
    return true;
  }
}

std::size_t ConnectionThreads::parked() const {
  std::lock_guard<std::mutex> guard(lock_);
  return parked_.size();
}

std::size_t ConnectionThreads::live() const {
  std::lock_guard<std::mutex> guard(lock_);
  return live_;
}

}  // namespace launcher
