#include "tools/sfh56d/learn.h"

#include <algorithm>
#include <fstream>
#include <istream>
#include <ostream>

#include "daemon/linux/run_loop.h"
#include "tools/report/advisor.h"

namespace sfh56::daemon {
namespace {

// Collects one button's codes and the trains behind them.
class ButtonListener : public TrainOutlet {
 public:
  void OnTrainCode(std::string_view code, int64_t, int64_t, bool) override {
    learner.Add(std::string(code));
  }
  ButtonLearner learner;
  std::vector<PulseTrain> trains;
};

// The advisor's view of a button: its trains, split into presses at the sequence time-out.
report::Remote AsRemote(const std::string& button, const std::vector<PulseTrain>& trains) {
  report::Remote remote;
  remote.name = "learn";
  remote.named = true;
  int64_t last_ticks = 0;
  for (const PulseTrain& train : trains) {
    const int64_t first_ticks = train.EdgeCount() > 0 ? train.Edges[0].Timestamp : last_ticks;
    if (remote.presses.empty() ||
        SequenceTimedOut(first_ticks, last_ticks,
                         SequenceGapTicksFor(static_cast<int64_t>(train.TicksPerSecond)))) {
      remote.presses.push_back({button, button, {}, false, {}});
    }
    remote.presses.back().trains.push_back(train);
    if (train.EdgeCount() > 0) last_ticks = train.Edges[train.EdgeCount() - 1].Timestamp;
  }
  return remote;
}

}  // namespace

bool ButtonLearner::Add(const std::string& code) {
  const auto it = std::find(codes_.begin(), codes_.end(), code);
  if (it == codes_.end()) {
    codes_.push_back(code);
    counts_.push_back(1);
  } else if (++counts_[static_cast<size_t>(it - codes_.begin())] >= 2 && learned_.empty()) {
    learned_ = code;
  }
  return Learned();
}

int RunLearn(Source& source, const PipelineSettings& settings, const std::string& file,
             std::istream& in, std::ostream& out) {
  std::vector<std::pair<std::string, std::string>> learned;  // code, name
  for (;;) {
    out << "Button name (an empty line ends): " << std::flush;
    std::string name;
    if (!std::getline(in, name) || name.empty()) break;
    if (name.find_first_of(" \t#") != std::string::npos) {
      out << "A name is one word without \"#\".\n";
      continue;
    }
    out << "Press " << name << " until its code has come twice.\n" << std::flush;
    ButtonListener listener;
    PipelineInput input(settings, listener);
    input.on_train = [&](const PulseTrain& train) { listener.trains.push_back(train); };
    std::string error;
    bool stopped = false;
    RunHooks hooks;
    hooks.done = [&] { return listener.learner.Learned(); };
    hooks.stopped_by_signal = &stopped;
    if (!source.Open(error)) {
      out << "sfh56d: " << error << "\n";
      return 1;
    }
    RunDaemon(source, input, hooks);
    if (stopped || !listener.learner.Learned()) break;
    const std::string& code = listener.learner.Code();
    out << name << ": " << code << "\n";
    if (const auto taken = std::find_if(learned.begin(), learned.end(),
                                        [&](const auto& entry) { return entry.first == code; });
        taken != learned.end()) {
      out << "Warning: " << taken->second << " gave this code already; " << name
          << " is not kept.\n";
      continue;
    }
    if (listener.learner.Codes().size() > 1) {
      out << "Warning: " << name << " gave several codes:";
      for (const std::string& other : listener.learner.Codes()) out << " " << other;
      out << "\n";
      const report::Advice advice =
          report::Advise(AsRemote(name, listener.trains),
                         {settings.bit_mask, settings.command_order,
                          settings.stable_codes ? Decoding::kStable : Decoding::kClassic});
      for (const std::string& sentence : advice.sentences) out << "  " << sentence << "\n";
    }
    learned.emplace_back(code, name);
  }

  std::ofstream map(file, std::ios::trunc);
  map << "# Written by sfh56d learn: CODE NAME [REMOTE]\n";
  for (const auto& [code, name] : learned) map << code << " " << name << "\n";
  map.close();
  if (!map) {
    out << "sfh56d: " << file << ": cannot be written\n";
    return 1;
  }
  out << learned.size() << " buttons written to " << file << "\n";
  return 0;
}

}  // namespace sfh56::daemon
