#include "daemon/code_router.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace sfh56::daemon {

std::string StdoutLine(const CodeEvent& event) {
  char repeat[8];
  std::snprintf(repeat, sizeof repeat, "%02X", event.repeat & kMaxRepeat);
  return event.code + " " + repeat + " " + event.name + " " + event.remote + "\n";
}

std::string LircdLine(const CodeEvent& event) {
  std::string code = event.code;
  while (code.size() > 16 && code.front() == '0') code.erase(0, 1);
  if (code.size() < 16) code.insert(0, 16 - code.size(), '0');
  for (char& c : code) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  char repeat[8];
  std::snprintf(repeat, sizeof repeat, "%02x", event.repeat & kMaxRepeat);
  return code + " " + repeat + " " + event.name + " " + event.remote + "\n";
}

void StreamOutput::OnCode(const CodeEvent& event) {
  const std::string line = StdoutLine(event);
  std::fwrite(line.data(), 1, line.size(), stream_);
  std::fflush(stream_);
}

void CodeRouter::Reload(CodeMap map) {
  map_ = std::move(map);
  for (CodeOutput* output : outputs_) output->OnReload();
}

void CodeRouter::OnTrainCode(std::string_view code, int64_t first_edge_ns, int64_t last_edge_ns,
                             bool shift_coded) {
  const bool repeat =
      code == last_code_ && !SequenceTimedOut(first_edge_ns, last_end_ns_, kSequenceGapNs);
  repeat_ = repeat ? std::min(repeat_ + 1, kMaxRepeat) : 0;
  last_code_ = code;
  last_end_ns_ = last_edge_ns;
  ButtonName button = map_.Lookup(code);
  const CodeEvent event{std::string(code),        repeat_,      std::move(button.name),
                        std::move(button.remote), last_edge_ns, shift_coded};
  for (CodeOutput* output : outputs_) output->OnCode(event);
}

}  // namespace sfh56::daemon
