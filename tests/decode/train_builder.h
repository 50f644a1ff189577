#pragma once
// Builds pulse trains for tests from interval durations in seconds, with nanosecond
// ticks, so a test reads as the signal it describes.

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "common/pulse_train.h"

namespace sfh56::test {

inline constexpr double kNanoTicksPerSecond = 1e9;

// Intervals alternate starting with a mark (pin clear) unless first_is_mark is false.
// The first edge is at base_ticks; the pin idles after the last interval only when that
// interval was a mark.
inline PulseTrain TrainFromSeconds(const std::vector<double>& intervals_s,
                                   bool first_is_mark = true, int64_t base_ticks = 1'000'000'000) {
  PulseTrain train;
  DurationsToEdges(intervals_s, 1.0, kNanoTicksPerSecond, train, base_ticks, first_is_mark);
  return train;
}

// A space-coded frame: 9 ms / 4.5 ms leader, bits as 0.5625 ms mark + 0.5625 or
// 1.6875 ms space, a closing 0.5625 ms mark. jitter(i) scales interval i.
template <typename Jitter>
std::vector<double> SpaceCodedFrame(const std::vector<int>& bits, Jitter jitter) {
  std::vector<double> d = {0.009, 0.0045};
  for (int bit : bits) {
    d.push_back(0.0005625);
    d.push_back(bit != 0 ? 0.0016875 : 0.0005625);
  }
  d.push_back(0.0005625);
  for (size_t i = 0; i < d.size(); ++i) d[i] *= jitter(i);
  return d;
}

inline std::vector<double> SpaceCodedFrame(const std::vector<int>& bits) {
  return SpaceCodedFrame(bits, [](size_t) { return 1.0; });
}

inline std::vector<int> BitsOf(uint64_t value, int count) {
  std::vector<int> bits;
  for (int i = count - 1; i >= 0; --i) bits.push_back(static_cast<int>((value >> i) & 1));
  return bits;
}

}  // namespace sfh56::test
