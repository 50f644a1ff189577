#include "tools/replay/recordings.h"

#include <charconv>
#include <sstream>

namespace sfh56::replay {

namespace {

// A duration above an hour is not a recording.
constexpr int64_t kMaxDurationUs = 3600LL * 1000 * 1000;

bool ParseDurations(const std::string& text, std::vector<int64_t>& out) {
  std::istringstream words(text);
  std::string word;
  while (words >> word) {
    int64_t value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || value <= 0 ||
        value > kMaxDurationUs) {
      return false;
    }
    out.push_back(value);
  }
  return !out.empty();
}

}  // namespace

std::vector<Recording> ReadRecordings(std::istream& in, int* skipped) {
  std::vector<Recording> result;
  int bad = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> fields;
    std::istringstream parts(line);
    std::string field;
    while (std::getline(parts, field, '\t')) fields.push_back(field);
    Recording recording;
    if (fields.size() != 5 || !ParseDurations(fields[4], recording.durations_us)) {
      ++bad;
      continue;
    }
    recording.source = fields[0];
    recording.remote = fields[1];
    recording.button = fields[2];
    result.push_back(std::move(recording));
  }
  if (skipped != nullptr) *skipped = bad;
  return result;
}

}  // namespace sfh56::replay
