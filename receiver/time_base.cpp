#include "receiver/time_base.h"

#include <algorithm>
#include <cmath>

#include "receiver/ring0_capture.h"

namespace sfh56 {

int64_t RoundHalfEven(double value) {
  // nearbyint rounds in the current rounding mode, which is to nearest-even unless
  // someone changed it; do it explicitly instead.
  const double floor_value = std::floor(value);
  const double fraction = value - floor_value;
  int64_t result = static_cast<int64_t>(floor_value);
  if (fraction > 0.5 || (fraction == 0.5 && (result % 2 != 0))) ++result;
  return result;
}

TimeBaseThresholds ThresholdsFor(int64_t ticks_per_second) {
  TimeBaseThresholds t;
  t.TicksPerSecond = static_cast<double>(ticks_per_second);
  t.SequenceGapTicks = SequenceGapTicksFor(ticks_per_second);
  t.TrainStartWindowTicks = RoundHalfEven(kTrainStartWindowSeconds * t.TicksPerSecond);
  t.EdgeGapTicks = RoundHalfEven(kEdgeGapSeconds * t.TicksPerSecond);
  return t;
}

bool CounterSamplesTooSlow(std::array<int64_t, kCounterSpeedSamples> samples,
                           int64_t performance_frequency) {
  if (performance_frequency <= 0) return true;  // no usable performance counter at all
  std::sort(samples.begin(), samples.end());
  int64_t sum = 0;
  for (int i = kCounterSpeedTrimmed; i < kCounterSpeedSamples - kCounterSpeedTrimmed; ++i) {
    sum += samples[i];
  }
  const double kept = kCounterSpeedSamples - 2 * kCounterSpeedTrimmed;
  const double mean_seconds =
      static_cast<double>(sum) / kept / static_cast<double>(performance_frequency);
  return mean_seconds > kCounterTooSlowSeconds;
}

int64_t TickRateFromReadings(int64_t p0, int64_t t0, int64_t p1, int64_t t1,
                             int64_t performance_frequency) {
  if (p1 > p0) return (t1 - t0) / (p1 - p0) * performance_frequency;
  const int64_t estimate = (t1 - t0) * 1000 / (2 * kCalibrationSleepMs);
  return estimate > 0 ? estimate : performance_frequency;
}

bool TimeBase::HasTimeStampCounter() {
  return counters_.HasTimeStampCounter();
}

bool TimeBase::TestCounterSpeed() {
  if (!TscAvailable) {
    CounterTooSlow = false;
    return false;
  }
  std::array<int64_t, kCounterSpeedSamples> samples{};
  for (int64_t& sample : samples) {
    const int64_t first = counters_.ReadPerformanceCounter();
    const int64_t second = counters_.ReadPerformanceCounter();
    sample = second - first;
  }
  CounterTooSlow = CounterSamplesTooSlow(samples, counters_.PerformanceFrequency());
  return CounterTooSlow;
}

int64_t TimeBase::ReadTimestamp(bool allow_ring0) {
  return UsesTimeStampCounter(allow_ring0) ? counters_.ReadTimeStampCounter()
                                           : counters_.ReadPerformanceCounter();
}

int64_t TimeBase::MeasureTickRate(bool allow_ring0) {
  const int64_t performance_frequency = counters_.PerformanceFrequency();
  if (!UsesTimeStampCounter(allow_ring0)) return performance_frequency;
  const int saved_priority = scheduler_.GetCurrentThreadPriority();
  scheduler_.SetCurrentThreadPriority(platform::priority::kTimeCritical);
  const int64_t p0 = counters_.ReadPerformanceCounter();
  const int64_t t0 = counters_.ReadTimeStampCounter();
  scheduler_.SleepMs(kCalibrationSleepMs);
  scheduler_.SleepMs(kCalibrationSleepMs);
  const int64_t p1 = counters_.ReadPerformanceCounter();
  const int64_t t1 = counters_.ReadTimeStampCounter();
  scheduler_.SetCurrentThreadPriority(saved_priority);
  return TickRateFromReadings(p0, t0, p1, t1, performance_frequency);
}

void TimeBase::SetTimeBase(int64_t ticks_per_second) {
  const TimeBaseThresholds t = ThresholdsFor(ticks_per_second);
  TicksPerSecond = t.TicksPerSecond;
  SequenceGapTicks = t.SequenceGapTicks;
  TrainStartWindowTicks = t.TrainStartWindowTicks;
  EdgeGapTicks = t.EdgeGapTicks;
  g_ring0.Thresholds.TrainStartWindowTicks.store(TrainStartWindowTicks, std::memory_order_relaxed);
  g_ring0.Thresholds.EdgeGapTicks.store(EdgeGapTicks, std::memory_order_relaxed);
  g_ring0.Thresholds.SequenceGapTicks.store(SequenceGapTicks, std::memory_order_relaxed);
}

}  // namespace sfh56
