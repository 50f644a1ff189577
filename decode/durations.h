#pragma once
// Recorded infrared signals as lists of durations (microseconds, starting with a mark,
// alternating mark and space) turned into the pulse trains the receiver would capture.
// Shared by the decoding tool, the recorded-signal tests and the replay of recordings
// through the simulated serial receiver.
//
// The pin idles set (status kReplayIdleStatus, the DSR bit) and is clear (status 0)
// during a mark, as the demodulator drives it; after the last mark it returns to idle.
// Times are converted to ticks as start_ticks + round(microseconds x rate / 10^6),
// from the start of the recording.

#include <cstdint>
#include <span>
#include <vector>

#include "common/pulse_train.h"

namespace sfh56 {

inline constexpr uint32_t kReplayIdleStatus = 0x20;  // MS_DSR_ON
inline constexpr double kReplayTicksPerSecond = 1000000.0;

// How the serial capture splits a burst into trains (waiting mode, PriorityLevel 7 or
// less, the default): a train ends when no pin change comes within FirstWaitUs while
// fewer than MinEdgesForNextWait edges are recorded, or within NextWaitUs after that,
// or when MaxEdges are recorded. After each train the drain discards pin changes until
// DrainQuietUs pass without one (checked in steps of DrainQuietUs from the train's end).
// Decoding and delivery are taken to cost no time.
struct CaptureTimings {
  double FirstWaitUs = 30000.0;
  double NextWaitUs = 13000.0;
  int MinEdgesForNextWait = 10;
  int MaxEdges = kMaxCapturedEdges;
  double DrainQuietUs = 6000.0;
};

// The whole recording as one train: durations.size() + 1 edges. False (train emptied)
// when that exceeds the train's capacity of 301 records, when the rate is not positive
// and finite, or when a duration is negative or not finite.
bool DurationsToTrain(std::span<const double> durations_us, double ticks_per_second,
                      PulseTrain& train, int64_t start_ticks = 0);

// The trains the serial capture would record from the recording, in order (empty trains
// included). Empty result for an invalid rate or duration, as DurationsToTrain.
std::vector<PulseTrain> SplitIntoTrains(std::span<const double> durations_us,
                                        double ticks_per_second, const CaptureTimings& timings = {},
                                        int64_t start_ticks = 0);

}  // namespace sfh56
