#pragma once
// Recorded infrared signals as lists of durations (microseconds, starting with a mark,
// alternating mark and space) turned into the pulse trains the receiver would capture.
// Shared by the decoding tool, the recorded-signal tests and benchmarks.
//
// The pin idles set (status kIdleStatus, the DSR bit) and is clear (status 0)
// during a mark, as the demodulator drives it; after the last mark it returns to idle.
// Times are converted to ticks as start_ticks + round(microseconds x rate / 10^6),
// from the start of the recording.

#include <cstdint>
#include <span>
#include <vector>

#include "common/pulse_train.h"

namespace sfh56 {

class TrainPipeline;

inline constexpr double kReplayTicksPerSecond = 1000000.0;

// The whole recording as one train: durations.size() + 1 edges. False (train emptied)
// when that exceeds the train's capacity of 301 records, when the rate is not positive
// and finite, or when a duration is negative or not finite.
bool DurationsToTrain(std::span<const double> durations_us, double ticks_per_second,
                      PulseTrain& train, int64_t start_ticks = 0);

// Plays the recording into the pipeline on its durations path: a serial capture started
// at start_ticks with the given tick rate, the durations from a mark, alternating, then
// the device's time-out. False, with nothing played, for an invalid rate or duration.
bool PlayDurations(TrainPipeline& pipeline, std::span<const double> durations_us,
                   double ticks_per_second, int64_t start_ticks = 0);

// The trains serial capture records when the recording is played on its line in
// waiting mode (PriorityLevel 7 or less, the default), in order, empty ones included:
// every change is sampled when it happens, the train assembler ends each train, and the
// drain discards the changes that follow it. Decoding and delivery take no time. Empty
// for an invalid rate or duration, as DurationsToTrain. With busy_polling, the trains of
// busy mode instead (PriorityLevel 8, and ring-0 capture at every level): a train ends
// 30 ms after its start below ten edges, 12.8 ms after its last edge from then on.
std::vector<PulseTrain> ReplayedTrains(std::span<const double> durations_us,
                                       double ticks_per_second, int64_t start_ticks = 0,
                                       bool busy_polling = false);

}  // namespace sfh56
