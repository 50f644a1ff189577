#include "daemon/pipeline_input.h"

namespace sfh56::daemon {
namespace {

constexpr double kClockTicksPerSecond = 1e6;  // the pipeline counts microseconds

}  // namespace

PipelineInput::PipelineInput(PipelineSettings settings, TrainOutlet& outlet, ServiceLogSink* log)
    : outlet_(outlet), log_(log), pipeline_(settings_, *this, this) {
  settings_.CommandOrder = settings.command_order;
  settings_.BitMask = settings.bit_mask;
  settings_.StableCodes = settings.stable_codes;
  settings_.ServiceMode = log != nullptr;
  settings_.PriorityLevel = kBusyPollingPriorityLevel - 1;  // a source that waits for changes
  pipeline_.StartCapture(CapturePath::kSerial);
  pipeline_.SetTicksPerSecond(kClockTicksPerSecond);
}

int64_t PipelineInput::ToClockUs(int64_t at_ns) {
  const int64_t at_us = at_ns / kNsPerUs;
  if (!started_) {
    started_ = true;
    origin_us_ = at_us;
  }
  return std::max(at_us - origin_us_, clock_us_);
}

int64_t PipelineInput::ToNs(int64_t ticks, double ticks_per_second) const {
  if (ticks_per_second == kClockTicksPerSecond) return (origin_us_ + ticks) * kNsPerUs;
  return static_cast<int64_t>(static_cast<double>(ticks) / ticks_per_second * kNsTicksPerSecond);
}

int64_t PipelineInput::QuietLimitUs() const {
  return static_cast<int64_t>(pipeline_.Assembly().QuietLimitMs()) * 1000;
}

void PipelineInput::Advance(int64_t until_us) {
  if (until_us <= clock_us_) return;
  // The line keeps its level: for the pipeline time passes, and a train whose quiet limit
  // has gone by ends.
  pipeline_.PushDuration(mark_, static_cast<double>(until_us - clock_us_));
  clock_us_ = until_us;
}

void PipelineInput::Edge(bool mark, int64_t at_ns) {
  const int64_t at_us = ToClockUs(at_ns);
  Advance(at_us);
  if (mark == mark_) return;  // no change of level (changes were lost before it)
  mark_ = mark;
  last_change_us_ = at_us;
  pipeline_.PushDuration(mark, 0.0);
  open_ = true;
}

void PipelineInput::Quiet(int64_t until_ns) {
  if (!started_) return;
  const int64_t until_us = ToClockUs(until_ns);
  Advance(until_us);
  if (open_ && until_us - last_change_us_ > QuietLimitUs()) open_ = false;
}

std::optional<int64_t> PipelineInput::Deadline() const {
  if (!open_) return std::nullopt;
  // Quiet ends a train only strictly after its limit: one microsecond more.
  return (origin_us_ + last_change_us_ + QuietLimitUs() + 1) * kNsPerUs;
}

void PipelineInput::Flush() {
  if (!open_) return;
  Advance(last_change_us_ + QuietLimitUs() + 1);
  open_ = false;
}

void PipelineInput::Lost(int64_t at_ns) {
  // A train that the silence before at_ns has ended is whole: the loss belongs to the
  // train in progress at at_ns, or to the next one.
  Quiet(at_ns);
  lost_ = true;
}

void PipelineInput::Captured(const PulseTrain& train) {
  pipeline_.Train() = train;
  pipeline_.FinishTrain();
  pipeline_.SetTicksPerSecond(kClockTicksPerSecond);
}

void PipelineInput::TrainCaptured(const PulseTrain& train) {
  ++counts_.trains;
  if (on_train) on_train(train);
  drop_ = lost_;
  lost_ = false;
  if (drop_) ++counts_.lost;
}

void PipelineInput::TrainAdmitted(const PulseTrain& train) {
  const int count = train.EdgeCount();
  first_edge_ns_ = count > 0 ? ToNs(train.Edges[0].Timestamp, train.TicksPerSecond) : 0;
  last_edge_ns_ = count > 0 ? ToNs(train.Edges[count - 1].Timestamp, train.TicksPerSecond) : 0;
}

void PipelineInput::Deliver(std::string_view code, const DecodedTrain& decoded) {
  // A repeat frame gives the previous code again, in that code's coding mode.
  if (decoded.outcome == DecodedTrain::Outcome::kFull) shift_coded_ = decoded.shift_coded;
  // A dropped train, or a repeat frame before any code: nothing to hand on.
  if (drop_ || code.empty()) return;
  ++counts_.decoded;
  outlet_.OnTrainCode(code, first_edge_ns_, last_edge_ns_, shift_coded_);
}

bool PipelineInput::OpenAndWriteHead(const PulseTrain& train, int edge_count) {
  return !drop_ && log_ != nullptr && log_->OpenAndWriteHead(train, edge_count);
}

void PipelineInput::WriteCodeLineAndClose(std::string_view code, bool shift_coded) {
  log_->WriteCodeLineAndClose(code, shift_coded);
}

void FeedSamples(const uint32_t* samples, size_t count, int64_t now_ns, DurationClock& clock,
                 PulseSink& sink) {
  for (size_t i = 0; i < count; ++i) {
    const uint32_t value = samples[i] & kSampleValueMask;
    switch (static_cast<SampleType>(samples[i] >> 24)) {
      case SampleType::kPulse:
        // A pulse is reported when it ends: it began its length ago.
        if (!clock.Anchored()) clock.Anchor(now_ns - static_cast<int64_t>(value) * kNsPerUs);
        clock.Pulse(value);
        break;
      case SampleType::kSpace:
        if (clock.Anchored()) clock.Space(value);
        break;
      case SampleType::kTimeout:
        if (clock.Anchored()) clock.Timeout(value);
        break;
      case SampleType::kOverflow:
        sink.Lost(clock.CursorNs());
        clock.Unanchor();
        break;
      default:  // carrier frequency reports and types of later kernels
        break;
    }
  }
}

}  // namespace sfh56::daemon
