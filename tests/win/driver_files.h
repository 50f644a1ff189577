#pragma once
// The hardware-access driver's files and service key as the Windows tests see them, and a
// test library put in place of the plugin's own.

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace sfh56::wintest {

inline constexpr char kServiceKey[] = "System\\CurrentControlSet\\Services\\TVICHW32";

inline std::string WindowsFolder() {
  char buffer[MAX_PATH] = {};
  GetWindowsDirectoryA(buffer, sizeof buffer);
  return buffer;
}
inline std::string TempFolder() {
  char buffer[MAX_PATH] = {};
  GetTempPathA(sizeof buffer, buffer);
  return buffer;
}
inline std::string LibraryPath() {
  return WindowsFolder() + "\\PlonixDRV.dll";
}
inline std::string NtDriverPath() {
  return WindowsFolder() + "\\SYSTEM32\\DRIVERS\\TVicHW32.sys";
}

// Build-tree paths arrive as Unix paths; Wine shows the root file system as drive Z:.
inline std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  return path;
}

inline bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Waits (at most about ten seconds) for a service to reach a state.
inline bool ReachesState(SC_HANDLE service, DWORD state) {
  SERVICE_STATUS status{};
  for (int i = 0; i < 200; ++i) {
    if (QueryServiceStatus(service, &status) && status.dwCurrentState == state) return true;
    Sleep(50);
  }
  return false;
}

// The kernel driver's own check service, made over the installed file.
inline constexpr char kDriverCheckService[] = "SfhKernelDriverCheck";

// Stops and deletes the services that run the driver file, where the service manager
// knows them. An install an interrupted run left behind is started when the Wine session
// next boots (its service starts automatically), and the device host then keeps the
// driver file open, so no install could replace it and no removal delete it.
inline void StopDriverServices() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return;
  for (const char* name : {"TVICHW32", kDriverCheckService}) {
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (service == nullptr) continue;
    SERVICE_STATUS status{};
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
      ReachesState(service, SERVICE_STOPPED);
    }
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

// Removes what an install leaves: the running services, the files (read-only or not) and
// the service key. A driver file may stay in use a moment after its service stopped (the
// system's device host lets go of it when it gets round to it), so each file is retried
// for a while.
inline void RemoveDriverInstallation() {
  StopDriverServices();
  for (const std::string& path : {LibraryPath(), NtDriverPath()}) {
    for (int waited_ms = 0; FileExists(path) && waited_ms < 30000; waited_ms += 50) {
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (DeleteFileA(path.c_str())) break;
      Sleep(50);
    }
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServiceKey);
}

struct RegistryValue {
  std::string name;
  DWORD type = 0;
  std::vector<uint8_t> data;
  bool operator==(const RegistryValue&) const = default;
};

// Every value of the service key, as the registry enumerates them.
inline std::vector<RegistryValue> ServiceKeyValues() {
  std::vector<RegistryValue> values;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return values;
  }
  for (DWORD index = 0;; ++index) {
    char name[256] = {};
    DWORD name_length = sizeof name;
    BYTE data[256] = {};
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, index, name, &name_length, nullptr, &type, data, &size) !=
        ERROR_SUCCESS) {
      break;
    }
    values.push_back({name, type, std::vector<uint8_t>(data, data + size)});
  }
  RegCloseKey(key);
  return values;
}

// The values the plugin's install writes, in its order.
inline std::vector<RegistryValue> ExpectedServiceValues() {
  const std::string group = "Extended Base";
  std::vector<uint8_t> group_bytes(group.begin(), group.end());
  group_bytes.push_back(0);
  return {{"ErrorControl", REG_DWORD, {1, 0, 0, 0}},
          {"Type", REG_DWORD, {1, 0, 0, 0}},
          {"Start", REG_DWORD, {2, 0, 0, 0}},
          {"Group", REG_SZ, group_bytes},
          {"Parameters", REG_SZ, {0}}};
}

// Puts a library of the test's own where the plugin loads its hardware-access library
// from (the Windows folder) so that no install replaces it: the file is marked read-only
// and kept loaded, and either makes the install's copy over it fail. (Wine run by root
// copies over a read-only file all the same; a loaded library it never replaces.) The
// plugin's load by name then finds this library. Everything is undone at the end.
class DriverLibraryInPlace {
 public:
  explicit DriverLibraryInPlace(const std::string& library) {
    RemoveDriverInstallation();
    copied_ = CopyFileA(library.c_str(), LibraryPath().c_str(), FALSE) != FALSE &&
              SetFileAttributesA(LibraryPath().c_str(), FILE_ATTRIBUTE_READONLY) != FALSE;
    module_ = copied_ ? LoadLibraryA(LibraryPath().c_str()) : nullptr;
  }
  ~DriverLibraryInPlace() {
    if (module_ != nullptr) FreeLibrary(module_);
    RemoveDriverInstallation();
  }
  DriverLibraryInPlace(const DriverLibraryInPlace&) = delete;
  DriverLibraryInPlace& operator=(const DriverLibraryInPlace&) = delete;

  bool Ready() const { return module_ != nullptr; }
  HMODULE Module() const { return module_; }
  // The test library's journal of calls (tests/win/test_driver_library).
  std::string Journal() const {
    using JournalFunction = uint32_t(WINAPI*)(char*, uint32_t);
    const auto journal = reinterpret_cast<JournalFunction>(
        reinterpret_cast<void*>(GetProcAddress(module_, "TestDriverJournal")));
    if (journal == nullptr) return "(not the test library)";
    char buffer[4096] = {};
    journal(buffer, sizeof buffer);
    return buffer;
  }

 private:
  bool copied_ = false;
  HMODULE module_ = nullptr;
};

}  // namespace sfh56::wintest
