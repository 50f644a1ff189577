#include "platform/sim/sim_ring0.h"

#include <algorithm>

namespace sfh56::sim {

void SimMachine::FaultAtRead(int64_t n) {
  std::lock_guard lock(mutex_);
  fault_countdown_ = n;
}

SimMachine::Stats SimMachine::GetStats() const {
  std::lock_guard lock(mutex_);
  return stats_;
}

void SimMachine::ResetStats() {
  std::lock_guard lock(mutex_);
  const bool on = stats_.interrupts_on;
  stats_ = {};
  stats_.interrupts_on = on;
  off_since_ns_ = clock_.NowNs();
}

uint8_t SimMachine::ReadPortByte(uint16_t port) {
  {
    std::lock_guard lock(mutex_);
    ++stats_.port_reads;
    if (stats_.interrupts_on) ++stats_.reads_with_interrupts_on;
    if (fault_countdown_ > 0 && --fault_countdown_ == 0) throw SimFault{};
  }
  return ports_.ReadRegister(port);
}

int64_t SimMachine::ReadTimeStampCounter() {
  {
    std::lock_guard lock(mutex_);
    ++stats_.counter_reads;
  }
  return counters_.ReadTimeStampCounter();
}

void SimMachine::SetInterrupts(bool on) {
  const int64_t now = clock_.NowNs();
  if (stats_.interrupts_on && !on) off_since_ns_ = now;
  if (!stats_.interrupts_on && on) {
    stats_.longest_interrupts_off_ns =
        std::max(stats_.longest_interrupts_off_ns, now - off_since_ns_);
  }
  stats_.interrupts_on = on;
}

void SimMachine::DisableInterrupts() {
  std::lock_guard lock(mutex_);
  ++stats_.disables;
  SetInterrupts(false);
}

void SimMachine::EnableInterrupts() {
  std::lock_guard lock(mutex_);
  ++stats_.enables;
  SetInterrupts(true);
}

uintptr_t SimMachine::SaveFlags() {
  std::lock_guard lock(mutex_);
  return stats_.interrupts_on ? platform::kInterruptFlag : 0;
}

void SimMachine::RestoreFlags(uintptr_t flags) {
  std::lock_guard lock(mutex_);
  ++stats_.flag_restores;
  SetInterrupts((flags & platform::kInterruptFlag) != 0);
}

void SimRing0::SetInterruptRoute(InterruptRoute route) {
  std::lock_guard lock(mutex_);
  route_ = route;
}

int SimRing0::Faults() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

int SimRing0::InterruptRuns() const {
  std::lock_guard lock(mutex_);
  return interrupt_runs_;
}

bool SimRing0::CallGuarded(GuardedCall call, void* context, int32_t& result) {
  try {
    result = call(context);
    return true;
  } catch (const SimFault&) {
    std::lock_guard lock(mutex_);
    ++faults_;
    return false;
  }
}

bool SimRing0::RunAsInterruptHandler(platform::Ring0Routine routine, void* argument,
                                     int32_t& result) {
  {
    std::lock_guard lock(mutex_);
    if (route_ != InterruptRoute::kRuns) {
      if (route_ == InterruptRoute::kFaults) ++faults_;
      return false;
    }
    ++interrupt_runs_;
  }
  struct Call {
    platform::Ring0Routine routine;
    void* argument;
  } call{routine, argument};
  return CallGuarded(
      [](void* context) {
        auto* c = static_cast<Call*>(context);
        return c->routine(c->argument);
      },
      &call, result);
}

}  // namespace sfh56::sim
