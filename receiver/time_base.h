#pragma once
// The receiver's time base: which counter timestamps the edges (the performance counter,
// or the processor's time-stamp counter when the former is too slow to read or ring-0
// capture needs the latter), its frequency, and the tick thresholds derived from it.

#include <array>
#include <cstdint>

#include "platform/counters.h"
#include "platform/sync.h"

namespace sfh56 {

inline constexpr int kCounterSpeedSamples = 100;
inline constexpr int kCounterSpeedTrimmed = 10;  // samples dropped at each end
inline constexpr double kCounterTooSlowSeconds = 0.00002;
inline constexpr uint32_t kCalibrationSleepMs = 50;  // slept twice
inline constexpr double kTrainStartWindowSeconds = 0.03;
inline constexpr double kEdgeGapSeconds = 0.0128;

// The thresholds that follow from a time base frequency.
struct TimeBaseThresholds {
  double TicksPerSecond = 0.0;
  int64_t SequenceGapTicks = 0;       // half a second, f div 2
  int64_t TrainStartWindowTicks = 0;  // 30 ms, rounded half to even
  int64_t EdgeGapTicks = 0;           // 12.8 ms, rounded half to even
};

// Rounds to the nearest integer, halves to even (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
int64_t RoundHalfEven(double value);

TimeBaseThresholds ThresholdsFor(int64_t ticks_per_second);

// The counter-speed verdict from 100 differences of back-to-back performance-counter
// reads: the mean of the middle 80 (sorted ascending, signed) exceeds 20 us, strictly.
bool CounterSamplesTooSlow(std::array<int64_t, kCounterSpeedSamples> samples,
                           int64_t performance_frequency);

// The time-stamp counter's rate from two simultaneous readings of both counters: the
// whole ratio of the two differences times the performance-counter frequency. When the
// performance counter did not advance (p1 <= p0) the ratio is undefined; the rate is
// then estimated from the time-stamp counter over the nominal calibration sleep, and
// when that is not positive either, the performance-counter frequency is returned, so
// the time base is never zero or negative.
int64_t TickRateFromReadings(int64_t p0, int64_t t0, int64_t p1, int64_t t1,
                             int64_t performance_frequency);

// The time base state of one receiver object. The operations take the setting
// AllowRing0 as it is at the moment of the call, since it decides the counter.
class TimeBase {
 public:
  TimeBase(platform::Counters& counters, platform::Scheduler& scheduler)
      : counters_(counters), scheduler_(scheduler) {}

  bool HasTimeStampCounter();
  // Tests the performance counter and fixes CounterTooSlow (false without a TSC).
  bool TestCounterSpeed();
  int64_t ReadTimestamp(bool allow_ring0);
  int64_t MeasureTickRate(bool allow_ring0);
  // Sets the frequency and the thresholds, and their copies for the ring-0 routine.
  void SetTimeBase(int64_t ticks_per_second);
  void Calibrate(bool allow_ring0) { SetTimeBase(MeasureTickRate(allow_ring0)); }
  TimeBaseThresholds Thresholds() const {
    return {TicksPerSecond, SequenceGapTicks, TrainStartWindowTicks, EdgeGapTicks};
  }

  bool TscAvailable = false;
  bool CounterTooSlow = false;
  double TicksPerSecond = 0.0;
  int64_t SequenceGapTicks = 0;
  int64_t TrainStartWindowTicks = 0;
  int64_t EdgeGapTicks = 0;

 private:
  bool UsesTimeStampCounter(bool allow_ring0) const { return CounterTooSlow || allow_ring0; }

  platform::Counters& counters_;
  platform::Scheduler& scheduler_;
};

}  // namespace sfh56
