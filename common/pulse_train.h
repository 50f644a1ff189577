#pragma once
// One captured burst of edges of the receiver's input pin.

#include <array>
#include <cstdint>

namespace sfh56 {

// One edge: the pin's masked modem status after the change (non-zero = pin set, the
// idle level of a working receiver) and the time of the change in time-base ticks.
struct EdgeRecord {
  uint32_t Status = 0;
  int64_t Timestamp = 0;
};

inline constexpr int kEdgeCapacity = 301;      // records the train can hold
inline constexpr int kMaxCapturedEdges = 300;  // serial and ring-0 capture stop here

struct PulseTrain {
  std::array<EdgeRecord, kEdgeCapacity> Edges{};
  int32_t LastEdgeIndex = -1;  // -1: empty
  double TicksPerSecond = 0.0;

  int EdgeCount() const { return LastEdgeIndex + 1; }
};

}  // namespace sfh56
