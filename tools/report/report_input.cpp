#include "tools/report/report_input.h"

#include <map>
#include <utility>

#include "tools/irdecode_input.h"

namespace sfh56::report {

std::vector<Remote> RemotesFromRecordings(const std::vector<tools::Recording>& recordings,
                                          bool named, const std::string& default_name,
                                          char remote_separator) {
  std::vector<Remote> remotes;
  std::map<std::string, size_t> index;
  for (const tools::Recording& recording : recordings) {
    std::string remote_name = default_name;
    std::string button = recording.name;
    const size_t split = recording.name.rfind(remote_separator);
    if (named && split != std::string::npos) {
      remote_name = recording.name.substr(0, split);
      button = recording.name.substr(split + 1);
    }
    auto [it, added] = index.emplace(remote_name, remotes.size());
    if (added) remotes.push_back({remote_name, named, false, {}});
    Press press;
    press.label = button;
    if (named) press.button = std::move(button);
    press.trains = tools::RecordingTrains(recording);
    remotes[it->second].presses.push_back(std::move(press));
  }
  return remotes;
}

std::vector<Remote> RemotesFromInput(const tools::ParsedInput& input,
                                     const std::string& file_name) {
  using tools::InputFormat;
  if (!input.trains.empty()) {
    Remote remote{file_name, false, true, {}};
    for (const tools::CapturedTrain& captured : input.trains) {
      Press press;
      press.label = captured.name;
      press.trains.push_back(captured.train);
      if (captured.logged.has_value()) {
        press.has_recorded_code = true;
        press.recorded_code = captured.logged->code;
      }
      remote.presses.push_back(std::move(press));
    }
    return {std::move(remote)};
  }
  // Recordings named only after their line carry no button names.
  bool any_name = false;
  for (const tools::Recording& r : input.recordings) {
    any_name |= !(r.name.starts_with("line ") &&
                  r.name.find_first_not_of("0123456789", 5) == std::string::npos);
  }
  return RemotesFromRecordings(input.recordings, any_name && input.format != InputFormat::kMode2,
                               file_name, input.format == InputFormat::kLircdConf ? '/' : '\t');
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
