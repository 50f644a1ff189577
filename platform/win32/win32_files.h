#pragma once
// Files, the system's folders, the process's main executable and version resources,
// through the Win32 API.

#include "platform/files.h"

namespace sfh56::win32 {

class Win32Files : public platform::Files {
 public:
  std::string MainExecutablePath() override;
  std::unique_ptr<platform::AppendFile> OpenForAppend(const std::string& path) override;
  std::unique_ptr<platform::AppendFile> Create(const std::string& path) override;
  std::unique_ptr<platform::VersionBlock> LoadVersionBlock(const std::string& path) override;
  std::string TempFolder() override;
  std::string WindowsFolder() override;
  bool Copy(const std::string& from, const std::string& to, bool fail_if_exists) override;
  bool Delete(const std::string& path) override;
};

}  // namespace sfh56::win32
