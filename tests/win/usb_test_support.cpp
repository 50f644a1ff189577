#include "tests/win/usb_test_support.h"

#include <windows.h>

#include <fstream>
#include <sstream>

namespace sfh56::wintest {

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  const size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

std::string TemporaryFileName(const std::string& prefix) {
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  char name[MAX_PATH] = {};
  GetTempFileNameA(folder, prefix.c_str(), 0, name);  // creates it empty
  return name;
}

std::vector<std::vector<uint8_t>> ReadReplayInDeviceUnits(const std::string& path) {
  std::vector<std::vector<uint8_t>> signals;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#' || line[0] == '\r') continue;
    std::istringstream words(line);
    std::vector<uint8_t> signal;
    long long microseconds = 0;
    while (words >> microseconds && signal.size() < 255) {
      // us x 12000000 / 1024 / 1000000 device units, to the nearest.
      long long units = (microseconds * 12 + 512) / 1024;
      units = units < 1 ? 1 : (units > 255 ? 255 : units);
      signal.push_back(static_cast<uint8_t>(units));
    }
    if (!signal.empty()) signals.push_back(std::move(signal));
  }
  return signals;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

void ConfigureStandInLibrary(const std::string& replay_path, const std::string& log_path) {
  SetEnvironmentVariableA("USB_RECEIVER_REPLAY", replay_path.c_str());
  SetEnvironmentVariableA("USB_RECEIVER_LOG", log_path.c_str());
}

namespace {

constexpr char kSettingsKey[] = "Software\\Girder3\\HardPlugins\\Plonix SFH-56 device";

HKEY SettingsRoot(int i) {
  return i == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

}  // namespace

ComNameOverride::ComNameOverride(const std::string& com_name) {
  for (int i = 0; i < 2; ++i) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(SettingsRoot(i), kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      continue;
    }
    char old[256] = {};
    DWORD size = sizeof old - 1;
    DWORD type = 0;
    had_[i] = RegQueryValueExA(key, "ComName", nullptr, &type, reinterpret_cast<BYTE*>(old),
                               &size) == ERROR_SUCCESS &&
              type == REG_SZ;
    if (had_[i]) old_[i] = old;
    RegSetValueExA(key, "ComName", 0, REG_SZ, reinterpret_cast<const BYTE*>(com_name.c_str()),
                   static_cast<DWORD>(com_name.size() + 1));
    RegCloseKey(key);
  }
}

ComNameOverride::~ComNameOverride() {
  for (int i = 0; i < 2; ++i) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(SettingsRoot(i), kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
      continue;
    }
    if (had_[i]) {
      RegSetValueExA(key, "ComName", 0, REG_SZ, reinterpret_cast<const BYTE*>(old_[i].c_str()),
                     static_cast<DWORD>(old_[i].size() + 1));
    } else {
      RegDeleteValueA(key, "ComName");
    }
    RegCloseKey(key);
  }
}

}  // namespace sfh56::wintest
