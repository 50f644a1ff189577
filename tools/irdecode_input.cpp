#include "tools/irdecode_input.h"

#include <charconv>
#include <cmath>

#include "tools/replay/durations.h"

namespace sfh56::tools {
namespace {

std::vector<std::string_view> SplitWhitespace(std::string_view text) {
  std::vector<std::string_view> tokens;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
    const size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r') ++i;
    if (i > start) tokens.push_back(text.substr(start, i - start));
  }
  return tokens;
}

template <typename T>
bool ParseNumber(std::string_view token, T& value) {
  const char* end = token.data() + token.size();
  const auto [ptr, error] = std::from_chars(token.data(), end, value);
  return error == std::errc{} && ptr == end;
}

bool ParseFinite(std::string_view token, double& value) {
  return ParseNumber(token, value) && std::isfinite(value);
}

std::string Quoted(std::string_view token) {
  return "\"" + std::string(token.substr(0, 40)) + (token.size() > 40 ? "...\"" : "\"");
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// Calls f(line_number, line) for every line (without its line end).
template <typename F>
void ForEachLine(std::string_view text, F f) {
  int number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    f(++number, line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

}  // namespace

bool ParseEdgeLine(std::string_view line, PulseTrain& train, std::string& error) {
  train.LastEdgeIndex = -1;
  const std::vector<std::string_view> tokens = SplitWhitespace(line);
  if (tokens.empty()) {
    error = "empty line, expected TICKS_PER_SECOND STATUS TIMESTAMP ...";
    return false;
  }
  double ticks_per_second = 0.0;
  if (!ParseFinite(tokens[0], ticks_per_second)) {
    error = "tick rate " + Quoted(tokens[0]) + " is not a number";
    return false;
  }
  if (!(ticks_per_second > 0.0)) {
    error = "tick rate " + Quoted(tokens[0]) + " is not positive";
    return false;
  }
  if (tokens.size() % 2 == 0) {
    error = "the last edge has a status but no timestamp";
    return false;
  }
  const size_t edges = (tokens.size() - 1) / 2;
  if (edges > static_cast<size_t>(kEdgeCapacity)) {
    error =
        std::to_string(edges) + " edges, a train holds at most " + std::to_string(kEdgeCapacity);
    return false;
  }
  for (size_t e = 0; e < edges; ++e) {
    uint32_t status = 0;
    int64_t timestamp = 0;
    const std::string_view status_token = tokens[1 + 2 * e];
    const std::string_view time_token = tokens[2 + 2 * e];
    if (!ParseNumber(status_token, status)) {
      error = "edge " + std::to_string(e) + ": status " + Quoted(status_token) +
              " is not a number from 0 to 4294967295";
      return false;
    }
    if (!ParseNumber(time_token, timestamp)) {
      error = "edge " + std::to_string(e) + ": timestamp " + Quoted(time_token) +
              " is not a whole number of ticks";
      return false;
    }
    if (timestamp < 0) {
      error = "edge " + std::to_string(e) + ": timestamp is negative";
      return false;
    }
    if (e > 0 && timestamp <= train.Edges[e - 1].Timestamp) {
      error = "edge " + std::to_string(e) + ": timestamp does not increase";
      return false;
    }
    train.Edges[e] = {status, timestamp};
  }
  train.TicksPerSecond = ticks_per_second;
  train.LastEdgeIndex = static_cast<int32_t>(edges) - 1;
  return true;
}

bool ParseDurations(std::string_view text, std::vector<double>& durations_us) {
  durations_us.clear();
  for (std::string_view token : SplitWhitespace(text)) {
    double d = 0.0;
    if (!ParseFinite(token, d) || d < 0.0) return false;
    durations_us.push_back(d);
  }
  return true;
}

std::vector<Recording> ParseMode2(std::string_view text, std::vector<InputError>& errors) {
  std::vector<Recording> recordings;
  Recording current;
  bool in_mark = false;
  auto finish = [&] {
    // A recording ends with a mark: a trailing space is idle time.
    if (!current.durations_us.empty() && !in_mark) current.durations_us.pop_back();
    if (!current.durations_us.empty()) recordings.push_back(std::move(current));
    current = Recording{};
    in_mark = false;
  };
  ForEachLine(text, [&](int number, std::string_view line) {
    const std::vector<std::string_view> tokens = SplitWhitespace(line);
    if (tokens.empty() || tokens[0].front() == '#') return;
    const bool pulse = tokens[0] == "pulse";
    const bool space = tokens[0] == "space";
    const bool timeout = tokens[0] == "timeout";
    if (!pulse && !space && !timeout) return;  // headers and other driver output
    double d = 0.0;
    if (tokens.size() != 2 || !ParseFinite(tokens[1], d) || d < 0.0) {
      errors.push_back({number, "expected \"" + std::string(tokens[0]) +
                                    " MICROSECONDS\" with a non-negative number"});
      return;
    }
    if (timeout || (space && d >= kMode2RecordingGapUs)) {
      finish();
      return;
    }
    if (space && current.durations_us.empty()) return;  // idle before the first pulse
    if (pulse && current.durations_us.empty()) {
      current.name = "line " + std::to_string(number);
    }
    if (pulse == in_mark && !current.durations_us.empty()) {
      current.durations_us.back() += d;  // two pulses (or spaces) in a row: one interval
    } else {
      current.durations_us.push_back(d);
    }
    in_mark = pulse;
  });
  finish();
  return recordings;
}

std::vector<Recording> ParseIrFile(std::string_view text, std::vector<InputError>& errors) {
  std::vector<Recording> recordings;
  std::string name;
  std::string type;
  ForEachLine(text, [&](int number, std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() == '#') return;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    const std::string_view key = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (key == "name") {
      name = std::string(value);
      type.clear();
    } else if (key == "type") {
      type = std::string(value);
    } else if (key == "data" && type == "raw") {
      Recording recording{name.empty() ? "line " + std::to_string(number) : name, {}};
      if (!ParseDurations(value, recording.durations_us) || recording.durations_us.empty()) {
        errors.push_back({number, "data: expected durations in microseconds"});
        return;
      }
      if (recording.durations_us.size() % 2 == 0) recording.durations_us.pop_back();
      recordings.push_back(std::move(recording));
    }
  });
  return recordings;
}

std::vector<Recording> ParseCorpusTsv(std::string_view text, std::vector<InputError>& errors) {
  std::vector<Recording> recordings;
  ForEachLine(text, [&](int number, std::string_view line) {
    if (Trim(line).empty() || line.front() == '#') return;
    std::vector<std::string_view> columns;
    size_t start = 0;
    for (;;) {
      const size_t tab = line.find('\t', start);
      columns.push_back(line.substr(start, tab - start));
      if (tab == std::string_view::npos) break;
      start = tab + 1;
    }
    if (columns.size() < 4) {
      errors.push_back({number, "expected source, remote, button, [carrier,] durations"});
      return;
    }
    Recording recording{std::string(columns[1]) + "\t" + std::string(columns[2]), {}};
    if (!ParseDurations(columns.back(), recording.durations_us) || recording.durations_us.empty()) {
      errors.push_back({number, "durations: expected microseconds separated by spaces"});
      return;
    }
    recordings.push_back(std::move(recording));
  });
  return recordings;
}

std::vector<TrainCode> DecodeRecording(const Recording& recording, int32_t bit_mask,
                                       DecoderState& state, ServiceLogSink* log) {
  std::vector<TrainCode> codes;
  for (const PulseTrain& train : ReplayedTrains(recording.durations_us, kReplayTicksPerSecond)) {
    const DecodeResult result = Decoder::Decode(train, bit_mask, state, log);
    codes.push_back(result.deliver ? TrainCode(std::string(result.code)) : std::nullopt);
  }
  return codes;
}

std::string JoinCodes(const std::vector<TrainCode>& codes) {
  std::string out;
  for (const TrainCode& code : codes) {
    if (!out.empty()) out.push_back(' ');
    out += !code.has_value() ? "-" : code->empty() ? "\"\"" : *code;
  }
  return out;
}

}  // namespace sfh56::tools
