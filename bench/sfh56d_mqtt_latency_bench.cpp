// sfh56d: from a train's end (its quiet limit passed) to its code message at an MQTT
// subscriber. Recorded presses are replayed in real time through the daemon's run loop
// and its MQTT output to a broker; a subscriber (libmosquitto, in this process) stamps
// every message on the code topic as it arrives.
//
//   sfh56d_mqtt_latency_bench PORT [recordings.tsv] [presses]
//
// PORT: a broker on 127.0.0.1, e.g. one started for the run with `mosquitto -p PORT`.

#include <mosquitto.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/sfh56d_latency.h"
#include "daemon/linux/mqtt_output.h"
#include "daemon/linux/run_loop.h"
#include "daemon/pipeline_input.h"
#include "tools/sfh56d/replay_source.h"

namespace {

using namespace sfh56::daemon;
using namespace sfh56::daemon::bench;

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
  const std::string file = FirstPresses(recordings, presses, "sfh56d-mqtt-latency");
  if (file.empty()) return 1;

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
  return ReportLatency(arrivals.ns, ends.ends_ns, "messages received",
                       "MQTT code message at a subscriber");
}
