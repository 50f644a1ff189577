#pragma once
// The virtual clock of the simulated platform.
//
// Time on the simulated receiver thread is virtual: reading a counter, polling a port or
// sleeping advances this clock instead of taking real time, and a wait for a simulated
// device (a serial port's comm event) jumps straight to the moment the device signals.
// Host threads live in real time; they meet the receiver thread only through events.
//
// A test can hold the clock at an instant (PauseAt): the thread that would move time
// beyond it is stopped at exactly that instant until the test lets it go (Resume). That
// is how a test issues a host request at a chosen point of a capture, deterministically.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>

#include "platform/sync.h"

namespace sfh56::sim {

class SimClock {
 public:
  int64_t NowNs() const { return now_ns_.load(); }
  // Moves the clock forward; a time in the past is ignored. With a pause point armed, a
  // move beyond it stops at the pause point and blocks until Resume().
  void AdvanceTo(int64_t ns) {
    if (ns > pause_at_ns_.load()) {
      std::unique_lock lock(pause_mutex_);
      while (pause_at_ns_.load() < ns) {
        const int64_t hold_ns = pause_at_ns_.load();
        MoveTo(hold_ns);
        paused_ = true;
        pause_cv_.notify_all();
        pause_cv_.wait(lock, [&] { return pause_at_ns_.load() != hold_ns || !paused_; });
        paused_ = false;
        pause_cv_.notify_all();
      }
    }
    MoveTo(ns);
  }
  void Advance(int64_t ns) { AdvanceTo(NowNs() + ns); }

  // Arms a pause point: the next move of the clock beyond ns stops at ns.
  void PauseAt(int64_t ns) {
    std::lock_guard lock(pause_mutex_);
    pause_at_ns_.store(ns);
    pause_cv_.notify_all();
  }
  // Blocks (really) until a thread is held at the pause point.
  void WaitUntilPaused() {
    std::unique_lock lock(pause_mutex_);
    pause_cv_.wait(lock, [&] { return paused_; });
  }
  bool Paused() const {
    std::lock_guard lock(pause_mutex_);
    return paused_;
  }
  // Disarms the pause point and lets a held thread go on.
  void Resume() {
    std::lock_guard lock(pause_mutex_);
    pause_at_ns_.store(kNoPause);
    paused_ = false;
    pause_cv_.notify_all();
  }

 private:
  static constexpr int64_t kNoPause = std::numeric_limits<int64_t>::max();

  void MoveTo(int64_t ns) {
    int64_t now = now_ns_.load();
    while (ns > now && !now_ns_.compare_exchange_weak(now, ns)) {
    }
  }

  std::atomic<int64_t> now_ns_{0};
  std::atomic<int64_t> pause_at_ns_{kNoPause};
  mutable std::mutex pause_mutex_;
  std::condition_variable pause_cv_;
  bool paused_ = false;
};

// A simulated device object that becomes signalled at a virtual time, such as the
// pending comm-event wait of a simulated serial port. The simulated scheduler's WaitAny
// asks it when that happens.
class VirtualWaitable : public platform::Waitable {
 public:
  // The earliest virtual time (>= now_ns) at which the object is or becomes signalled,
  // or nothing when no signal is coming.
  virtual std::optional<int64_t> NextSignalNs(int64_t now_ns) = 0;
  // Called by a wait that reports this object (reset of an auto-reset object).
  virtual void OnWaitSatisfied() {}
};

}  // namespace sfh56::sim
