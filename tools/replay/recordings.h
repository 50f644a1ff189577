#pragma once
// Recorded infrared signals for replay through a simulated receiver: tab-separated lines
// of source, remote, button, carrier frequency (may be empty) and the durations in
// microseconds (mark, space, mark, ...), space-separated.

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace sfh56::replay {

struct Recording {
  std::string source;
  std::string remote;
  std::string button;
  std::vector<int64_t> durations_us;
};

// Lines that do not have five fields or whose durations are not all positive integers
// are skipped; skipped counts them when given.
std::vector<Recording> ReadRecordings(std::istream& in, int* skipped = nullptr);

}  // namespace sfh56::replay
