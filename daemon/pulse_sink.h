#pragma once
// What a capture source hands the daemon: the receiver line's changes with their times,
// and the few things a device reports besides. Times are nanoseconds of one clock per
// source (CLOCK_MONOTONIC for live devices, a clock of its own for a fast replay).

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/pulse_train.h"

namespace sfh56::daemon {

inline constexpr int64_t kNsPerUs = 1000;
inline constexpr int64_t kNsPerMs = 1000000;
inline constexpr double kNsTicksPerSecond = 1e9;

class PulseSink {
 public:
  virtual ~PulseSink() = default;
  // The line changed at at_ns: to a mark (the demodulator sees carrier) or to a space.
  virtual void Edge(bool mark, int64_t at_ns) = 0;
  // The line has not changed up to until_ns (a device's time-out, the end of a replay).
  virtual void Quiet(int64_t until_ns) = 0;
  // Changes were lost up to at_ns (a device's overflow, edges missed between two waits):
  // the train being assembled at that time, or the next one if none is, must not be
  // decoded. A train whose quiet limit went by before at_ns is not the one that lost them.
  virtual void Lost(int64_t at_ns) = 0;
  // A train assembled elsewhere (a service log or an edge line being replayed).
  virtual void Captured(const PulseTrain& train) = 0;
  // For the daemon's clock, from a source stamped on CLOCK_MONOTONIC: every change the
  // source has yet to push is stamped at or after at_ns (kNoChangeYet: none is in hand;
  // kChangeInHand: one is being stamped and pushed). Silence is taken as real only up to
  // there, so a source thread that is held up between stamping a change and pushing it
  // never makes a train end early.
  virtual void NoChangeBefore(int64_t /*at_ns*/) {}
};

inline constexpr int64_t kNoChangeYet = INT64_MAX;
inline constexpr int64_t kChangeInHand = INT64_MIN;

// A PulseSink that assembles trains and keeps time: the daemon's run loop asks it when
// the line's silence ends something, and ends a train in progress when it stops.
class TrainInput : public PulseSink {
 public:
  // When Quiet must be called next on the daemon's clock; nothing while the line idles.
  virtual std::optional<int64_t> Deadline() const = 0;
  // Ends a train in progress as if the line had gone quiet.
  virtual void Flush() = 0;
};

// Pulse and space durations, as kernel devices report them, turned into edges: a pulse
// arrives when it has ended, so both its edges are known at once; a space only moves
// the clock on. A time-out says how long the line has been quiet after the last pulse.
class DurationClock {
 public:
  explicit DurationClock(PulseSink& sink) : sink_(sink) {}

  bool Anchored() const { return anchored_; }
  // Where the clock stands: the end of the last duration. A new anchor never moves it
  // back, so that the line's changes stay in order after an overflow or a reopen.
  void Anchor(int64_t at_ns) {
    if (!started_ || at_ns > cursor_ns_) cursor_ns_ = at_ns;
    started_ = true;
    anchored_ = true;
  }
  // The durations no longer add up (samples were lost): the next pulse anchors again.
  void Unanchor() { anchored_ = false; }
  int64_t CursorNs() const { return cursor_ns_; }

  void Pulse(uint32_t us) {
    sink_.Edge(true, cursor_ns_);
    cursor_ns_ += static_cast<int64_t>(us) * kNsPerUs;
    sink_.Edge(false, cursor_ns_);
  }
  void Space(uint32_t us) { cursor_ns_ += static_cast<int64_t>(us) * kNsPerUs; }
  void Timeout(uint32_t us) { sink_.Quiet(cursor_ns_ + static_cast<int64_t>(us) * kNsPerUs); }

 private:
  PulseSink& sink_;
  int64_t cursor_ns_ = 0;
  bool started_ = false;
  bool anchored_ = false;
};

// Kernel IR devices' mode-2 samples: the type in bits 31-24, microseconds in bits 23-0.
enum class SampleType : uint8_t {
  kSpace = 0,
  kPulse = 1,
  kFrequency = 2,
  kTimeout = 3,
  kOverflow = 4
};
inline constexpr uint32_t kSampleValueMask = 0x00FFFFFF;

// Hands count samples read at now_ns to sink through clock: pulses and spaces as
// durations, a time-out as silence, an overflow as changes lost after the last duration
// (the clock then starts again from the next pulse); other types are skipped.
void FeedSamples(const uint32_t* samples, size_t count, int64_t now_ns, DurationClock& clock,
                 PulseSink& sink);

}  // namespace sfh56::daemon
