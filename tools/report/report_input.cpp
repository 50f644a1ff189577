#include "tools/report/report_input.h"

#include <map>
#include <utility>

#include "decode/durations.h"

namespace sfh56::report {

std::vector<Remote> RemotesFromRecordings(const std::vector<tools::Recording>& recordings,
                                          bool named, const std::string& default_name) {
  std::vector<Remote> remotes;
  std::map<std::string, size_t> index;
  for (const tools::Recording& recording : recordings) {
    std::string remote_name = default_name;
    std::string button = recording.name;
    const size_t tab = recording.name.find('\t');
    if (named && tab != std::string::npos) {
      remote_name = recording.name.substr(0, tab);
      button = recording.name.substr(tab + 1);
    }
    auto [it, added] = index.emplace(remote_name, remotes.size());
    if (added) remotes.push_back({remote_name, named, {}});
    Press press;
    press.label = button;
    if (named) press.button = std::move(button);
    press.trains = SplitIntoTrains(recording.durations_us, kReplayTicksPerSecond);
    remotes[it->second].presses.push_back(std::move(press));
  }
  return remotes;
}

Remote RemoteFromTrains(std::vector<PulseTrain> trains, const std::string& name) {
  Remote remote{name, false, {}};
  for (size_t i = 0; i < trains.size(); ++i) {
    Press press;
    press.label = "train " + std::to_string(i + 1);
    press.trains.push_back(trains[i]);
    remote.presses.push_back(std::move(press));
  }
  return remote;
}

InputSize SizeOf(const std::vector<Remote>& remotes) {
  InputSize size;
  for (const Remote& remote : remotes) {
    size.presses += static_cast<int>(remote.presses.size());
    for (const Press& press : remote.presses) size.trains += static_cast<int>(press.trains.size());
  }
  return size;
}

}  // namespace sfh56::report
