// C arrays that microcontroller IR libraries print for a raw capture:
// "uint16_t rawData[67] = {9000, 4500, 560, ...};  // Protocol=NEC ..." — marks and spaces
// in microseconds, alternating from a mark, possibly over several lines, with comments,
// several arrays in a file or on a line, each named by its variable. Only arrays of 16-bit,
// 32-bit or int elements hold microseconds; a byte array is reported, not read.

#include <optional>

#include "tools/ir_input_internal.h"

namespace sfh56::tools {
namespace {

using text::Trim;

bool IsNameChar(char c) {
  return text::IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

struct ArrayHead {
  std::string name;
  std::optional<size_t> declared;  // the N of name[N]
  size_t values_at = 0;            // where the values start, after the brace
  std::string type;                // the element type's last word; empty when none is given
};

// Durations in microseconds fit 16-bit, 32-bit or int elements; a byte array holds
// something else (tick counts, packed data) and is not read as durations.
bool IsDurationType(std::string_view type) {
  for (std::string_view t :
       {"", "uint16_t", "int16_t", "uint32_t", "int32_t", "int", "unsigned", "short", "long"}) {
    if (type == t) return true;
  }
  return false;
}

// "... type name[N] = {" or "... type name[] = {".
std::optional<ArrayHead> ParseHead(std::string_view line) {
  const size_t open = line.find('[');
  if (open == std::string_view::npos || open == 0 || !IsNameChar(line[open - 1])) return {};
  size_t start = open;
  while (start > 0 && IsNameChar(line[start - 1])) --start;
  const size_t close = line.find(']', open);
  const size_t brace = line.find('{', open);
  if (close == std::string_view::npos || brace == std::string_view::npos || brace < close)
    return {};
  if (Trim(line.substr(close + 1, brace - close - 1)) != "=") return {};
  // The element type: the word before the name ("char *name[]" is no array of numbers).
  const std::string_view before = Trim(line.substr(0, start));
  size_t type_start = before.size();
  while (type_start > 0 && IsNameChar(before[type_start - 1])) --type_start;
  if (!before.empty() && type_start == before.size()) return {};
  ArrayHead head{std::string(line.substr(start, open - start)), std::nullopt, brace + 1,
                 std::string(before.substr(type_start))};
  const std::string_view size = Trim(line.substr(open + 1, close - open - 1));
  size_t n = 0;
  if (!size.empty()) {
    if (!text::ParseNumber(size, n)) return {};
    head.declared = n;
  }
  return head;
}

class ArrayReader {
 public:
  explicit ArrayReader(ParsedInput& out) : out_(out) {}

  void Line(int number, std::string_view line) {
    const std::string code = WithoutComments(line);
    std::string_view rest = code;
    // A line may close one array and open the next.
    while (true) {
      if (!open_) {
        const std::optional<ArrayHead> head = ParseHead(rest);
        if (!head.has_value()) return;
        Open(number, *head);
        rest.remove_prefix(head_.values_at);
      }
      const size_t brace = rest.find('}');
      if (!bad_) Values(number, rest.substr(0, brace));
      if (brace == std::string_view::npos) return;
      Close(number);
      rest.remove_prefix(brace + 1);
    }
  }

  void End() {
    if (open_ && !bad_) {
      out_.errors.push_back({recording_.line, head_.name + ": the array is cut off after " +
                                                  std::to_string(recording_.durations_us.size()) +
                                                  " values (no closing brace)"});
    }
    open_ = false;
  }

 private:
  std::string WithoutComments(std::string_view line) {
    std::string code;
    for (size_t i = 0; i < line.size(); ++i) {
      if (in_comment_) {
        if (line.substr(i, 2) == "*/") {
          in_comment_ = false;
          ++i;
        }
      } else if (line.substr(i, 2) == "/*") {
        in_comment_ = true;
        ++i;
      } else if (line.substr(i, 2) == "//") {
        break;
      } else {
        code.push_back(line[i]);
      }
    }
    return code;
  }

  void Open(int number, const ArrayHead& head) {
    head_ = head;
    open_ = true;
    bad_ = false;
    recording_ = Recording{head_.name, {}, number};
    if (!IsDurationType(head_.type)) {
      out_.errors.push_back({number, head_.name + ": its elements are " + head_.type +
                                         ", not the 16-bit, 32-bit or int microseconds of a "
                                         "raw capture"});
      bad_ = true;
    }
  }

  void Values(int number, std::string_view values) {
    while (!Trim(values).empty()) {
      const size_t comma = values.find(',');
      const std::string_view token = Trim(values.substr(0, comma));
      values = comma == std::string_view::npos ? std::string_view{} : values.substr(comma + 1);
      double us = 0.0;
      std::string error;
      if (!text::ParseDuration(token, us, error)) {
        out_.errors.push_back({number, head_.name + ": " + error});
        bad_ = true;
        return;
      }
      recording_.durations_us.push_back(us);
    }
  }

  void Close(int number) {
    open_ = false;
    if (bad_) return;
    const size_t count = recording_.durations_us.size();
    if (count == 0) {
      out_.errors.push_back({number, head_.name + ": no durations"});
    } else if (head_.declared.has_value() && *head_.declared != count) {
      out_.errors.push_back({recording_.line, head_.name + ": the array declares " +
                                                  std::to_string(*head_.declared) + " values, " +
                                                  std::to_string(count) + " are given"});
    } else {
      out_.recordings.push_back(std::move(recording_));
    }
  }

  ParsedInput& out_;
  ArrayHead head_;
  Recording recording_;
  bool open_ = false;
  bool bad_ = false;
  bool in_comment_ = false;
};

}  // namespace

bool IsRawArrayLine(std::string_view line) {
  return ParseHead(line.substr(0, line.find("//"))).has_value();
}

ParsedInput ReadRawArray(std::string_view body, const ReadOptions& /*options*/) {
  ParsedInput out;
  ArrayReader reader(out);
  text::ForEachLine(body, [&](int number, std::string_view line) { reader.Line(number, line); });
  reader.End();
  return out;
}

}  // namespace sfh56::tools
