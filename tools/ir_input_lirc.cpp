// Text of the Linux infrared tools: mode2's "pulse N" / "space N" lines and its -m
// columns, ir-ctl's "+N -N ..." lines, and the raw_codes blocks of lircd.conf files.

#include "tools/ir_input_internal.h"

namespace sfh56::tools {
namespace {

using text::SplitWhitespace;
using text::Trim;

bool IsDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string_view BeforeComment(std::string_view line) {
  return line.substr(0, line.find('#'));
}

// Collects pulses and spaces into recordings. A bad value spoils the recording it falls
// in: that recording is dropped when it ends, so that no recording is decoded with an
// interval missing.
class Mode2Builder {
 public:
  Mode2Builder(std::vector<Recording>& recordings, std::vector<InputError>& errors)
      : recordings_(recordings), errors_(errors) {}

  // A pulse is a duration of a signal; a space may be any length (a long one is a gap
  // between recordings).
  void Value(int line, bool pulse, std::string_view token) {
    double us = 0.0;
    std::string error;
    if (pulse ? !text::ParseDuration(token, us, error) : !text::ParseFinite(token, us)) {
      Bad(line, pulse ? error : text::Quoted(token) + " is not a number of microseconds");
    } else if (!(us > 0.0)) {
      Bad(line, "duration " + text::FormatUs(us) + " is not positive");
    } else if (pulse) {
      if (current_.durations_us.empty()) current_.line = line;
      Add(line, true, us);
    } else if (us >= kMode2RecordingGapUs) {
      End();
    } else if (!current_.durations_us.empty()) {  // else idle before the first pulse
      Add(line, false, us);
    }
  }

  void Bad(int line, std::string message) {
    if (!bad_) errors_.push_back({line, std::move(message) + "; the recording is skipped"});
    bad_ = true;
  }

  void End() {
    // A recording ends with a mark: a trailing space is idle time.
    if (!current_.durations_us.empty() && !in_mark_) current_.durations_us.pop_back();
    if (!current_.durations_us.empty() && !bad_) {
      current_.name = "line " + std::to_string(current_.line);
      recordings_.push_back(std::move(current_));
    }
    current_ = Recording{};
    in_mark_ = false;
    bad_ = false;
  }

 private:
  void Add(int line, bool pulse, double us) {
    if (pulse == in_mark_ && !current_.durations_us.empty()) {
      // Two pulses (or spaces) in a row are one interval, which must still be one that a
      // signal can have.
      double& interval = current_.durations_us.back();
      interval += us;
      std::string error;
      if (!text::CheckDuration(interval, error)) Bad(line, error);
    } else {
      current_.durations_us.push_back(us);
    }
    in_mark_ = pulse;
  }

  std::vector<Recording>& recordings_;
  std::vector<InputError>& errors_;
  Recording current_;
  bool in_mark_ = false;
  bool bad_ = false;
};

bool IsMode2Keyword(std::string_view token) {
  return token == "pulse" || token == "space" || token == "timeout" || token == "carrier";
}

}  // namespace

std::optional<bool> ColumnKind(std::string_view& token) {
  if (token.size() <= 6) return std::nullopt;
  const std::string_view suffix = token.substr(token.size() - 6);
  if (suffix != "-pulse" && suffix != "-space") return std::nullopt;
  token.remove_suffix(6);
  return suffix == "-pulse";
}

bool IsColumnLine(const std::vector<std::string_view>& tokens) {
  for (std::string_view token : tokens) {
    ColumnKind(token);
    double value = 0.0;
    if (!text::ParseFinite(token, value)) return false;
  }
  return !tokens.empty();
}

bool IsMode2KeywordLine(const std::vector<std::string_view>& tokens) {
  double value = 0.0;
  return tokens.size() == 2 && IsMode2Keyword(tokens[0]) && text::ParseFinite(tokens[1], value);
}

bool IsIrCtlLine(std::string_view line) {
  const std::vector<std::string_view> tokens = SplitWhitespace(BeforeComment(line));
  bool signed_token = false;
  for (std::string_view token : tokens) {
    if (token.front() == '+' || token.front() == '-') {
      signed_token = true;
      token.remove_prefix(1);
    }
    if (!IsDigits(token)) return false;
  }
  return tokens.size() >= 2 && signed_token;
}

bool IsMode2Line(std::string_view line) {
  return IsMode2KeywordLine(SplitWhitespace(line)) || IsIrCtlLine(line);
}

ParsedInput ReadMode2(std::string_view body, const ReadOptions& /*options*/) {
  ParsedInput out;
  out.recordings = ParseMode2(body, out.errors);
  return out;
}

std::vector<Recording> ParseMode2(std::string_view body, std::vector<InputError>& errors) {
  std::vector<Recording> recordings;
  Mode2Builder builder(recordings, errors);
  bool in_columns = false;
  bool column_pulse = true;  // the kind of the next column value
  text::ForEachLine(body, [&](int number, std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty()) {
      if (in_columns) builder.End();  // mode2 -m leaves a blank line after a gap
      in_columns = false;
      column_pulse = true;
      return;
    }
    const std::vector<std::string_view> tokens = SplitWhitespace(trimmed);
    if (IsMode2Keyword(tokens[0])) {
      double value = 0.0;
      if (tokens.size() != 2 || !text::ParseFinite(tokens[1], value)) {
        builder.Bad(number, "expected \"" + std::string(tokens[0]) + " MICROSECONDS\"");
      } else if (tokens[0] == "timeout") {
        builder.End();
      } else if (tokens[0] != "carrier") {
        builder.Value(number, tokens[0] == "pulse", tokens[1]);
      }
      return;
    }
    if (IsIrCtlLine(trimmed)) {
      for (std::string_view token : SplitWhitespace(BeforeComment(trimmed))) {
        const bool pulse = token.front() != '-';
        if (!pulse) token.remove_prefix(1);
        builder.Value(number, pulse, token);
      }
      // ir-ctl ends a message with "# timeout N".
      const size_t comment = trimmed.find('#');
      if (comment != std::string_view::npos &&
          trimmed.find("timeout", comment) != std::string_view::npos) {
        builder.End();
      }
      return;
    }
    if (trimmed.front() == '#' || !IsColumnLine(tokens)) return;  // headers, prompts, ...
    // mode2 -m columns: values alternate, and a block begins with a pulse unless its
    // first value is an idle gap.
    for (std::string_view token : tokens) {
      std::optional<bool> marked = ColumnKind(token);
      bool pulse = marked.value_or(column_pulse);
      double value = 0.0;
      if (!in_columns && !marked && text::ParseFinite(token, value) &&
          value >= kMode2RecordingGapUs) {
        pulse = false;
      }
      in_columns = true;
      builder.Value(number, pulse, token);
      column_pulse = !pulse;
    }
  });
  builder.End();
  return recordings;
}

