#include "daemon/service_log_file.h"

#include "decode/service_log.h"

namespace sfh56::daemon {

ServiceLogFile::~ServiceLogFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool ServiceLogFile::Writable() const {
  std::FILE* file = std::fopen(path_.c_str(), "ab");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

bool ServiceLogFile::Write(const std::string& text) {
  if (file_ == nullptr || failed_) return false;
  failed_ = std::fwrite(text.data(), 1, text.size(), file_) != text.size();
  return !failed_;
}

bool ServiceLogFile::OpenAndWriteHead(const PulseTrain& train, int edge_count) {
  file_ = std::fopen(path_.c_str(), "ab");
  if (file_ == nullptr) {
    ++failed_records_;
    return false;
  }
  failed_ = false;
  Write(FormatLogHead(train, edge_count));
  return true;
}

void ServiceLogFile::WriteCodeLineAndClose(std::string_view code, bool shift_coded) {
  Write(FormatLogCodeLine(code, shift_coded));
  if (file_ != nullptr && std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  if (failed_) ++failed_records_;
}

}  // namespace sfh56::daemon
