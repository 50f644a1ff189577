#include "hwaccess/hardware_driver.h"

#include <optional>
#include <string>
#include <vector>

namespace sfh56 {
namespace {

constexpr char kVxdFileName[] = "TVICHW32.VXD";
constexpr char kNtDriverFileName[] = "TVicHW32.sys";
constexpr char kServiceKeyPath[] = "System\\CurrentControlSet\\Services\\TVICHW32";
constexpr int kAttempts = 2;

// Writes one payload to `windows`\`subfolder``file_name`: delete the temporary file, save the
// resource there, copy it over the destination, delete the temporary file. Nothing is
// reported and every result but the save's is ignored: a payload that cannot be saved is not
// copied.
void WritePayload(platform::Platform& platform, const char* resource_name,
                  const std::string& temp_folder, const std::string& windows, const char* subfolder,
                  const char* file_name) {
  // Without a folder the file would land wherever the host's current folder is.
  if (temp_folder.empty() || windows.empty()) return;
  const std::string destination = windows + subfolder + file_name;
  const std::optional<std::vector<uint8_t>> payload = platform.modules.OwnResource(resource_name);
  if (!payload) return;
  platform::Files& files = platform.files;
  const std::string temp_file = temp_folder + file_name;
  files.Delete(temp_file);
  {
    const std::unique_ptr<platform::AppendFile> file = files.Create(temp_file);
    if (!file) return;
    if (!file->Write(std::string(payload->begin(), payload->end()))) {
      // A file cut short neither replaces a whole one nor stays behind.
      files.Delete(temp_file);
      return;
    }
  }  // closed here, before the copy reads it
  files.Copy(temp_file, destination, /*fail_if_exists=*/false);
  files.Delete(temp_file);
}

void SetDword(platform::RegistryKey& key, const char* name, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  key.SetValue(name, platform::kRegDword, bytes, sizeof bytes);
}

void SetText(platform::RegistryKey& key, const char* name, const std::string& text) {
  // The size counts the terminating zero.
  key.SetValue(name, platform::kRegSz, reinterpret_cast<const uint8_t*>(text.c_str()),
               static_cast<uint32_t>(text.size() + 1));
}

// The NT driver's service: a kernel driver started automatically at every boot.
void WriteServiceKey(platform::Registry& registry) {
  const std::unique_ptr<platform::RegistryKey> key =
      registry.Create(platform::RootKey::kLocalMachine, kServiceKeyPath);
  if (!key) return;
  SetDword(*key, "ErrorControl", 1);
  SetDword(*key, "Type", 1);   // kernel driver
  SetDword(*key, "Start", 2);  // automatic start
  SetText(*key, "Group", "Extended Base");
  SetText(*key, "Parameters", "");
}

}  // namespace

void InstallDriverFiles(platform::Platform& platform) {
  const std::string temp_folder = platform.files.TempFolder();
  const std::string windows = platform.files.WindowsFolder();
  WritePayload(platform, "WinDLL", temp_folder, windows, "\\", kDriverLibraryName);
  if (platform.platform_id == platform::kPlatformWin32Windows) {
    WritePayload(platform, "Win9xVXD", temp_folder, windows, "\\SYSTEM\\", kVxdFileName);
  } else {
    WriteServiceKey(platform.registry);
    WritePayload(platform, "WinNTSYS", temp_folder, windows, "\\SYSTEM32\\DRIVERS\\",
                 kNtDriverFileName);
  }
}

HardwareDriver::~HardwareDriver() {
  CloseHardwareDriver();
}

bool HardwareDriver::LoadDriverLibrary() {
  for (int attempt = 0; attempt < kAttempts && !library_; ++attempt) {
    library_ = platform_.modules.Load(kDriverLibraryName);
    if (!library_ && attempt == 0) InstallDriverFiles(platform_);
  }
  if (!library_) return false;
  EntryPoints entry;
  entry.OpenTVicHW32 = reinterpret_cast<OpenTVicHW32Function>(library_->Resolve(kOpenTVicHW32));
  entry.CloseTVicHW32 = reinterpret_cast<CloseTVicHW32Function>(library_->Resolve(kCloseTVicHW32));
  entry.GetActiveHW = reinterpret_cast<GetActiveHWFunction>(library_->Resolve(kGetActiveHW));
  entry.RunRing0Function =
      reinterpret_cast<RunRing0FunctionFunction>(library_->Resolve(kRunRing0Function));
  if (!entry.OpenTVicHW32 || !entry.CloseTVicHW32 || !entry.GetActiveHW ||
      !entry.RunRing0Function) {
    library_.reset();
    return false;
  }
  entry_ = entry;
  return true;
}

void HardwareDriver::OpenHardwareDriver() {
  InstallDriverFiles(platform_);
  library_.reset();
  entry_ = {};
  active_ = LoadDriverLibrary();
  if (!active_) return;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    handle_ = 0;
    // The handle of a first open that stayed inactive is not closed: the library is
    // opened afresh over it.
    handle_ = entry_.OpenTVicHW32(handle_, kDriverServiceName, kDriverDeviceName);
    active_ = entry_.GetActiveHW(handle_) != 0;
    if (active_) break;
    if (attempt == 0) InstallDriverFiles(platform_);
  }
}

void HardwareDriver::CloseHardwareDriver() {
  if (active_) handle_ = entry_.CloseTVicHW32(handle_);
  active_ = false;
  entry_ = {};
  library_.reset();
}

int32_t HardwareDriver::RunRing0Function(Ring0Routine routine, void* argument) {
  if (!active_) return 0;
  return entry_.RunRing0Function(handle_, routine, argument);
}

}  // namespace sfh56
