#pragma once
// What the daemon's sources and run loop share for waiting: the monotonic clock and a
// stop request that wakes a thread blocked in poll().

#include <cstdint>

namespace sfh56::daemon {

// CLOCK_MONOTONIC in nanoseconds: the time base of the sources and the run loop.
int64_t MonotonicNs();

// An eventfd that becomes readable once Signal() is called from any thread; a source
// polls fd() beside its input. Throws std::runtime_error when no eventfd can be made.
class StopEvent {
 public:
  StopEvent();
  ~StopEvent();
  StopEvent(const StopEvent&) = delete;
  StopEvent& operator=(const StopEvent&) = delete;

  int fd() const { return fd_; }
  void Signal();
  // Forgets the stops made so far (a stop ends the run it came in, not the next one).
  void Clear();

 private:
  int fd_;
};

}  // namespace sfh56::daemon
