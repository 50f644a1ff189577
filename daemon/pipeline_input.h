#pragma once
// The daemon's way into the receiver's train pipeline (receiver/train_pipeline.h): a
// source's line changes, stamped on its clock, become the pipeline's durations, so that
// trains are assembled, counted, decoded and logged exactly as the plugin does it. What
// the pipeline does not know is added here: the daemon's clock ending a train on time
// (Deadline and Quiet), and trains that lost changes, which are counted and dropped
// instead of decoded.

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "config/receiver_settings.h"
#include "daemon/pulse_sink.h"
#include "decode/decoder.h"
#include "decode/sequence_rule.h"
#include "receiver/train_pipeline.h"

namespace sfh56::daemon {

inline constexpr int64_t kSequenceGapNs =
    SequenceGapTicksFor(static_cast<int64_t>(kNsTicksPerSecond));

struct PipelineSettings {
  int32_t command_order = 0;
  int32_t bit_mask = 16;
  // The stable decoding by default: unlike the plugin's stored host mappings, nothing on this
  // side depends on the classic codes.
  bool stable_codes = true;
};

// Where decoded codes go.
class TrainOutlet {
 public:
  virtual ~TrainOutlet() = default;
  // A decoded code (never empty) of the train from first_edge_ns to last_edge_ns;
  // shift_coded is the decoder's coding mode of the code.
  virtual void OnTrainCode(std::string_view code, int64_t first_edge_ns, int64_t last_edge_ns,
                           bool shift_coded) = 0;
};

struct PipelineCounts {
  int64_t trains = 0;   // trains ended, empty and short ones included
  int64_t decoded = 0;  // codes handed to the outlet
  int64_t lost = 0;     // trains dropped because changes were lost
};

class PipelineInput : public TrainInput, private CodeOutlet, private ServiceLogSink {
 public:
  PipelineInput(PipelineSettings settings, TrainOutlet& outlet, ServiceLogSink* log = nullptr);

  void Edge(bool mark, int64_t at_ns) override;
  void Quiet(int64_t until_ns) override;
  void Lost(int64_t at_ns) override;
  void Captured(const PulseTrain& train) override;
  std::optional<int64_t> Deadline() const override;
  void Flush() override;

  const PipelineCounts& Counts() const { return counts_; }
  // Called with every finished train (learn keeps them for the advisor).
  std::function<void(const PulseTrain&)> on_train;

 private:
  // CodeOutlet
  void Deliver(std::string_view code, const DecodedTrain& decoded) override;
  void TrainCaptured(const PulseTrain& train) override;
  void TrainAdmitted(const PulseTrain& train) override;
  // ServiceLogSink: the log, but never for a dropped train.
  bool OpenAndWriteHead(const PulseTrain& train, int edge_count) override;
  void WriteCodeLineAndClose(std::string_view code, bool shift_coded) override;

  // Microseconds since the first change, never running backwards.
  int64_t ToClockUs(int64_t at_ns);
  int64_t ToNs(int64_t ticks, double ticks_per_second) const;
  // Time passes to until_us without a change.
  void Advance(int64_t until_us);
  int64_t QuietLimitUs() const;

  ReceiverSettings settings_;
  TrainOutlet& outlet_;
  ServiceLogSink* log_;
  TrainPipeline pipeline_;
  bool started_ = false;
  int64_t origin_us_ = 0;
  int64_t clock_us_ = 0;        // where the pipeline's durations have brought it
  bool mark_ = false;           // the line's level (idle: space)
  int64_t last_change_us_ = 0;  // the last change of level
  bool open_ = false;           // a train may be in progress
  bool lost_ = false;           // changes lost since the last train ended
  bool drop_ = false;           // the train being decoded lost changes
  int64_t first_edge_ns_ = 0;
  int64_t last_edge_ns_ = 0;
  bool shift_coded_ = false;  // the coding mode of the last full decode
  PipelineCounts counts_;
};

}  // namespace sfh56::daemon
