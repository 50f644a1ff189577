#pragma once
// What the sfh56d latency benchmarks share: the recorded presses to replay, when each
// code's train ended, and the figures from the arrival times.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "daemon/code_router.h"
#include "daemon/linux/stop_event.h"
#include "receiver/train_assembler.h"

namespace sfh56::daemon::bench {

// When each code's train ended: its last edge and the quiet limit of a long train.
struct TrainEnds : CodeOutput {
  void OnCode(const CodeEvent& event) override {
    ends_ns.push_back(event.train_end_ns + sfh56::kNextWaitMs * kNsPerMs);
  }
  std::vector<int64_t> ends_ns;
};

// The first presses of the recordings in a file of this process's own ("/tmp/NAME-PID.tsv"):
// the replay runs in real time. Empty when it cannot be written.
inline std::string FirstPresses(const std::string& recordings, int presses, const char* name) {
  const std::string file = "/tmp/" + std::string(name) + "-" + std::to_string(getpid()) + ".tsv";
  const std::string command =
      "head -" + std::to_string(presses) + " '" + recordings + "' > '" + file + "'";
  return std::system(command.c_str()) == 0 ? file : std::string();
}

// Prints the latencies from each train's end to its arrival (what: the route) and
// returns the exit status: 1 when not every code arrived (arrivals: what arrived).
inline int ReportLatency(const std::vector<int64_t>& arrived_ns,
                         const std::vector<int64_t>& ends_ns, const char* arrivals,
                         const char* what) {
  if (arrived_ns.size() != ends_ns.size() || arrived_ns.empty()) {
    std::fprintf(stderr, "%zu %s, %zu codes sent\n", arrived_ns.size(), arrivals, ends_ns.size());
    return 1;
  }
  std::vector<double> latency_us;
  for (size_t i = 0; i < arrived_ns.size(); ++i) {
    latency_us.push_back(static_cast<double>(arrived_ns[i] - ends_ns[i]) / 1000.0);
  }
  std::sort(latency_us.begin(), latency_us.end());
  const auto at = [&](double q) {
    return latency_us[static_cast<size_t>(q * (latency_us.size() - 1))];
  };
  std::printf("train end -> %s, %zu codes: min %.0f us, median %.0f us, p90 %.0f us, max %.0f us\n",
              what, latency_us.size(), latency_us.front(), at(0.5), at(0.9), latency_us.back());
  return 0;
}

}  // namespace sfh56::daemon::bench
