#pragma once
// Files, the system's folders, the process's main executable, and version resources.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sfh56::platform {

// A text file opened for appending; closed on destruction.
class AppendFile {
 public:
  virtual ~AppendFile() = default;
  // Writes the bytes as they are; false when the write failed.
  virtual bool Write(const std::string& bytes) = 0;
};

// The version resource of one file.
class VersionBlock {
 public:
  virtual ~VersionBlock() = default;
  // VerQueryValueA(sub_block): the text when the reported length is 1 or more.
  virtual std::optional<std::string> QueryString(const std::string& sub_block) = 0;
};

class Files {
 public:
  virtual ~Files() = default;
  // GetModuleFileNameA(NULL): the full path of the host program's executable.
  virtual std::string MainExecutablePath() = 0;
  // Opens an existing file for appending; null when that fails.
  virtual std::unique_ptr<AppendFile> OpenForAppend(const std::string& path) = 0;
  // Creates an empty file (or truncates one) opened for writing; null when that fails.
  virtual std::unique_ptr<AppendFile> Create(const std::string& path) = 0;
  // GetFileVersionInfoSizeA / GetFileVersionInfoA; null when the file has no version
  // resource.
  virtual std::unique_ptr<VersionBlock> LoadVersionBlock(const std::string& path) = 0;

  // GetTempPathA: the temporary folder, ending with a backslash; empty when unknown or
  // longer than 500 characters.
  virtual std::string TempFolder() = 0;
  // GetWindowsDirectoryA: the Windows folder; empty when unknown or longer than 500
  // characters.
  virtual std::string WindowsFolder() = 0;
  // CopyFileA(from, to, fail_if_exists); false when the copy failed.
  virtual bool Copy(const std::string& from, const std::string& to, bool fail_if_exists) = 0;
  // DeleteFileA; false when nothing was deleted.
  virtual bool Delete(const std::string& path) = 0;
};

}  // namespace sfh56::platform
