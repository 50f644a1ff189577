#include "decode/sequence_rule.h"

#include <limits>

namespace sfh56 {

void SequenceRule::StartCapture(CapturePath path) {
  train_count_ = 0;
  if (path == CapturePath::kSerial) last_edge_ticks_ = 0;
}

void SequenceRule::StartTrain(int64_t now_ticks, int64_t sequence_gap_ticks) {
  if (SequenceTimedOut(now_ticks, last_edge_ticks_, sequence_gap_ticks)) train_count_ = 0;
  last_edge_ticks_ = now_ticks;
}

TrainAction SequenceRule::FinishTrain(int32_t command_order, bool plugin_open) {
  // A count that could pass the int32 range (CommandOrder from a damaged registry value)
  // stays at its maximum rather than wrapping to a negative count.
  if (train_count_ < std::numeric_limits<int32_t>::max()) ++train_count_;
  if (command_order <= 0 || train_count_ >= command_order) {
    train_count_ = 0;
    return plugin_open ? TrainAction::kDecode : TrainAction::kEndThread;
  }
  return TrainAction::kDiscard;
}

}  // namespace sfh56
