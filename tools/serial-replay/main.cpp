// serial-replay: plays recorded remote-control button presses on the DSR line of a
// simulated serial receiver, runs the serial capture on the virtual clock, and prints
// per press the codes the host receives.
//
//   serial-replay [--order N] [--bitmask N] [--level N] [recordings.tsv]

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/sim/sim_message_boxes.h"
#include "platform/sim/sim_recordings.h"
#include "platform/sim/sim_replay.h"
#include "platform/sim/sim_serial_port.h"

namespace {

using namespace sfh56;

constexpr int64_t kStartNs = 1000 * sim::kReplayNsPerMs;
constexpr int64_t kPressPauseUs = 1000000;  // more than the half-second sequence time-out

// The host: collects the codes per press.
class PrintingHost : public HostServices {
 public:
  bool PluginOpen() const override { return true; }
  void DeliverCode(const std::string& code) override { codes[current_press].push_back(code); }
  std::string TranslateText(const std::string& text) override { return text; }
  platform::RootKey SettingsRootKey() const override { return platform::RootKey::kCurrentUser; }

  std::vector<std::vector<std::string>> codes;
  size_t current_press = 0;
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
  const auto presses = sim::ReadRecordings(in, &skipped);
  if (presses.empty()) {
    std::fprintf(stderr, "serial-replay: no recordings in %s\n", path.c_str());
    return 1;
  }

  sim::SimClock clock;
  sim::ScriptedScheduler scheduler(clock);
  sim::SimSerialPorts ports(clock);
  sim::SimMessageBoxes boxes;
  PrintingHost host;
  host.codes.resize(presses.size());

  sim::WaveformBuilder waveform(kStartNs);
  std::vector<int64_t> press_ends;
  for (const auto& press : presses) {
    waveform.Durations(press.durations_us);
    press_ends.push_back(waveform.CursorNs());
    waveform.Pause(kPressPauseUs);
  }
  sim::SimPortConfig config;
  config.waveform = waveform.Build();
  ports.AddPort("COM1", config);

  sim::ReplayReceiver receiver(clock, scheduler, host);
  receiver.settings.CommandOrder = order;
  receiver.settings.BitMask = bit_mask;
  receiver.settings.PriorityLevel = static_cast<uint8_t>(level > 8 ? 8 : level);
  receiver.on_train_captured = [&](const PulseTrain& train) {
    if (train.EdgeCount() == 0) return;
    const int64_t first_ns = train.Edges[0].Timestamp * sim::ReplayReceiver::kNsPerTick;
    size_t press = 0;
    while (press + 1 < press_ends.size() && first_ns > press_ends[press]) ++press;
    host.current_press = press;
  };
  scheduler.OnIdle([&] { receiver.RequestTerminate(); });
  SerialCaptureState state;
  RunSerialCapture(receiver, {scheduler, ports, boxes}, state);

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
  std::printf("\nvirtual time %.3f s\n", static_cast<double>(clock.NowNs()) / 1e9);
  return 0;
}
