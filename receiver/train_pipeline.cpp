#include "receiver/train_pipeline.h"

#include <algorithm>
#include <cmath>

#include "receiver/time_base.h"

namespace sfh56 {
namespace {

constexpr double kMicrosecondsPerSecond = 1000000.0;
constexpr double kMicrosecondsPerMs = 1000.0;

// The more urgent of two answers: ending the thread outweighs everything.
TrainAction Worse(TrainAction a, TrainAction b) {
  return a == TrainAction::kEndThread || b == TrainAction::kEndThread ? TrainAction::kEndThread
         : a == TrainAction::kDecode || b == TrainAction::kDecode     ? TrainAction::kDecode
                                                                      : TrainAction::kDiscard;
}

}  // namespace

TrainPipeline::TrainPipeline(const ReceiverSettings& settings, CodeOutlet& outlet,
                             ServiceLogSink* log)
    : settings_(settings), outlet_(outlet), log_(log) {
  line_.SetPrevStatus(kIdleStatus);
}

void TrainPipeline::StartCapture(CapturePath path, int64_t start_ticks) {
  sequence_.StartCapture(path);
  start_ticks_ = start_ticks;
  now_us_ = 0.0;
  line_status_ = kIdleStatus;
  state_ = DurationState::kIdle;
}

// --- Edges -----------------------------------------------------------------------------

void TrainPipeline::BeginTrain(int64_t start_ticks, int64_t sequence_gap_ticks) {
  sequence_.StartTrain(start_ticks, sequence_gap_ticks);
  line_.Begin(train_.Edges.data(), start_ticks);
}

TrainAction TrainPipeline::EndTrain() {
  if (line_.Count() > 0) sequence_.EdgeRecorded(line_.LastEdgeTicks());
  train_.LastEdgeIndex = line_.Count() - 1;
  return FinishTrain();
}

// --- Whole trains ----------------------------------------------------------------------

TrainAction TrainPipeline::FinishTrain() {
  outlet_.TrainCaptured(train_);
  const TrainAction action = sequence_.FinishTrain(settings_.CommandOrder, outlet_.Open());
  if (action == TrainAction::kDecode) {
    outlet_.TrainAdmitted(train_);
    Decode();
  }
  return action;
}

void TrainPipeline::Decode() {
  const DecodedTrain decoded = DecodeWith(
      settings_.StableCodes ? Decoding::kStable : Decoding::kClassic, train_, settings_.BitMask);
  // The outlet hears each code with the decoder's account of the train.
  struct ToOutlet final : CodeSink {
    ToOutlet(CodeOutlet& to, const DecodedTrain& of) : outlet(to), decoded(of) {}
    void Deliver(std::string_view code) override { outlet.Deliver(code, decoded); }
    CodeOutlet& outlet;
    const DecodedTrain& decoded;
  } to_outlet(outlet_, decoded);
  HandOnDecode(decoded, train_, last_code_, settings_.ServiceMode ? log_ : nullptr, &to_outlet);
}

// --- Durations -------------------------------------------------------------------------
//
// The line's changes as a source that waits for them samples them: every change is
// sampled when it happens; a train ends when no change comes within its quiet limit
// (busy polling: a sample taken past the limit from the train's start, below ten edges,
// or from its last sample) or with its last record; the drain then discards the changes
// until a whole 6 ms step passes without one. Times are microseconds from the capture's
// start, compared as such; records take start_ticks + round(time x rate / 10^6).

TrainAction TrainPipeline::PushDuration(bool mark, double microseconds) {
  TrainAction action = Change(mark ? 0u : kIdleStatus, now_us_);
  if (microseconds > 0.0 && std::isfinite(microseconds)) now_us_ += microseconds;
  return Worse(action, EndIfQuietUntilNow());
}

TrainAction TrainPipeline::PushTimeout() {
  // The device times out on a quiet line: a mark still held ends now; a space held
  // already is no change, time passes only (a flip would start a train of its own and
  // take the next train's first edge).
  TrainAction action = Change(kIdleStatus, now_us_);
  if (state_ == DurationState::kInTrain) {
    const double end_us = QuietReferenceUs() + QuietLimitUs();
    action = Worse(action, EndDurationTrain(end_us));
    now_us_ = std::max(now_us_, end_us);
  }
  // The drain has passed: the next change starts a train.
  now_us_ += kDrainQuietMs * kMicrosecondsPerMs;
  state_ = DurationState::kIdle;
  return action;
}

TrainAction TrainPipeline::Change(uint32_t status, double time_us) {
  if (status == line_status_) return TrainAction::kDiscard;  // no change: time passes only
  line_status_ = status;
  if (state_ == DurationState::kDraining) {
    if (time_us <= drain_until_us_) return TrainAction::kDiscard;
    const double step_us = kDrainQuietMs * kMicrosecondsPerMs;
    if (time_us <= drain_until_us_ + step_us) {
      drain_until_us_ += step_us;
      return TrainAction::kDiscard;
    }
    state_ = DurationState::kIdle;  // a whole step passed without a change
  }
  if (state_ == DurationState::kIdle) {
    BeginTrain(TicksAt(time_us), SequenceGapTicksFor(static_cast<int64_t>(train_.TicksPerSecond)));
    train_start_us_ = time_us;
    state_ = DurationState::kInTrain;
  }
  // Sampled as the line's status; it is an edge when it differs from the last one
  // sampled (the drain samples nothing).
  line_.Sample(status, TicksAt(time_us));
  last_sample_us_ = time_us;
  return TrainAction::kDiscard;
}

TrainAction TrainPipeline::EndIfQuietUntilNow() {
  if (state_ != DurationState::kInTrain) return TrainAction::kDiscard;
  const double reference_us = QuietReferenceUs();
  const double limit_us = QuietLimitUs();
  // The next change comes at now_us_ at the earliest.
  if (now_us_ - reference_us > limit_us) return EndDurationTrain(reference_us + limit_us);
  if (line_.Full()) return EndDurationTrain(last_sample_us_);
  return TrainAction::kDiscard;
}

double TrainPipeline::QuietReferenceUs() const {
  const bool long_train = line_.Count() >= kLongTrainEdges;
  return BusyPolling() && !long_train ? train_start_us_ : last_sample_us_;
}

double TrainPipeline::QuietLimitUs() const {
  if (!BusyPolling()) return line_.QuietLimitMs() * kMicrosecondsPerMs;
  const bool long_train = line_.Count() >= kLongTrainEdges;
  return (long_train ? kEdgeGapSeconds : kTrainStartWindowSeconds) * kMicrosecondsPerSecond;
}

TrainAction TrainPipeline::EndDurationTrain(double end_us) {
  state_ = DurationState::kDraining;
  drain_until_us_ = end_us;
  return EndTrain();
}

int64_t TrainPipeline::TicksAt(double time_us) const {
  return start_ticks_ + std::llround(time_us * train_.TicksPerSecond / kMicrosecondsPerSecond);
}

bool TrainPipeline::BusyPolling() const {
  return settings_.PriorityLevel >= kBusyPollingPriorityLevel;
}

}  // namespace sfh56
