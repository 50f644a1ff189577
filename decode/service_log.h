#pragma once
// The service log: every fully decoded train with its edge times, for diagnosing
// remotes that do not decode well. "log.txt" in the host program's folder, ANSI text,
// CR LF line ends, records appended and never truncated.

#include <memory>
#include <string>
#include <string_view>

#include "common/identity.h"
#include "decode/decoder.h"
#include "platform/files.h"

namespace sfh56 {

inline constexpr std::string_view kServiceLogFileName = "log.txt";

// The log's path: the executable's path cut after its last backslash, then "log.txt"
// (just "log.txt" when the path holds no backslash).
std::string ServiceLogPath(std::string_view main_executable_path);

// A number of milliseconds as the log writes it: fixed point, three decimals, right-
// aligned in 10 characters (wider numbers take the room they need).
std::string FormatLogMilliseconds(double milliseconds);

// The head of a record: the header line, then for each of the train's first edge_count
// edges line A and, but for the last, line B. Every time from edge 0 and every interval
// is converted from its own tick difference, so a record does not depend on the uptime
// at which the train came, and equal intervals read alike.
std::string FormatLogHead(const PulseTrain& train, int edge_count);

// The record's last line.
std::string FormatLogCodeLine(std::string_view code, bool shift_coded);

// Writes records through platform::Files. A failed open gives no record; a failed write
// ends the record there (nothing more is written to that record, the file is closed at
// the code line as usual). Neither stops decoding or delivery.
class ServiceLogWriter : public ServiceLogSink {
 public:
  explicit ServiceLogWriter(platform::Files& files) : files_(files) {}

  bool OpenAndWriteHead(const PulseTrain& train, int edge_count) override;
  void WriteCodeLineAndClose(std::string_view code, bool shift_coded) override;

  // Writes that failed since construction (for diagnosis and tests).
  int FailedWrites() const { return failed_writes_; }

 private:
  platform::Files& files_;
  std::unique_ptr<platform::AppendFile> file_;
  bool write_failed_ = false;
  int failed_writes_ = 0;
};

}  // namespace sfh56
