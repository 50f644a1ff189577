#pragma once
// A capture source of the daemon: one device or file, read on a thread of its own.

#include <string>

#include "daemon/pulse_sink.h"

namespace sfh56::daemon {

class Source {
 public:
  virtual ~Source() = default;

  enum class End {
    kStopped,   // Stop() was called
    kFinished,  // the input has ended (a replay)
    kLost,      // the device went away; Open() again later
  };

  // Opens (or reopens) the device; false with a one-line reason.
  virtual bool Open(std::string& error) = 0;
  // Reads and pushes into sink until one of the ends; error says why for kLost.
  virtual End Run(PulseSink& sink, std::string& error) = 0;
  // Called from another thread: makes Run return kStopped soon.
  virtual void Stop() = 0;
  // True when the source's times run on a clock of their own (a fast replay, a kernel
  // device's durations): a train then ends only by the source's changes and Quiet
  // calls, never by the daemon's clock.
  virtual bool OwnClock() const = 0;
  // For messages: "lirc:/dev/lirc0".
  virtual std::string Name() const = 0;
};

}  // namespace sfh56::daemon
