#include "platform/sim/sim_counters.h"

namespace sfh56::sim {

int64_t SimCounters::Read(int64_t hz) {
  const int64_t now_ns = clock_.NowNs();
  // 128-bit product: nanoseconds times gigahertz overflows 64 bits after a few seconds.
  const int64_t ticks = static_cast<int64_t>(static_cast<__int128>(now_ns) * hz / 1'000'000'000);
  clock_.Advance(read_cost_ns_.load());
  return ticks;
}

int64_t SimCounters::ReadPerformanceCounter() {
  return Read(performance_hz_.load());
}

int64_t SimCounters::ReadTimeStampCounter() {
  if (!has_tsc_.load()) return 0;
  return Read(time_stamp_hz_.load());
}

}  // namespace sfh56::sim
