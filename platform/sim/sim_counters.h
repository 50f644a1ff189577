#pragma once
// The performance counter and the time-stamp counter of the simulated platform, both
// derived from the virtual clock. Every read costs virtual time (ReadCostNs), so a loop
// that polls a counter moves forward in virtual time as it would on a real machine.

#include <atomic>
#include <cstdint>

#include "platform/counters.h"
#include "platform/sim/sim_clock.h"

namespace sfh56::sim {

class SimCounters : public platform::Counters {
 public:
  static constexpr int64_t kDefaultPerformanceHz = 10'000'000;
  static constexpr int64_t kDefaultTimeStampHz = 2'400'000'000;
  static constexpr int64_t kDefaultReadCostNs = 1'000;

  explicit SimCounters(SimClock& clock) : clock_(clock) {}

  void SetPerformanceFrequency(int64_t hz) { performance_hz_.store(hz); }
  void SetTimeStampFrequency(int64_t hz) { time_stamp_hz_.store(hz); }
  void SetHasTimeStampCounter(bool has) { has_tsc_.store(has); }
  // Virtual time that one counter read takes (advanced after the value is taken).
  void SetReadCostNs(int64_t ns) { read_cost_ns_.store(ns); }

  int64_t ReadPerformanceCounter() override;
  int64_t PerformanceFrequency() override { return performance_hz_.load(); }
  bool HasTimeStampCounter() override { return has_tsc_.load(); }
  // Without a time-stamp counter the read returns 0 (the instruction would fault on such
  // a processor; the receiver never issues it then).
  int64_t ReadTimeStampCounter() override;

 private:
  int64_t Read(int64_t hz);

  SimClock& clock_;
  std::atomic<int64_t> performance_hz_{kDefaultPerformanceHz};
  std::atomic<int64_t> time_stamp_hz_{kDefaultTimeStampHz};
  std::atomic<int64_t> read_cost_ns_{kDefaultReadCostNs};
  std::atomic<bool> has_tsc_{true};
};

}  // namespace sfh56::sim
