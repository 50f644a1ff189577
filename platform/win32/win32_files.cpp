#include "platform/win32/win32_files.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/win32/handle_owner.h"

namespace sfh56::win32 {
namespace {

class Win32AppendFile : public platform::AppendFile {
 public:
  explicit Win32AppendFile(HandleOwner file) : file_(std::move(file)) {}
  bool Write(const std::string& bytes) override {
    size_t done = 0;
    while (done < bytes.size()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(bytes.size() - done);
      if (!WriteFile(file_.Get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) {
        return false;
      }
      done += written;
    }
    return true;
  }

 private:
  HandleOwner file_;
};

std::unique_ptr<platform::AppendFile> OpenFile(const std::string& path, DWORD access,
                                               DWORD disposition) {
  HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32AppendFile>(HandleOwner(file));
}

class Win32VersionBlock : public platform::VersionBlock {
 public:
  explicit Win32VersionBlock(std::vector<char> data) : data_(std::move(data)) {}
  std::optional<std::string> QueryString(const std::string& sub_block) override {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data_.data(), sub_block.c_str(), &value, &length) || value == nullptr ||
        length < 1) {
      return std::nullopt;
    }
    // The length counts the terminating zero; never read past it, even if it is missing.
    const char* text = static_cast<const char*>(value);
    return std::string(text, strnlen(text, length));
  }

 private:
  std::vector<char> data_;
};

}  // namespace

std::string Win32Files::MainExecutablePath() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return std::string(path.data(), length);
    path.resize(path.size() * 2);  // truncated: try a larger buffer
  }
}

std::unique_ptr<platform::AppendFile> Win32Files::OpenForAppend(const std::string& path) {
  return OpenFile(path, FILE_APPEND_DATA, OPEN_EXISTING);
}

std::unique_ptr<platform::AppendFile> Win32Files::Create(const std::string& path) {
  return OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS);
}

std::unique_ptr<platform::VersionBlock> Win32Files::LoadVersionBlock(const std::string& path) {
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &unused);
  if (size == 0) return nullptr;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return nullptr;
  return std::make_unique<Win32VersionBlock>(std::move(data));
}

namespace {

// The system's folders are asked for into buffers of this size; a longer path counts as
// unknown rather than being cut.
constexpr DWORD kFolderBufferSize = 501;

template <typename Query>
std::string FolderFrom(Query query) {
  char buffer[kFolderBufferSize] = {};
  const DWORD length = query(buffer, kFolderBufferSize);
  if (length == 0 || length >= kFolderBufferSize) return {};
  return std::string(buffer, length);
}

}  // namespace

std::string Win32Files::TempFolder() {
  return FolderFrom([](char* buffer, DWORD size) { return GetTempPathA(size, buffer); });
}

std::string Win32Files::WindowsFolder() {
  return FolderFrom([](char* buffer, DWORD size) { return GetWindowsDirectoryA(buffer, size); });
}

bool Win32Files::Copy(const std::string& from, const std::string& to, bool fail_if_exists) {
  return CopyFileA(from.c_str(), to.c_str(), fail_if_exists ? TRUE : FALSE) != FALSE;
}

bool Win32Files::Delete(const std::string& path) {
  return DeleteFileA(path.c_str()) != FALSE;
}

}  // namespace sfh56::win32