// lircd.conf: "begin remote" ... "name REMOTE" ... "begin raw_codes", then per button
// "name BUTTON" and its durations on the following lines, "end raw_codes", "end remote".
// Codes of "begin codes" blocks are protocol parameters: counted as skipped.
ParsedInput ReadLircdConf(std::string_view body, const ReadOptions& /*options*/) {
  ParsedInput out;
  enum class Block { kNone, kRemote, kRawCodes, kCodes };
  Block block = Block::kNone;
  std::string remote;
  Recording code;
  bool code_open = false;
  bool code_bad = false;
  auto finish_code = [&] {
    if (code_open && !code_bad) {
      if (code.durations_us.empty()) {
        out.errors.push_back({code.line, code.name + ": no durations"});
      } else {
        if (code.durations_us.size() % 2 == 0) code.durations_us.pop_back();  // the gap
        out.recordings.push_back(std::move(code));
      }
    }
    code = Recording{};
    code_open = false;
    code_bad = false;
  };
  text::ForEachLine(body, [&](int number, std::string_view line) {
    const std::vector<std::string_view> tokens = SplitWhitespace(BeforeComment(line));
    if (tokens.empty()) return;
    const bool begin = tokens[0] == "begin" && tokens.size() >= 2;
    const bool end = tokens[0] == "end" && tokens.size() >= 2;
    if (begin && tokens[1] == "remote") {
      block = Block::kRemote;
      remote.clear();
    } else if (end && tokens[1] == "remote") {
      finish_code();
      block = Block::kNone;
    } else if (begin && tokens[1] == "raw_codes" && block == Block::kRemote) {
      block = Block::kRawCodes;
    } else if (begin && tokens[1] == "codes" && block == Block::kRemote) {
      block = Block::kCodes;
    } else if (end && (tokens[1] == "raw_codes" || tokens[1] == "codes")) {
      finish_code();
      block = Block::kRemote;
    } else if (block == Block::kRemote && tokens[0] == "name" && tokens.size() >= 2) {
      remote = std::string(tokens[1]);
    } else if (block == Block::kCodes) {
      ++out.skipped_entries;
    } else if (block == Block::kRawCodes && tokens[0] == "name") {
      finish_code();
      code.name = remote + "/" + (tokens.size() >= 2 ? std::string(tokens[1]) : std::string());
      code.line = number;
      code_open = true;
    } else if (block == Block::kRawCodes) {
      if (!code_open) {
        out.errors.push_back({number, "durations before the first button name"});
        code_open = true;
        code_bad = true;
        return;
      }
      if (code_bad) return;
      for (std::string_view token : tokens) {
        double us = 0.0;
        std::string error;
        if (!text::ParseDuration(token, us, error)) {
          out.errors.push_back({number, code.name + ": " + error});
          code_bad = true;
          return;
        }
        code.durations_us.push_back(us);
      }
    }
  });
  finish_code();
  return out;
}

}  // namespace sfh56::tools
