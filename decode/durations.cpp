#include "decode/durations.h"

#include <cmath>

namespace sfh56 {
namespace {

constexpr double kMicrosecondsPerSecond = 1000000.0;

bool ValidInput(std::span<const double> durations_us, double ticks_per_second) {
  if (!(ticks_per_second > 0.0) || !std::isfinite(ticks_per_second)) return false;
  for (double d : durations_us) {
    if (!(d >= 0.0) || !std::isfinite(d)) return false;
  }
  return true;
}

// Status of the pin after pin change number i of a recording (0: the first mark starts).
uint32_t StatusAfterChange(size_t i) {
  return i % 2 == 0 ? 0 : kReplayIdleStatus;
}

int64_t ToTicks(double time_us, double ticks_per_second, int64_t start_ticks) {
  return start_ticks + std::llround(time_us * ticks_per_second / kMicrosecondsPerSecond);
}

}  // namespace

bool DurationsToTrain(std::span<const double> durations_us, double ticks_per_second,
                      PulseTrain& train, int64_t start_ticks) {
  train.LastEdgeIndex = -1;
  train.TicksPerSecond = ticks_per_second;
  if (!ValidInput(durations_us, ticks_per_second) ||
      durations_us.size() + 1 > static_cast<size_t>(kEdgeCapacity)) {
    return false;
  }
  double time_us = 0.0;
  for (size_t i = 0; i <= durations_us.size(); ++i) {
    train.Edges[i] = {StatusAfterChange(i), ToTicks(time_us, ticks_per_second, start_ticks)};
    if (i < durations_us.size()) time_us += durations_us[i];
  }
  train.LastEdgeIndex = static_cast<int32_t>(durations_us.size());
  return true;
}

std::vector<PulseTrain> SplitIntoTrains(std::span<const double> durations_us,
                                        double ticks_per_second, const CaptureTimings& timings,
                                        int64_t start_ticks) {
  std::vector<PulseTrain> trains;
  if (!ValidInput(durations_us, ticks_per_second)) return trains;

  // Pin changes: change i happens at times[i] and leaves the pin at StatusAfterChange(i).
  std::vector<double> times(durations_us.size() + 1);
  for (size_t i = 0; i < durations_us.size(); ++i) times[i + 1] = times[i] + durations_us[i];

  uint32_t prev_status = kReplayIdleStatus;  // a working receiver idles set
  size_t next = 0;
  while (next < times.size()) {
    // A comm event starts a train; every pin change is sampled once.
    PulseTrain& train = trains.emplace_back();
    train.TicksPerSecond = ticks_per_second;
    int recorded = 0;
    double end_us = 0.0;
    for (;;) {
      const double sample_us = times[next];
      const uint32_t status = StatusAfterChange(next);
      ++next;
      if (status != prev_status) {
        train.Edges[recorded] = {status, ToTicks(sample_us, ticks_per_second, start_ticks)};
        ++recorded;
        prev_status = status;
      }
      const double wait_us =
          recorded < timings.MinEdgesForNextWait ? timings.FirstWaitUs : timings.NextWaitUs;
      if (next >= times.size() || times[next] - sample_us > wait_us) {
        end_us = sample_us + wait_us;
        break;
      }
      if (recorded >= timings.MaxEdges || recorded >= kMaxCapturedEdges) {
        end_us = sample_us;
        break;
      }
    }
    train.LastEdgeIndex = recorded - 1;

    // Drain: changes are discarded until a whole quiet step passes without one.
    double check_us = end_us;
    while (next < times.size() && times[next] <= check_us + timings.DrainQuietUs) {
      while (next < times.size() && times[next] <= check_us + timings.DrainQuietUs) ++next;
      check_us += timings.DrainQuietUs;
    }
  }
  return trains;
}

}  // namespace sfh56
