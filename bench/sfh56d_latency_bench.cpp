// sfh56d: from a train's end (its quiet limit passed) to its line read by an IR-daemon
// socket client. Recorded presses are replayed in real time through the daemon's run loop
// and socket; a client thread stamps every line it reads.
//
//   sfh56d_latency_bench [recordings.tsv] [presses]

#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "daemon/code_router.h"
#include "daemon/linux/lircd_socket.h"
#include "daemon/linux/run_loop.h"
#include "daemon/pipeline_input.h"
#include "receiver/train_assembler.h"
#include "tools/sfh56d/replay_source.h"

namespace {

using namespace sfh56::daemon;

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// When each code's train ended: its last edge and the quiet limit of a long train.
struct TrainEnds : CodeOutput {
  void OnCode(const CodeEvent& event) override {
    ends_ns.push_back(event.train_end_ns + sfh56::kNextWaitMs * kNsPerMs);
  }
  std::vector<int64_t> ends_ns;
};

}  // namespace

int main(int argc, char** argv) {
  BlockDaemonSignals();
  const std::string recordings = argc > 1 ? argv[1] : SFH_DEFAULT_RECORDINGS;
  const int presses = argc > 2 ? std::atoi(argv[2]) : 8;
  // The first presses only: the replay runs in real time.
  const std::string file = "/tmp/sfh56d-latency-" + std::to_string(getpid()) + ".tsv";
  const std::string command =
      "head -" + std::to_string(presses) + " '" + recordings + "' > '" + file + "'";
  if (std::system(command.c_str()) != 0) return 1;
  const std::string path = "/tmp/sfh56d-latency-" + std::to_string(getpid()) + ".sock";

  TrainEnds ends;
  LircdSocket socket;
  std::string error;
  if (!socket.Listen(path, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  CodeRouter router;
  router.AddOutput(ends);
  router.AddOutput(socket);

  std::vector<int64_t> received_ns;
  std::thread client([&] {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
      const int64_t now = MonotonicNs();
      for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] == '\n') received_ns.push_back(now);
      }
    }
    close(fd);
  });
  // Let the client connect before the first press.
  ReplaySource source(file, false);
  PipelineInput input({0, 16}, router);
  RunHooks hooks;
  hooks.socket = &socket;
  if (!source.Open(error)) return 1;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  RunDaemon(source, input, hooks);  // closes the socket at the end
  client.join();
  std::remove(file.c_str());

  if (received_ns.size() != ends.ends_ns.size() || received_ns.empty()) {
    std::fprintf(stderr, "%zu lines read, %zu codes sent\n", received_ns.size(),
                 ends.ends_ns.size());
    return 1;
  }
  std::vector<double> latency_us;
  for (size_t i = 0; i < received_ns.size(); ++i) {
    latency_us.push_back(static_cast<double>(received_ns[i] - ends.ends_ns[i]) / 1000.0);
  }
  std::sort(latency_us.begin(), latency_us.end());
  const auto at = [&](double q) {
    return latency_us[static_cast<size_t>(q * (latency_us.size() - 1))];
  };
  std::printf(
      "train end -> socket line, %zu codes: min %.0f us, median %.0f us, p90 %.0f us, max %.0f "
      "us\n",
      latency_us.size(), latency_us.front(), at(0.5), at(0.9), latency_us.back());
  return 0;
}
