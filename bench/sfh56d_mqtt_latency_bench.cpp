// sfh56d: from a train's end (its quiet limit passed) to its code message at an MQTT
// subscriber. Recorded presses are replayed in real time through the daemon's run loop
// and its MQTT output to a broker; a subscriber (libmosquitto, in this process) stamps
// every message on the code topic as it arrives.
//
//   sfh56d_mqtt_latency_bench PORT [recordings.tsv] [presses]
//
// PORT: a broker on 127.0.0.1, e.g. one started for the run with `mosquitto -p PORT`.

#include <mosquitto.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "daemon/code_router.h"
#include "daemon/linux/mqtt_output.h"
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

struct Arrivals {
  std::mutex mutex;
  std::vector<int64_t> ns;
  std::atomic<bool> subscribed{false};
};

}  // namespace

int main(int argc, char** argv) {
  BlockDaemonSignals();
  if (argc < 2) {
    std::fprintf(stderr, "usage: sfh56d_mqtt_latency_bench PORT [recordings.tsv] [presses]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const std::string recordings = argc > 2 ? argv[2] : SFH_DEFAULT_RECORDINGS;
  const int presses = argc > 3 ? std::atoi(argv[3]) : 8;
  const std::string file = "/tmp/sfh56d-mqtt-latency-" + std::to_string(getpid()) + ".tsv";
  const std::string command =
      "head -" + std::to_string(presses) + " '" + recordings + "' > '" + file + "'";
  if (std::system(command.c_str()) != 0) return 1;

  mosquitto_lib_init();
  Arrivals arrivals;
  mosquitto* subscriber = mosquitto_new(nullptr, true, &arrivals);
  mosquitto_connect_callback_set(subscriber, [](mosquitto* m, void*, int) {
    mosquitto_subscribe(m, nullptr, "sfh56/bench/code", 1);
  });
  mosquitto_subscribe_callback_set(subscriber, [](mosquitto*, void* self, int, int, const int*) {
    static_cast<Arrivals*>(self)->subscribed = true;
  });
  mosquitto_message_callback_set(subscriber, [](mosquitto*, void* self, const mosquitto_message*) {
    auto* got = static_cast<Arrivals*>(self);
    const int64_t now = MonotonicNs();
    std::lock_guard lock(got->mutex);
    got->ns.push_back(now);
  });
  if (mosquitto_connect(subscriber, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS ||
      mosquitto_loop_start(subscriber) != MOSQ_ERR_SUCCESS) {
    std::fprintf(stderr, "no broker at 127.0.0.1:%d\n", port);
    return 1;
  }
  while (!arrivals.subscribed) std::this_thread::sleep_for(std::chrono::milliseconds(10));

  TrainEnds ends;
  std::string error;
  mqtt::MqttOptions options;
  options.url = "mqtt://127.0.0.1:" + std::to_string(port);
  options.device_id = "bench";
  auto settings = MakeMqttSettings(options, error);
  if (!settings) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  size_t codes = 0;
  {
    MqttOutput mqtt(std::move(*settings), {});
    CodeRouter router;
    router.AddOutput(ends);
    router.AddOutput(mqtt);
    ReplaySource source(file, false);
    PipelineInput input({0, 16}, router);
    if (!source.Open(error)) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // connected before the first
    RunDaemon(source, input, RunHooks{});
    codes = ends.ends_ns.size();
  }  // the output sends what is left before it goes
  for (int waited_ms = 0; waited_ms < 2000; waited_ms += 10) {
    {
      std::lock_guard lock(arrivals.mutex);
      if (arrivals.ns.size() >= codes) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  mosquitto_disconnect(subscriber);
  mosquitto_loop_stop(subscriber, false);
  mosquitto_destroy(subscriber);
  std::remove(file.c_str());

  std::lock_guard lock(arrivals.mutex);
  if (arrivals.ns.size() != codes || codes == 0) {
    std::fprintf(stderr, "%zu messages received, %zu codes sent\n", arrivals.ns.size(), codes);
    return 1;
  }
  std::vector<double> latency_us;
  for (size_t i = 0; i < codes; ++i) {
    latency_us.push_back(static_cast<double>(arrivals.ns[i] - ends.ends_ns[i]) / 1000.0);
  }
  std::sort(latency_us.begin(), latency_us.end());
  const auto at = [&](double q) {
    return latency_us[static_cast<size_t>(q * (latency_us.size() - 1))];
  };
  std::printf(
      "train end -> MQTT code message at a subscriber, %zu codes: min %.0f us, median %.0f us, "
      "p90 %.0f us, max %.0f us\n",
      latency_us.size(), latency_us.front(), at(0.5), at(0.9), latency_us.back());
  return 0;
}
