#pragma once
// How a burst of line changes becomes one pulse train, and how the rest of a burst is
// discarded after it: the rules every capture path shares. Serial capture feeds it in
// both end-test modes, the ring-0 routine from its polling loop, and the replay of
// recordings (tools, tests, benchmarks) from recorded durations.
//
// Plain code over plain data: samples go in one at a time, records are written in place,
// nothing is allocated and nothing is called through a pointer per sample, so that a
// tight polling loop (one that may keep its assembler in module storage) can use it.

#include <cstdint>
#include <limits>

#include "common/pulse_train.h"

namespace sfh56 {

// From this PriorityLevel on, a train's end is found by polling without sleeping (busy
// mode), and ring-0 capture keeps interrupts off for a whole train.
inline constexpr int kBusyPollingPriorityLevel = 8;
// From this many edges on a train ends after the shorter quiet time.
inline constexpr int kLongTrainEdges = 10;
// Waiting mode (the thread sleeps on the line's change event): a train ends when no
// change comes within this long, below kLongTrainEdges edges and from then on.
inline constexpr uint32_t kFirstWaitMs = 30;
inline constexpr uint32_t kNextWaitMs = 13;
// After a train, changes are discarded until the line has been quiet this long.
inline constexpr uint32_t kDrainQuietMs = 6;

// Busy mode (the thread or the ring-0 routine polls without sleeping): the limits in
// ticks of the time base, compared signed and strictly (TrainStartWindowTicks, 30 ms from
// the train's start below kLongTrainEdges edges; EdgeGapTicks, 12.8 ms after the last
// edge from then on).
struct TrainLimits {
  int64_t start_window_ticks = 0;
  int64_t edge_gap_ticks = 0;
};

class TrainAssembler {
 public:
  // Starts a train noticed at start_ticks whose records go to edges (room for
  // kMaxCapturedEdges). The line's previous status carries over from the last train.
  void Begin(EdgeRecord* edges, int64_t start_ticks) {
    edges_ = edges;
    count_ = 0;
    train_start_ = start_ticks;
    last_edge_ = start_ticks;
  }

  // One sample of the masked line status. A status that differs from the previous one is
  // recorded as an edge at ticks; true when it was. A full train records nothing more.
  bool Sample(uint32_t status, int64_t ticks) {
    if (status == prev_status_ || count_ >= kMaxCapturedEdges) return false;
    edges_[count_++] = {status, ticks};
    prev_status_ = status;
    last_edge_ = ticks;
    return true;
  }

  // The edge-count rule: a train holds at most kMaxCapturedEdges records.
  bool Full() const { return count_ >= kMaxCapturedEdges; }
  // Waiting mode: how long to wait for the next change before the train has ended.
  uint32_t QuietLimitMs() const { return count_ < kLongTrainEdges ? kFirstWaitMs : kNextWaitMs; }
  // Busy mode: whether the sample taken at ticks ends the train.
  bool EndsAt(int64_t ticks, const TrainLimits& limits) const {
    return count_ < kLongTrainEdges ? ticks - train_start_ > limits.start_window_ticks
                                    : ticks - last_edge_ > limits.edge_gap_ticks;
  }

  int Count() const { return count_; }
  // When the train was noticed.
  int64_t StartTicks() const { return train_start_; }
  // The last recorded edge's time, or the train's start while it has none.
  int64_t LastEdgeTicks() const { return last_edge_; }
  uint32_t PrevStatus() const { return prev_status_; }
  void SetPrevStatus(uint32_t status) { prev_status_ = status; }

 private:
  EdgeRecord* edges_ = nullptr;
  int count_ = 0;
  int64_t train_start_ = 0;
  int64_t last_edge_ = 0;
  uint32_t prev_status_ = 0;
};

// The drain after a train: line changes are discarded until a whole kDrainQuietMs step
// passes without one, so that the rest of a burst, and changes during decoding and
// delivery, never start a train of their own. line offers:
//   bool ChangePending()  a change came since the line was last armed (no waiting)
//   void Rearm()          discard it and watch for the next change
//   bool DrainTooLong()   after a re-arm: stop anyway (a line that never settles)
//   void WaitQuietStep()  let kDrainQuietMs pass
// max_checks bounds the number of checks in the same way.
template <typename Line>
void DrainLine(Line& line, int max_checks = std::numeric_limits<int>::max()) {
  for (int checks = 0; checks < max_checks; ++checks) {
    if (line.ChangePending()) {
      line.Rearm();
      if (line.DrainTooLong()) return;
      continue;
    }
    line.WaitQuietStep();
    if (!line.ChangePending()) return;
  }
}

}  // namespace sfh56
