#include "tools/replay/durations.h"

#include <cmath>

#include "receiver/time_base.h"
#include "receiver/train_assembler.h"
#include "receiver/train_pipeline.h"

namespace sfh56 {
namespace {

constexpr double kMicrosecondsPerSecond = 1000000.0;

bool ValidInput(std::span<const double> durations_us, double ticks_per_second) {
  if (!(ticks_per_second > 0.0) || !std::isfinite(ticks_per_second)) return false;
  for (double d : durations_us) {
    if (!(d >= 0.0) || !std::isfinite(d)) return false;
  }
  return true;
}

// Collects every train the pipeline finishes (its codes are not asked for).
class TrainCollector : public CodeOutlet {
 public:
  explicit TrainCollector(std::vector<PulseTrain>& trains) : trains_(trains) {}
  void Deliver(std::string_view, const DecodedTrain&) override {}
  void TrainCaptured(const PulseTrain& train) override { trains_.push_back(train); }

 private:
  std::vector<PulseTrain>& trains_;
};

}  // namespace

bool DurationsToTrain(std::span<const double> durations_us, double ticks_per_second,
                      PulseTrain& train, int64_t start_ticks) {
  return DurationsToEdges(durations_us, kMicrosecondsPerSecond, ticks_per_second, train,
                          start_ticks);
}

bool PlayDurations(TrainPipeline& pipeline, std::span<const double> durations_us,
                   double ticks_per_second, int64_t start_ticks) {
  if (!ValidInput(durations_us, ticks_per_second)) return false;
  pipeline.StartCapture(CapturePath::kSerial, start_ticks);
  pipeline.SetTicksPerSecond(ticks_per_second);
  bool mark = true;
  for (double d : durations_us) {
    pipeline.PushDuration(mark, d);
    mark = !mark;
  }
  pipeline.PushTimeout();
  return true;
}

std::vector<PulseTrain> ReplayedTrains(std::span<const double> durations_us,
                                       double ticks_per_second, int64_t start_ticks,
                                       bool busy_polling) {
  std::vector<PulseTrain> trains;
  ReceiverSettings settings;
  settings.CommandOrder = 0;
  settings.PriorityLevel = busy_polling ? kBusyPollingPriorityLevel : kBusyPollingPriorityLevel - 1;
  TrainCollector collector(trains);
  TrainPipeline pipeline(settings, collector);
  PlayDurations(pipeline, durations_us, ticks_per_second, start_ticks);
  return trains;
}

}  // namespace sfh56
