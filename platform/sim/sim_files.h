#pragma once
// Files in memory for tests and tools: a map of path to contents, a settable main
// executable path and system folders, read-only paths, injectable failures of open,
// create and write, and a journal of the operations that change files.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace sfh56::sim {

class SimFiles : public platform::Files {
 public:
  explicit SimFiles(std::string main_executable_path = "C:\\Host\\Host.exe")
      : state_(std::make_shared<State>()) {
    state_->main_executable_path = std::move(main_executable_path);
  }

  void SetMainExecutablePath(const std::string& path);
  void SetFile(const std::string& path, const std::string& contents);
  void RemoveFile(const std::string& path);
  std::optional<std::string> FileContents(const std::string& path) const;

  // Failure injection: opening existing files for appending, creating files, and the
  // writes after the first ok_writes_left successful ones (-1: never fail).
  void FailOpenForAppend(bool fail);
  void FailCreate(bool fail);
  void FailWritesAfter(int ok_writes_left);

  // Version resources: sub-block -> text, per path.
  void SetVersionStrings(const std::string& path, std::map<std::string, std::string> strings);

  // The folders TempFolder and WindowsFolder report (defaults "C:\WINDOWS\TEMP\" and
  // "C:\WINDOWS"); an empty text plays a system that cannot tell.
  void SetFolders(const std::string& temp, const std::string& windows);
  // A path that is read-only, with everything below it when it names a folder: files
  // there cannot be created, copied over or deleted.
  void SetReadOnly(const std::string& path);
  // Every create, write, copy and delete, in order, as "create PATH", "write PATH",
  // "copy FROM -> TO", "delete PATH", with " failed" appended when it failed.
  std::vector<std::string> Operations() const;

  std::string MainExecutablePath() override;
  std::unique_ptr<platform::AppendFile> OpenForAppend(const std::string& path) override;
  std::unique_ptr<platform::AppendFile> Create(const std::string& path) override;
  std::unique_ptr<platform::VersionBlock> LoadVersionBlock(const std::string& path) override;
  std::string TempFolder() override;
  std::string WindowsFolder() override;
  bool Copy(const std::string& from, const std::string& to, bool fail_if_exists) override;
  bool Delete(const std::string& path) override;

 private:
  struct State {
    std::mutex mutex;
    std::string main_executable_path;
    std::map<std::string, std::string> files;
    std::map<std::string, std::map<std::string, std::string>> versions;
    bool fail_open_for_append = false;
    bool fail_create = false;
    int ok_writes_left = -1;
    std::string temp_folder = "C:\\WINDOWS\\TEMP\\";
    std::string windows_folder = "C:\\WINDOWS";
    std::vector<std::string> read_only;
    std::vector<std::string> operations;

    bool ReadOnly(const std::string& path) const;
    void Note(const std::string& operation, bool ok);
  };
  class File;
  class Version;

  std::shared_ptr<State> state_;
};

}  // namespace sfh56::sim
