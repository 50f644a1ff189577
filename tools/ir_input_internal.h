#pragma once
// Helpers shared by the input readers (internal to tools/ir_input*.cpp).

#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/ir_input.h"

namespace sfh56::tools::text {

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

inline std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

inline bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

inline std::vector<std::string_view> SplitWhitespace(std::string_view s) {
  std::vector<std::string_view> tokens;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    const size_t start = i;
    while (i < s.size() && !IsBlank(s[i])) ++i;
    if (i > start) tokens.push_back(s.substr(start, i - start));
  }
  return tokens;
}

// Calls f(line_number, line) for every line, without its line end (LF or CR LF).
template <typename F>
void ForEachLine(std::string_view s, F f) {
  int number = 0;
  while (!s.empty()) {
    const size_t end = s.find('\n');
    std::string_view line = s.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    f(++number, line);
    if (end == std::string_view::npos) break;
    s.remove_prefix(end + 1);
  }
}

template <typename T>
bool ParseNumber(std::string_view token, T& value) {
  const char* end = token.data() + token.size();
  const auto [ptr, error] = std::from_chars(token.data(), end, value);
  return error == std::errc{} && ptr == end;
}

inline bool ParseFinite(std::string_view token, double& value) {
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  return ParseNumber(token, value) && std::isfinite(value);
}

inline std::string Quoted(std::string_view token) {
  return "\"" + std::string(token.substr(0, 40)) + (token.size() > 40 ? "...\"" : "\"");
}

// Plain decimal notation (whole microseconds without a fraction), never an exponent.
inline std::string FormatUs(double us) {
  char buffer[400];  // the largest double takes 309 digits
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, us, std::chars_format::fixed);
  return error == std::errc{} ? std::string(buffer, end) : std::string("?");
}

// A duration a recorded signal can have: more than 0 and at most kMaxDurationUs.
inline bool CheckDuration(double us, std::string& error) {
  if (!(us > 0.0)) {
    error = "duration " + FormatUs(us) + " is not positive";
    return false;
  }
  if (us > kMaxDurationUs) {
    error = "duration " + FormatUs(us) + " us is longer than any infrared signal (10 s)";
    return false;
  }
  return true;
}

// A duration token: a number that passes CheckDuration.
inline bool ParseDuration(std::string_view token, double& us, std::string& error) {
  if (!ParseFinite(token, us)) {
    error = Quoted(token) + " is not a number of microseconds";
    return false;
  }
  return CheckDuration(us, error);
}

}  // namespace sfh56::tools::text

namespace sfh56::tools {

// The readers behind ReadInput (tools/ir_input_*.cpp), all of one shape (FormatSpec::read).
ParsedInput ReadEdges(std::string_view body, const ReadOptions& options);
ParsedInput ReadServiceLog(std::string_view body, const ReadOptions& options);
ParsedInput ReadMode2(std::string_view body, const ReadOptions& options);
ParsedInput ReadIrFile(std::string_view body, const ReadOptions& options);
ParsedInput ReadLircdConf(std::string_view body, const ReadOptions& options);
ParsedInput ReadPronto(std::string_view body, const ReadOptions& options);
ParsedInput ReadIrmp(std::string_view body, const ReadOptions& options);
ParsedInput ReadCorpusTsv(std::string_view body, const ReadOptions& options);
ParsedInput ReadRawLog(std::string_view body, const ReadOptions& options);
ParsedInput ReadIrPacket(std::string_view body, const ReadOptions& options);
ParsedInput ReadRawArray(std::string_view body, const ReadOptions& options);

// Sure signs of single lines, for guessing the format.
bool IsMode2KeywordLine(const std::vector<std::string_view>& tokens);
bool IsIrCtlLine(std::string_view line);
// A line of mode2 -m columns: numbers only, where "-pulse" or "-space" after a value
// marks one out of the expected order.
bool IsColumnLine(const std::vector<std::string_view>& tokens);
// The kind a column value is marked with (true: pulse), its mark cut off the token.
std::optional<bool> ColumnKind(std::string_view& token);
bool IsProntoLine(std::string_view line);
bool IsIrmpLine(std::string_view line);
bool IsServiceLogHeader(std::string_view line);
bool IsMode2Line(std::string_view line);
bool IsRawLogLine(std::string_view line);
bool IsIrPacketLine(std::string_view line);
bool IsRawArrayLine(std::string_view line);

// The IRMP sample rate a file name states ("...-15kHz.txt"), or 0.
double SampleRateFromFileName(std::string_view file_name);

}  // namespace sfh56::tools
