// serial-replay: plays recorded remote-control button presses on the DSR line of a
// simulated serial receiver, runs the receiver thread (TCommThread) with its serial
// capture on the virtual clock, and prints per press the codes the host receives.
//
//   serial-replay [--order N] [--bitmask N] [--level N] [recordings.tsv]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_serial_port.h"
#include "receiver/comm_thread.h"
#include "tools/replay/recordings.h"

namespace {

using namespace sfh56;

constexpr int64_t kStartNs = 1000000000;
constexpr int64_t kPressPauseUs = 1000000;  // more than the half-second sequence time-out

// The host: collects the codes per press, telling the press by the virtual time of the
// delivery.
class PrintingHost : public HostServices {
 public:
  PrintingHost(sim::SimClock& clock, std::vector<int64_t> press_starts)
      : codes(press_starts.size()), clock_(clock), press_starts_(std::move(press_starts)) {}
  bool PluginOpen() const override { return true; }
  void DeliverCode(const std::string& code) override {
    size_t press = 0;
    while (press + 1 < press_starts_.size() && clock_.NowNs() >= press_starts_[press + 1]) {
      ++press;
    }
    codes[press].push_back(code);
  }
  std::string TranslateText(const std::string& text) override { return text; }
  platform::RootKey SettingsRootKey() const override { return platform::RootKey::kCurrentUser; }

  std::vector<std::vector<std::string>> codes;

 private:
  sim::SimClock& clock_;
  std::vector<int64_t> press_starts_;
};

int Usage() {
  std::fprintf(stderr, "usage: serial-replay [--order N] [--bitmask N] [--level N] [file.tsv]\n");
  return 2;
}

bool ParseInt(const char* text, int low, int high, int& out) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < low || value > high) return false;
  out = static_cast<int>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int order = 0;
  int bit_mask = 16;
  int level = 7;
  std::string path = SFH_DEFAULT_RECORDINGS;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    int* target = arg == "--order"     ? &order
                  : arg == "--bitmask" ? &bit_mask
                  : arg == "--level"   ? &level
                                       : nullptr;
    if (target != nullptr) {
      if (i + 1 >= argc || !ParseInt(argv[++i], 0, 99, *target)) return Usage();
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage();
    } else {
      path = arg;
    }
  }

  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "serial-replay: cannot read %s\n", path.c_str());
    return 1;
  }
  int skipped = 0;
  const auto presses = replay::ReadRecordings(in, &skipped);
  if (presses.empty()) {
    std::fprintf(stderr, "serial-replay: no recordings in %s\n", path.c_str());
    return 1;
  }

  sim::SimPlatform sim;
  sim::SimSerialPorts ports(sim.clock);
  sim::SimRing0 ring0(sim.clock, sim.counters, ports);
  platform::Platform platform{sim.counters, sim.scheduler,     ports,
                              sim.registry, sim.message_boxes, sim.host_ipc,
                              sim.files,    sim.modules,       ring0};

  sim::WaveformBuilder waveform(kStartNs);
  std::vector<int64_t> press_starts;
  for (const auto& press : presses) {
    press_starts.push_back(waveform.CursorNs());
    waveform.Durations(press.durations_us).Pause(kPressPauseUs);
  }
  const int64_t played_ns = waveform.CursorNs() - kPressPauseUs * 1000;
  sim::SimPortConfig config;
  config.waveform = waveform.Build();
  ports.AddPort("COM1", config);

  PrintingHost host(sim.clock, press_starts);
  {
    TCommThread receiver(platform, host);
    receiver.Settings().ComName = "COM1";
    receiver.Settings().CommandOrder = order;
    receiver.Settings().BitMask = bit_mask;
    receiver.Settings().PriorityLevel = static_cast<uint8_t>(level > 8 ? 8 : level);
    receiver.SaveSettings();  // the thread loads them when it first runs
    if (!receiver.Start()) {
      std::fprintf(stderr, "serial-replay: the capture did not start\n");
      return 1;
    }
    // The receiver thread runs on the virtual clock. Once the last press is played,
    // captured and drained it waits for the host's next request: the clock stands still.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int64_t seen_ns = -1;
    while (std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const int64_t now_ns = sim.clock.NowNs();
      if (now_ns > played_ns && now_ns == seen_ns) break;
      seen_ns = now_ns;
    }
    receiver.Stop();
    if (!receiver.TerminateAndWait()) {
      std::fprintf(stderr, "serial-replay: the receiver thread did not end\n");
      return 1;
    }
  }

  std::printf(
      "Replayed %zu button presses from %s on COM1 (DSR), CommandOrder %d, "
      "BitMask %d, PriorityLevel %d%s\n\n",
      presses.size(), path.c_str(), order, bit_mask, level, skipped ? " (some lines skipped)" : "");
  std::string last_remote;
  for (size_t p = 0; p < presses.size(); ++p) {
    if (presses[p].remote != last_remote) {
      last_remote = presses[p].remote;
      std::printf("%s\n", last_remote.c_str());
    }
    std::string line;
    for (const auto& code : host.codes[p]) line += (line.empty() ? "" : " ") + code;
    std::printf("  %-10s %2zu frame code(s): %s\n", presses[p].button.c_str(), host.codes[p].size(),
                line.empty() ? "(none)" : line.c_str());
  }
  std::printf("\nvirtual time %.3f s\n", static_cast<double>(sim.clock.NowNs()) / 1e9);
  return 0;
}
