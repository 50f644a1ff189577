#pragma once
// The virtual clock of the simulated platform.
//
// Time on the simulated receiver thread is virtual: reading a counter, polling a port or
// sleeping advances this clock instead of taking real time, and a wait for a simulated
// device (a serial port's comm event) jumps straight to the moment the device signals.
// Host threads live in real time; they meet the receiver thread only through events.

#include <atomic>
#include <cstdint>
#include <optional>

#include "platform/sync.h"

namespace sfh56::sim {

class SimClock {
 public:
  int64_t NowNs() const { return now_ns_.load(); }
  // Moves the clock forward; a time in the past is ignored.
  void AdvanceTo(int64_t ns) {
    int64_t now = now_ns_.load();
    while (ns > now && !now_ns_.compare_exchange_weak(now, ns)) {
    }
  }
  void Advance(int64_t ns) { AdvanceTo(NowNs() + ns); }

 private:
  std::atomic<int64_t> now_ns_{0};
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
