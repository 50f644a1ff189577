#pragma once
// The sequence rule: which train of a remote's burst of frames is decoded.
//
// CommandOrder 0 decodes every train; N decodes the N-th train of each sequence. On the
// serial and ring-0 paths trains that follow one another within SequenceGapTicks (half a
// second) form one sequence; on the USB path all trains form one running sequence.
// The capture loop owns one SequenceRule and calls it at the points named below.

#include <cstdint>

namespace sfh56 {

// The sequence time-out: half a second of the time base, its whole ticks per second
// divided by two.
inline constexpr int64_t SequenceGapTicksFor(int64_t ticks_per_second) {
  return ticks_per_second / 2;
}

// Whether a train noticed at now_ticks begins a new sequence: the gap since the last
// recorded edge is longer than sequence_gap_ticks, compared signed and strictly, the
// difference taken modulo 2^64 so that wrapped counters give a defined result. Plain
// inline code: the ring-0 routine applies it too.
inline constexpr bool SequenceTimedOut(int64_t now_ticks, int64_t last_edge_ticks,
                                       int64_t sequence_gap_ticks) {
  return static_cast<int64_t>(static_cast<uint64_t>(now_ticks) -
                              static_cast<uint64_t>(last_edge_ticks)) > sequence_gap_ticks;
}

enum class CapturePath { kSerial, kUsb };  // ring-0 capture is a serial path

enum class TrainAction {
  kDiscard,    // not decoded, nothing logged or delivered
  kDecode,     // hand the train to the decoder
  kEndThread,  // admitted while the plugin is closed: the receiver thread ends itself
};

class SequenceRule {
 public:
  // Capture start (port armed, or USB library ready): TrainCount := 0, and on the
  // serial path LastEdgeTime := 0.
  void StartCapture(CapturePath path);

  // Serial path, first change of a train noticed at now_ticks: the sequence time-out.
  void StartTrain(int64_t now_ticks, int64_t sequence_gap_ticks);

  // Serial path, every recorded edge.
  void EdgeRecorded(int64_t edge_ticks) { last_edge_ticks_ = edge_ticks; }

  // Ring-0 path: the routine applies the time-out and records the edges on copies of the
  // count and the last edge, which come back here after each train.
  void Adopt(int32_t train_count, int64_t last_edge_ticks) {
    train_count_ = train_count;
    last_edge_ticks_ = last_edge_ticks;
  }

  // After every completed train, empty or short ones included.
  TrainAction FinishTrain(int32_t command_order, bool plugin_open);

  int32_t TrainCount() const { return train_count_; }
  int64_t LastEdgeTicks() const { return last_edge_ticks_; }

 private:
  int32_t train_count_ = 0;
  int64_t last_edge_ticks_ = 0;
};

}  // namespace sfh56
