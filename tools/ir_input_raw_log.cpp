// Raw dumps that microcontroller IR firmware logs: "Received Raw: 9011, -4485, 613, ..."
// (a mark positive, a space negative, in microseconds). A long dump wraps over several log
// lines, each of which may start with the serial monitor's time stamp.

#include "tools/ir_input_internal.h"

namespace sfh56::tools {
namespace {

using text::Trim;

constexpr std::string_view kMarker = "Received Raw:";

// The line without a time stamp: "[12:34:56] ..." or "12:34:56.789 -> ...".
std::string_view WithoutStamp(std::string_view line) {
  line = Trim(line);
  if (!line.empty() && line.front() == '[') {
    const size_t close = line.find(']');
    if (close != std::string_view::npos) line = Trim(line.substr(close + 1));
  }
  const size_t arrow = line.find("->");
  if (arrow != std::string_view::npos && arrow > 0 &&
      line.substr(0, arrow).find_first_not_of(":. 0123456789") == std::string_view::npos) {
    line = Trim(line.substr(arrow + 2));
  }
  return line;
}

class DumpReader {
 public:
  explicit DumpReader(ParsedInput& out) : out_(out) {}

  void Line(int number, std::string_view line) {
    line = WithoutStamp(line);
    const size_t marker = line.find(kMarker);
    if (marker != std::string_view::npos) {
      Finish();
      open_ = true;
      recording_ = Recording{"line " + std::to_string(number), {}, number};
      Values(number, line.substr(marker + kMarker.size()));
    } else if (open_ && (wants_more_ || bad_) && !line.empty() &&
               (line.front() == '-' || text::IsDigit(line.front()))) {
      // Only a dump whose line ended with a comma goes on (a bad one is skipped whole).
      Values(number, line);
    } else {
      Finish();
    }
  }

  void Finish() {
    if (!open_) return;
    open_ = false;
    if (bad_) {
      bad_ = false;
    } else if (recording_.durations_us.empty()) {
      out_.errors.push_back({recording_.line, "Received Raw: no durations"});
    } else if (wants_more_) {
      out_.errors.push_back({recording_.line, "Received Raw: the dump is cut off after " +
                                                  std::to_string(recording_.durations_us.size()) +
                                                  " durations (it ends with a comma)"});
    } else {
      out_.recordings.push_back(std::move(recording_));
    }
    wants_more_ = false;
  }

 private:
  void Values(int number, std::string_view values) {
    if (bad_) return;
    wants_more_ = false;
    while (!Trim(values).empty()) {
      const size_t comma = values.find(',');
      const std::string_view token = Trim(values.substr(0, comma));
      values = comma == std::string_view::npos ? std::string_view{} : values.substr(comma + 1);
      if (token.empty()) {
        Fail(number, "an empty value between commas");
        return;
      }
      double us = 0.0;
      std::string error;
      if (!text::ParseFinite(token, us)) {
        Fail(number, text::Quoted(token) + " is not a number of microseconds");
        return;
      }
      const bool mark = recording_.durations_us.size() % 2 == 0;
      if ((us > 0.0) != mark) {
        Fail(number, "duration " + std::to_string(recording_.durations_us.size() + 1) + " (" +
                         std::string(token) + ") should be " +
                         (mark ? "a mark (positive)" : "a space (negative)"));
        return;
      }
      if (!text::CheckDuration(us < 0.0 ? -us : us, error)) {
        Fail(number, error);
        return;
      }
      recording_.durations_us.push_back(us < 0.0 ? -us : us);
      wants_more_ = comma != std::string_view::npos;  // the dump wraps onto the next line
    }
  }

  void Fail(int number, const std::string& message) {
    out_.errors.push_back({number, "Received Raw: " + message});
    bad_ = true;
  }

  ParsedInput& out_;
  Recording recording_;
  bool open_ = false;
  bool bad_ = false;
  bool wants_more_ = false;
};

}  // namespace

bool IsRawLogLine(std::string_view line) {
  return line.find(kMarker) != std::string_view::npos;
}

ParsedInput ReadRawLog(std::string_view body, const ReadOptions& /*options*/) {
  ParsedInput out;
  DumpReader reader(out);
  text::ForEachLine(body, [&](int number, std::string_view line) { reader.Line(number, line); });
  reader.Finish();
  return out;
}

}  // namespace sfh56::tools
