#include "platform/sim/sim_files.h"

namespace sfh56::sim {

// An open file writes into the shared state, so it stays valid if the SimFiles goes first.
class SimFiles::File : public platform::AppendFile {
 public:
  File(std::shared_ptr<State> state, std::string path)
      : state_(std::move(state)), path_(std::move(path)) {}

  bool Write(const std::string& bytes) override {
    std::lock_guard lock(state_->mutex);
    const bool ok = state_->ok_writes_left != 0;
    state_->Note("write " + path_, ok);
    if (!ok) return false;
    if (state_->ok_writes_left > 0) --state_->ok_writes_left;
    state_->files[path_] += bytes;
    return true;
  }

 private:
  std::shared_ptr<State> state_;
  std::string path_;
};

class SimFiles::Version : public platform::VersionBlock {
 public:
  explicit Version(std::map<std::string, std::string> strings) : strings_(std::move(strings)) {}

  std::optional<std::string> QueryString(const std::string& sub_block) override {
    const auto it = strings_.find(sub_block);
    if (it == strings_.end() || it->second.empty()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::string, std::string> strings_;
};

void SimFiles::SetMainExecutablePath(const std::string& path) {
  std::lock_guard lock(state_->mutex);
  state_->main_executable_path = path;
}

void SimFiles::SetFile(const std::string& path, const std::string& contents) {
  std::lock_guard lock(state_->mutex);
  state_->files[path] = contents;
}

void SimFiles::RemoveFile(const std::string& path) {
  std::lock_guard lock(state_->mutex);
  state_->files.erase(path);
}

std::optional<std::string> SimFiles::FileContents(const std::string& path) const {
  std::lock_guard lock(state_->mutex);
  const auto it = state_->files.find(path);
  if (it == state_->files.end()) return std::nullopt;
  return it->second;
}

void SimFiles::FailOpenForAppend(bool fail) {
  std::lock_guard lock(state_->mutex);
  state_->fail_open_for_append = fail;
}

void SimFiles::FailCreate(bool fail) {
  std::lock_guard lock(state_->mutex);
  state_->fail_create = fail;
}

void SimFiles::FailWritesAfter(int ok_writes_left) {
  std::lock_guard lock(state_->mutex);
  state_->ok_writes_left = ok_writes_left;
}

void SimFiles::SetVersionStrings(const std::string& path,
                                 std::map<std::string, std::string> strings) {
  std::lock_guard lock(state_->mutex);
  state_->versions[path] = std::move(strings);
}

std::string SimFiles::MainExecutablePath() {
  std::lock_guard lock(state_->mutex);
  return state_->main_executable_path;
}

std::unique_ptr<platform::AppendFile> SimFiles::OpenForAppend(const std::string& path) {
  std::lock_guard lock(state_->mutex);
  if (state_->fail_open_for_append || state_->files.count(path) == 0) return nullptr;
  return std::make_unique<File>(state_, path);
}

std::unique_ptr<platform::AppendFile> SimFiles::Create(const std::string& path) {
  std::lock_guard lock(state_->mutex);
  const bool ok = !state_->fail_create && !state_->ReadOnly(path);
  state_->Note("create " + path, ok);
  if (!ok) return nullptr;
  state_->files[path].clear();
  return std::make_unique<File>(state_, path);
}

std::unique_ptr<platform::VersionBlock> SimFiles::LoadVersionBlock(const std::string& path) {
  std::lock_guard lock(state_->mutex);
  const auto it = state_->versions.find(path);
  if (it == state_->versions.end()) return nullptr;
  return std::make_unique<Version>(it->second);
}

bool SimFiles::State::ReadOnly(const std::string& path) const {
  for (const std::string& locked : read_only) {
    if (path == locked || path.starts_with(locked + "\\")) return true;
  }
  return false;
}

void SimFiles::State::Note(const std::string& operation, bool ok) {
  operations.push_back(ok ? operation : operation + " failed");
}

void SimFiles::SetFolders(const std::string& temp, const std::string& windows) {
  std::lock_guard lock(state_->mutex);
  state_->temp_folder = temp;
  state_->windows_folder = windows;
}

void SimFiles::SetReadOnly(const std::string& path) {
  std::lock_guard lock(state_->mutex);
  state_->read_only.push_back(path);
}

std::vector<std::string> SimFiles::Operations() const {
  std::lock_guard lock(state_->mutex);
  return state_->operations;
}

std::string SimFiles::TempFolder() {
  std::lock_guard lock(state_->mutex);
  return state_->temp_folder;
}

std::string SimFiles::WindowsFolder() {
  std::lock_guard lock(state_->mutex);
  return state_->windows_folder;
}

bool SimFiles::Copy(const std::string& from, const std::string& to, bool fail_if_exists) {
  std::lock_guard lock(state_->mutex);
  const auto source = state_->files.find(from);
  const bool ok = source != state_->files.end() && !state_->ReadOnly(to) &&
                  !(fail_if_exists && state_->files.count(to) != 0);
  state_->Note("copy " + from + " -> " + to, ok);
  if (ok) state_->files[to] = source->second;
  return ok;
}

bool SimFiles::Delete(const std::string& path) {
  std::lock_guard lock(state_->mutex);
  const bool ok = state_->files.count(path) != 0 && !state_->ReadOnly(path);
  state_->Note("delete " + path, ok);
  if (ok) state_->files.erase(path);
  return ok;
}

}  // namespace sfh56::sim
