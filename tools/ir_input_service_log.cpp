// The plugin's service log: per decoded train a header line, the edge lines (line A:
// time and level of an edge; line B: the next edge's time, the level and the interval),
// and the code line "Code= 48B7;  ShiftCoded=FALSE ; 1.15". Times are milliseconds
// relative to the train's first edge, with three decimals.

#include <cmath>

#include "tools/ir_input_internal.h"

namespace sfh56::tools {
namespace {

using text::SplitWhitespace;
using text::Trim;

// Times are written with three decimals; a B line's time and interval repeat values
// that were rounded separately.
constexpr double kTimeToleranceMs = 0.0015;

struct Record {
  int line = 0;
  std::vector<double> times_ms;
  std::vector<uint8_t> levels;
  bool expect_a = true;    // next edge line: A (else B)
  double b_time_ms = 0.0;  // the time the last B line gave for the next edge
  bool bad = false;
};

class LogReader {
 public:
  explicit LogReader(ParsedInput& out) : out_(out) {}

  void Line(int number, std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty()) return;
    if (IsServiceLogHeader(trimmed)) {
      Finish(std::nullopt);
      record_ = Record{};
      record_.line = number;
      in_record_ = true;
      return;
    }
    if (!in_record_) {
      if (!stray_reported_) out_.errors.push_back({number, "text outside a record"});
      stray_reported_ = true;
      return;
    }
    stray_reported_ = false;
    if (record_.bad) return;
    if (text::StartsWith(trimmed, "Code=")) {
      LoggedCode logged;
      if (!ParseCodeLine(trimmed, logged)) {
        Fail(number, "expected Code= CODE;  ShiftCoded=TRUE|FALSE ; VERSION");
        return;
      }
      Finish(std::move(logged));
      return;
    }
    EdgeLine(number, trimmed);
  }

  void End() { Finish(std::nullopt); }

 private:
  void Fail(int number, std::string message) {
    out_.errors.push_back({number, std::move(message)});
    record_.bad = true;
  }

  void EdgeLine(int number, std::string_view line) {
    const std::vector<std::string_view> fields = SplitWhitespace(line);
    const size_t expected = record_.expect_a ? 2 : 3;
    double time_ms = 0.0;
    double interval_ms = 0.0;
    if (fields.size() != expected || !text::ParseFinite(fields[0], time_ms) ||
        (fields[1] != "0" && fields[1] != "1") ||
        (expected == 3 && !text::ParseFinite(fields[2], interval_ms))) {
      Fail(number, record_.expect_a ? "expected an edge line: TIME<TAB>LEVEL"
                                    : "expected an interval line: TIME<TAB>LEVEL<TAB>INTERVAL");
      return;
    }
    const uint8_t level = fields[1] == "1" ? 1 : 0;
    std::vector<double>& times = record_.times_ms;
    if (record_.expect_a) {
      if (!times.empty() && std::fabs(time_ms - record_.b_time_ms) > kTimeToleranceMs) {
        Fail(number, "the edge time differs from the interval line before it");
        return;
      }
      if (times.size() == static_cast<size_t>(kEdgeCapacity)) {
        Fail(number, "more than " + std::to_string(kEdgeCapacity) + " edges in one record");
        return;
      }
      times.push_back(time_ms);
      record_.levels.push_back(level);
    } else {
      std::string error;
      if (level != record_.levels.back()) {
        Fail(number, "the interval's level differs from its edge's");
        return;
      }
      if (std::fabs(interval_ms - (time_ms - times.back())) > kTimeToleranceMs) {
        Fail(number, "the interval differs from the edge times");
        return;
      }
      if (!text::CheckDuration((time_ms - times.back()) * 1000.0, error)) {
        Fail(number, "interval: " + error);
        return;
      }
      record_.b_time_ms = time_ms;
    }
    record_.expect_a = !record_.expect_a;
  }

  static bool ParseCodeLine(std::string_view line, LoggedCode& logged) {
    line.remove_prefix(5);  // "Code="
    const size_t semicolon = line.find(';');
    if (semicolon == std::string_view::npos) return false;
    const std::string_view code = Trim(line.substr(0, semicolon));
    for (char c : code) {
      if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    std::string_view rest = Trim(line.substr(semicolon + 1));
    if (!text::StartsWith(rest, "ShiftCoded=")) return false;
    rest.remove_prefix(11);
    const size_t end = rest.find(';');
    const std::string_view flag = Trim(rest.substr(0, end));
    if (flag != "TRUE" && flag != "FALSE") return false;
    logged.code = std::string(code);
    logged.shift_coded = flag == "TRUE";
    logged.version =
        end == std::string_view::npos ? std::string() : std::string(Trim(rest.substr(end + 1)));
    return true;
  }

  void Finish(std::optional<LoggedCode> logged) {
    if (!in_record_) return;
    in_record_ = false;
    if (record_.bad) return;
    if (record_.times_ms.empty()) {
      out_.errors.push_back({record_.line, "the record has no edges"});
      return;
    }
    if (record_.expect_a) {  // every edge line A but the last is followed by a line B
      out_.errors.push_back({record_.line, "the record ends after an interval line"});
      return;
    }
    CapturedTrain captured{
        "line " + std::to_string(record_.line), record_.line, {}, std::move(logged)};
    PulseTrain& train = captured.train;
    train.TicksPerSecond = kServiceLogTicksPerSecond;
    const double t0 = record_.times_ms.front();
    for (size_t c = 0; c < record_.times_ms.size(); ++c) {
      const double ticks = (record_.times_ms[c] - t0) * kServiceLogTicksPerSecond / 1000.0;
      train.Edges[c] = {record_.levels[c] != 0 ? 0u : kIdleStatus, std::llround(ticks)};
    }
    train.LastEdgeIndex = static_cast<int32_t>(record_.times_ms.size()) - 1;
    out_.trains.push_back(std::move(captured));
  }

  ParsedInput& out_;
  Record record_;
  bool in_record_ = false;
  bool stray_reported_ = false;
};

}  // namespace

bool IsServiceLogHeader(std::string_view line) {
  if (line.size() < 11 || line.front() != ';') return false;
  return line.find_first_not_of('-', 1) == std::string_view::npos;
}

ParsedInput ReadServiceLog(std::string_view body, const ReadOptions& /*options*/) {
  ParsedInput out;
  LogReader reader(out);
  text::ForEachLine(body, [&](int number, std::string_view line) { reader.Line(number, line); });
  reader.End();
  return out;
}

}  // namespace sfh56::tools
