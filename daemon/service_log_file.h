#pragma once
// The service log at a path of the user's choice: the plugin's records, appended, so
// that irdecode reads them back.

#include <cstdio>
#include <string>

#include "decode/decoder.h"

namespace sfh56::daemon {

class ServiceLogFile : public ServiceLogSink {
 public:
  explicit ServiceLogFile(std::string path) : path_(std::move(path)) {}
  ~ServiceLogFile() override;
  ServiceLogFile(const ServiceLogFile&) = delete;
  ServiceLogFile& operator=(const ServiceLogFile&) = delete;

  // Whether the file can be opened for appending (checked once at start).
  bool Writable() const;

  bool OpenAndWriteHead(const PulseTrain& train, int edge_count) override;
  void WriteCodeLineAndClose(std::string_view code, bool shift_coded) override;

  // Records that could not be written in full (the daemon goes on).
  int FailedRecords() const { return failed_records_; }

 private:
  bool Write(const std::string& text);
  std::string path_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  int failed_records_ = 0;
};

}  // namespace sfh56::daemon
