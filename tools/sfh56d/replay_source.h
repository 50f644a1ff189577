#pragma once
// replay:FILE or replay:- (standard input): any file irdecode reads, played as the
// receiver line would carry it. Recordings are played one after another with a pause
// longer than the sequence time-out between them, in real time or, with --fast, as
// fast as possible on the replay's own clock; captured trains (edge lines, service
// logs) go to the decoder as they are.

#include <string>

#include "daemon/linux/stop_event.h"
#include "daemon/source.h"

namespace sfh56::daemon {

inline constexpr int64_t kReplayPauseNs = 600 * kNsPerMs;

class ReplaySource : public Source {
 public:
  ReplaySource(std::string path, bool fast);
  ~ReplaySource() override;

  bool Open(std::string& error) override;
  End Run(PulseSink& sink, std::string& error) override;
  void Stop() override;
  bool OwnClock() const override { return fast_; }
  std::string Name() const override { return "replay:" + path_; }

  // The input could not be read or held nothing to play.
  bool Failed() const { return failed_; }

 private:
  // Real time: waits until at_ns on CLOCK_MONOTONIC; false when stopped.
  bool WaitUntil(int64_t at_ns);
  // Reads the whole input; false when stopped first (standard input may be a pipe
  // that stays open).
  bool ReadAll(std::string& bytes);
  std::string path_;
  bool fast_;
  bool failed_ = false;
  StopEvent stop_;
};

}  // namespace sfh56::daemon
