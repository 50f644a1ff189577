#include "daemon/pulse_pipeline.h"

#include <limits>

namespace sfh56::daemon {

PulsePipeline::PulsePipeline(PipelineSettings settings, TrainOutlet& outlet, ServiceLogSink* log)
    : settings_(settings), outlet_(outlet), log_(log) {
  assembler_.SetPrevStatus(kSpaceStatus);  // a working receiver idles set
  sequence_.StartCapture(CapturePath::kSerial);
  train_.TicksPerSecond = kNsTicksPerSecond;
}

int64_t PulsePipeline::QuietLimitNs() const {
  return static_cast<int64_t>(assembler_.QuietLimitMs()) * kNsPerMs;
}

void PulsePipeline::Edge(bool mark, int64_t at_ns) {
  const uint32_t status = mark ? 0 : kSpaceStatus;
  for (;;) {
    switch (state_) {
      case State::kIdle:
        // Any change starts a train, also one back to the level the last recorded edge
        // left (the drain discards changes without recording them): the serial capture
        // then samples no change and the train may end empty, counted all the same.
        sequence_.StartTrain(at_ns, kSequenceGapNs);
        assembler_.Begin(train_.Edges.data(), at_ns);
        state_ = State::kTrain;
        continue;
      case State::kTrain:
        if (at_ns - assembler_.LastEdgeTicks() > QuietLimitNs()) {
          EndTrain(assembler_.LastEdgeTicks() + QuietLimitNs());
          continue;
        }
        if (assembler_.Sample(status, at_ns)) sequence_.EdgeRecorded(at_ns);
        if (assembler_.Full()) EndTrain(at_ns);
        return;
      case State::kDrain:
        // The drain looks at the line every kDrainQuietMs and ends at the first look that
        // finds no change since the one before.
        if (at_ns > drain_checked_ns_ + kDrainQuietMs * kNsPerMs) {
          state_ = State::kIdle;
          continue;
        }
        if (at_ns > drain_checked_ns_) drain_checked_ns_ += kDrainQuietMs * kNsPerMs;
        lost_ = false;  // whatever was lost went with the discarded changes
        return;
    }
  }
}

void PulsePipeline::Quiet(int64_t until_ns) {
  if (state_ == State::kTrain && until_ns - assembler_.LastEdgeTicks() > QuietLimitNs()) {
    EndTrain(assembler_.LastEdgeTicks() + QuietLimitNs());
  }
  if (state_ == State::kDrain && until_ns > drain_checked_ns_ + kDrainQuietMs * kNsPerMs) {
    state_ = State::kIdle;
  }
}

std::optional<int64_t> PulsePipeline::Deadline() const {
  // Quiet ends a train or a drain only strictly after the limit: one nanosecond more.
  if (state_ == State::kTrain) return assembler_.LastEdgeTicks() + QuietLimitNs() + 1;
  if (state_ == State::kDrain) return drain_checked_ns_ + kDrainQuietMs * kNsPerMs + 1;
  return std::nullopt;
}

void PulsePipeline::Flush() {
  if (state_ == State::kTrain) EndTrain(assembler_.LastEdgeTicks() + QuietLimitNs());
  state_ = State::kIdle;
}

void PulsePipeline::Lost() {
  lost_ = true;
}

void PulsePipeline::EndTrain(int64_t end_ns) {
  train_.LastEdgeIndex = assembler_.Count() - 1;
  const bool lost = lost_;
  lost_ = false;
  state_ = State::kDrain;
  drain_checked_ns_ = end_ns;
  Finish(train_, lost);
}

void PulsePipeline::Captured(const PulseTrain& train) {
  Finish(train, false);
}

void PulsePipeline::Finish(const PulseTrain& train, bool lost) {
  ++counts_.trains;
  const TrainAction action = sequence_.FinishTrain(settings_.command_order, true);
  if (lost) {
    ++counts_.lost;
    return;
  }
  if (action != TrainAction::kDecode) return;
  const DecodeResult result = Decoder::Decode(train, settings_.bit_mask, decoder_, log_);
  // An empty code is a repeat frame before any code: there is nothing to name.
  if (!result.deliver || result.code.empty()) return;
  ++counts_.decoded;
  const int count = train.EdgeCount();
  const auto ns = [&](int64_t ticks) {
    return train.TicksPerSecond == kNsTicksPerSecond
               ? ticks
               : static_cast<int64_t>(static_cast<double>(ticks) / train.TicksPerSecond * 1e9);
  };
  outlet_.OnTrainCode(result.code, count > 0 ? ns(train.Edges[0].Timestamp) : 0,
                      count > 0 ? ns(train.Edges[count - 1].Timestamp) : 0, result.shift_coded);
}

}  // namespace sfh56::daemon
