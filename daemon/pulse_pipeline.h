#pragma once
// The road from a source's line changes to codes: trains assembled with the capture
// rules of the serial receiver in its waiting mode (a train ends after 30 ms without a
// change, 13 ms from its tenth edge on, or at 300 edges; the changes after it are
// discarded until 6 ms pass without one), then the sequence rule (command order), the
// decoder with the bit mask, the service log, and the outlet.
//
// Driven by times only: an edge, a Quiet call or the daemon's clock (Deadline) ends a
// train, so a fast replay and a live device give the same trains.

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/pulse_train.h"
#include "daemon/pulse_sink.h"
#include "decode/decoder.h"
#include "decode/sequence_rule.h"
#include "receiver/train_assembler.h"

namespace sfh56::daemon {

// The line's status in a train's records: set (the idle level) during a space, as the
// serial receiver's DSR pin reads it.
inline constexpr uint32_t kSpaceStatus = 0x20;
inline constexpr int64_t kSequenceGapNs = 500 * kNsPerMs;

struct PipelineSettings {
  int32_t command_order = 0;
  int32_t bit_mask = 16;
};

// Where decoded codes go.
class TrainOutlet {
 public:
  virtual ~TrainOutlet() = default;
  // A decoded code (never empty) of the train from first_edge_ns to last_edge_ns;
  // shift_coded is the decoder's coding mode of the train.
  virtual void OnTrainCode(std::string_view code, int64_t first_edge_ns, int64_t last_edge_ns,
                           bool shift_coded) = 0;
};

struct PipelineCounts {
  int64_t trains = 0;   // trains ended, empty and short ones included
  int64_t decoded = 0;  // codes handed to the outlet
  int64_t lost = 0;     // trains dropped because changes were lost
};

class PulsePipeline : public TrainInput {
 public:
  PulsePipeline(PipelineSettings settings, TrainOutlet& outlet, ServiceLogSink* log = nullptr);

  void Edge(bool mark, int64_t at_ns) override;
  void Quiet(int64_t until_ns) override;
  void Lost() override;
  void Captured(const PulseTrain& train) override;

  std::optional<int64_t> Deadline() const override;
  void Flush() override;

  const PipelineCounts& Counts() const { return counts_; }

 private:
  enum class State { kIdle, kTrain, kDrain };
  int64_t QuietLimitNs() const;
  void EndTrain(int64_t end_ns);
  void Finish(const PulseTrain& train, bool lost);

  PipelineSettings settings_;
  TrainOutlet& outlet_;
  ServiceLogSink* log_;
  State state_ = State::kIdle;
  TrainAssembler assembler_;
  SequenceRule sequence_;
  PulseTrain train_;
  DecoderState decoder_;
  int64_t drain_checked_ns_ = 0;  // the drain has discarded every change up to here
  bool lost_ = false;
  PipelineCounts counts_;
};

}  // namespace sfh56::daemon
