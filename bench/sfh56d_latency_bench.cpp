// sfh56d: from a train's end (its quiet limit passed) to its line read by an IR-daemon
// socket client. Recorded presses are replayed in real time through the daemon's run loop
// and socket; a client thread stamps every line it reads.
//
//   sfh56d_latency_bench [recordings.tsv] [presses]

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/sfh56d_latency.h"
#include "daemon/linux/lircd_socket.h"
#include "daemon/linux/run_loop.h"
#include "daemon/pipeline_input.h"
#include "tools/sfh56d/replay_source.h"

namespace {

using namespace sfh56::daemon;
using namespace sfh56::daemon::bench;

}  // namespace

int main(int argc, char** argv) {
  BlockDaemonSignals();
  const std::string recordings = argc > 1 ? argv[1] : SFH_DEFAULT_RECORDINGS;
  const int presses = argc > 2 ? std::atoi(argv[2]) : 8;
  const std::string file = FirstPresses(recordings, presses, "sfh56d-latency");
  if (file.empty()) return 1;
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
  return ReportLatency(received_ns, ends.ends_ns, "lines read", "socket line");
}
