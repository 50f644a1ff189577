#pragma once
// One captured burst of edges of the receiver's input pin.

#include <array>
#include <cmath>
#include <cstdint>
#include <span>

namespace sfh56 {

// One edge: the pin's masked modem status after the change (non-zero = pin set, the
// idle level of a working receiver) and the time of the change in time-base ticks.
struct EdgeRecord {
  uint32_t Status = 0;
  int64_t Timestamp = 0;
};

// The status a set pin reports on the default line (DSR): the receiver's idle level in
// trains made from durations. Any non-zero status reads as idle.
inline constexpr uint32_t kIdleStatus = 0x20;

inline constexpr int kEdgeCapacity = 301;      // records the train can hold
inline constexpr int kMaxCapturedEdges = 300;  // serial and ring-0 capture stop here

struct PulseTrain {
  std::array<EdgeRecord, kEdgeCapacity> Edges{};
  int32_t LastEdgeIndex = -1;  // -1: empty
  double TicksPerSecond = 0.0;

  int EdgeCount() const { return LastEdgeIndex + 1; }
};

// The one conversion of durations to edges: edge i at start_ticks + round(t_i x
// ticks_per_second / units_per_second), t_i the sum of the first i durations, so that
// rounding never accumulates; the first duration is a mark (pin clear) unless
// first_is_mark is false, and the levels alternate. durations.size() + 1 edges. False,
// with the train emptied, when they do not fit the train, when a rate is not positive and
// finite, or when a duration is negative or not finite.
inline bool DurationsToEdges(std::span<const double> durations, double units_per_second,
                             double ticks_per_second, PulseTrain& train, int64_t start_ticks = 0,
                             bool first_is_mark = true) {
  train.LastEdgeIndex = -1;
  train.TicksPerSecond = ticks_per_second;
  auto positive = [](double rate) { return rate > 0.0 && std::isfinite(rate); };
  if (!positive(units_per_second) || !positive(ticks_per_second) ||
      durations.size() + 1 > static_cast<size_t>(kEdgeCapacity)) {
    return false;
  }
  for (double d : durations) {
    if (!(d >= 0.0) || !std::isfinite(d)) return false;
  }
  double time = 0.0;
  bool mark = first_is_mark;
  for (size_t i = 0; i <= durations.size(); ++i) {
    train.Edges[i] = {mark ? 0u : kIdleStatus,
                      start_ticks + std::llround(time * ticks_per_second / units_per_second)};
    if (i < durations.size()) time += durations[i];
    mark = !mark;
  }
  train.LastEdgeIndex = static_cast<int32_t>(durations.size());
  return true;
}

}  // namespace sfh56
