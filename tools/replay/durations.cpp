#include "tools/replay/durations.h"

#include <cmath>

#include "receiver/time_base.h"
#include "receiver/train_assembler.h"

namespace sfh56 {
namespace {

constexpr double kMicrosecondsPerSecond = 1000000.0;
constexpr double kMicrosecondsPerMs = 1000.0;

bool ValidInput(std::span<const double> durations_us, double ticks_per_second) {
  if (!(ticks_per_second > 0.0) || !std::isfinite(ticks_per_second)) return false;
  for (double d : durations_us) {
    if (!(d >= 0.0) || !std::isfinite(d)) return false;
  }
  return true;
}

// Status of the pin after pin change number i of a recording (0: the first mark starts).
uint32_t StatusAfterChange(size_t i) {
  return i % 2 == 0 ? 0 : kReplayIdleStatus;
}

int64_t ToTicks(double time_us, double ticks_per_second, int64_t start_ticks) {
  return start_ticks + std::llround(time_us * ticks_per_second / kMicrosecondsPerSecond);
}

}  // namespace

bool DurationsToTrain(std::span<const double> durations_us, double ticks_per_second,
                      PulseTrain& train, int64_t start_ticks) {
  train.LastEdgeIndex = -1;
  train.TicksPerSecond = ticks_per_second;
  if (!ValidInput(durations_us, ticks_per_second) ||
      durations_us.size() + 1 > static_cast<size_t>(kEdgeCapacity)) {
    return false;
  }
  double time_us = 0.0;
  for (size_t i = 0; i <= durations_us.size(); ++i) {
    train.Edges[i] = {StatusAfterChange(i), ToTicks(time_us, ticks_per_second, start_ticks)};
    if (i < durations_us.size()) time_us += durations_us[i];
  }
  train.LastEdgeIndex = static_cast<int32_t>(durations_us.size());
  return true;
}

namespace {

// The recording's pin changes as the drain sees them: a change is pending once the
// replay's time has reached it.
class ReplayedLine {
 public:
  ReplayedLine(const std::vector<double>& times, size_t& next, double now_us)
      : times_(times), next_(next), now_us_(now_us) {}
  bool ChangePending() const { return next_ < times_.size() && times_[next_] <= now_us_; }
  void Rearm() {
    while (ChangePending()) ++next_;
  }
  bool DrainTooLong() const { return false; }
  void WaitQuietStep() { now_us_ += kDrainQuietMs * kMicrosecondsPerMs; }

 private:
  const std::vector<double>& times_;
  size_t& next_;
  double now_us_;
};

}  // namespace

std::vector<PulseTrain> ReplayedTrains(std::span<const double> durations_us,
                                       double ticks_per_second, int64_t start_ticks,
                                       bool busy_polling) {
  std::vector<PulseTrain> trains;
  if (!ValidInput(durations_us, ticks_per_second)) return trains;

  // Pin changes: change i happens at times[i] and leaves the pin at StatusAfterChange(i).
  std::vector<double> times(durations_us.size() + 1);
  for (size_t i = 0; i < durations_us.size(); ++i) times[i + 1] = times[i] + durations_us[i];

  TrainAssembler assembler;
  assembler.SetPrevStatus(kReplayIdleStatus);  // a working receiver idles set
  size_t next = 0;
  while (next < times.size()) {
    // A change raises the line's event and starts a train; every change is sampled once.
    PulseTrain& train = trains.emplace_back();
    train.TicksPerSecond = ticks_per_second;
    const double start_us = times[next];
    assembler.Begin(train.Edges.data(), ToTicks(start_us, ticks_per_second, start_ticks));
    double end_us = 0.0;
    for (;;) {
      const double sample_us = times[next];
      assembler.Sample(StatusAfterChange(next), ToTicks(sample_us, ticks_per_second, start_ticks));
      ++next;
      // Waiting mode: no change within the wait. Busy mode: a sample later than the
      // limit after the reference comes before the next change.
      const double wait_us = assembler.QuietLimitMs() * kMicrosecondsPerMs;
      const bool long_train = assembler.Count() >= kLongTrainEdges;
      const double reference_us = busy_polling && !long_train ? start_us : sample_us;
      const double limit_us =
          !busy_polling
              ? wait_us
              : (long_train ? kEdgeGapSeconds : kTrainStartWindowSeconds) * kMicrosecondsPerSecond;
      if (next >= times.size() || times[next] - reference_us > limit_us) {
        end_us = reference_us + limit_us;
        break;
      }
      if (assembler.Full()) {
        end_us = sample_us;
        break;
      }
    }
    train.LastEdgeIndex = assembler.Count() - 1;

    ReplayedLine line(times, next, end_us);
    DrainLine(line);
  }
  return trains;
}

}  // namespace sfh56
