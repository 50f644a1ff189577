#include "decode/service_log.h"

#include <algorithm>
#include <charconv>

namespace sfh56 {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr int kLogFieldWidth = 10;
constexpr double kMillisecondsPerSecond = 1000.0;

void AppendMilliseconds(std::string& out, double milliseconds) {
  // Fixed notation of the largest double takes 309 digits before the point.
  char text[400];
  const auto [end, error] =
      std::to_chars(text, text + sizeof text, milliseconds, std::chars_format::fixed, 3);
  const std::string_view number =
      error == std::errc{} ? std::string_view(text, static_cast<size_t>(end - text)) : "?";
  if (number.size() < kLogFieldWidth) out.append(kLogFieldWidth - number.size(), ' ');
  out.append(number);
}

}  // namespace

std::string ServiceLogPath(std::string_view main_executable_path) {
  const size_t slash = main_executable_path.rfind('\\');
  std::string path(slash == std::string_view::npos ? std::string_view{}
                                                   : main_executable_path.substr(0, slash + 1));
  path.append(kServiceLogFileName);
  return path;
}

std::string FormatLogMilliseconds(double milliseconds) {
  std::string out;
  AppendMilliseconds(out, milliseconds);
  return out;
}

std::string FormatLogHead(const PulseTrain& train, int edge_count) {
  edge_count = std::clamp(edge_count, 0, kEdgeCapacity);
  std::string out;
  out.reserve(static_cast<size_t>(edge_count) * 48 + 48);
  out.append(";");
  out.append(40, '-');
  out.append(kLineEnd);
  if (edge_count == 0) return out;
  const double tps = train.TicksPerSecond;
  const int64_t t0 = train.Edges[0].Timestamp;
  auto milliseconds = [&](int64_t from, int64_t to) {
    return SecondsBetween(from, to, tps) * kMillisecondsPerSecond;
  };
  for (int c = 0; c < edge_count; ++c) {
    const EdgeRecord& edge = train.Edges[c];
    const char level = IntervalLevel(edge) != 0 ? '1' : '0';
    AppendMilliseconds(out, milliseconds(t0, edge.Timestamp));
    out.push_back('\t');
    out.push_back(level);
    out.append(kLineEnd);
    if (c + 1 < edge_count) {
      const EdgeRecord& next = train.Edges[c + 1];
      AppendMilliseconds(out, milliseconds(t0, next.Timestamp));
      out.push_back('\t');
      out.push_back(level);
      out.push_back('\t');
      AppendMilliseconds(out, milliseconds(edge.Timestamp, next.Timestamp));
      out.append(kLineEnd);
    }
  }
  return out;
}

std::string FormatLogCodeLine(std::string_view code, bool shift_coded) {
  std::string out = "Code= ";
  out.append(code);
  out.append(";  ShiftCoded=");
  out.append(shift_coded ? "TRUE" : "FALSE");
  out.append(" ; ");
  out.append(kPluginVersion);
  out.append(kLineEnd);
  return out;
}

bool ServiceLogWriter::OpenAndWriteHead(const PulseTrain& train, int edge_count) {
  file_.reset();
  write_failed_ = false;
  const std::string path = ServiceLogPath(files_.MainExecutablePath());
  file_ = files_.OpenForAppend(path);
  if (file_ == nullptr) file_ = files_.Create(path);
  if (file_ == nullptr) return false;
  if (!file_->Write(FormatLogHead(train, edge_count))) {
    write_failed_ = true;
    ++failed_writes_;
  }
  return true;
}

void ServiceLogWriter::WriteCodeLineAndClose(std::string_view code, bool shift_coded) {
  if (file_ != nullptr && !write_failed_ && !file_->Write(FormatLogCodeLine(code, shift_coded))) {
    ++failed_writes_;
  }
  file_.reset();
  write_failed_ = false;
}

}  // namespace sfh56
