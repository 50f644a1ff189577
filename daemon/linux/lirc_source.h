#pragma once
// A kernel IR receiver (/dev/lircN): whatever receiver the kernel drives (its serial
// driver for this circuit, GPIO, USB), read as mode-2 samples. The samples' durations
// are the clock: a pulse gives both its edges, a time-out ends the train, an overflow
// drops the train being assembled.

#include <atomic>
#include <cstdint>
#include <string>

#include "daemon/linux/stop_event.h"
#include "daemon/source.h"

namespace sfh56::daemon {

// The receive time-out asked of the driver: just over the longest quiet limit of a
// train (30 ms), so that the kernel's time-out ends every train as the rules do.
inline constexpr uint32_t kWantedTimeoutUs = 31000;

class LircSource : public Source {
 public:
  explicit LircSource(std::string path);
  ~LircSource() override;

  bool Open(std::string& error) override;
  End Run(PulseSink& sink, std::string& error) override;
  void Stop() override;
  bool OwnClock() const override { return true; }
  std::string Name() const override { return "lirc:" + path_; }

 private:
  void CloseDevice();
  std::string path_;
  int fd_ = -1;
  StopEvent stop_;
  // Where the durations' clock stood when the device went away, and when that was: after
  // a reopen the clock goes on from there by the time the device was away, never back.
  bool resumed_ = false;
  int64_t resume_ns_ = 0;
  int64_t lost_at_ns_ = 0;
};

}  // namespace sfh56::daemon
