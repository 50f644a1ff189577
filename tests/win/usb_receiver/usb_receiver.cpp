// A stand-in for the maker's USB receiver library, for tests only. It exports the five
// entry points of the real library and plays back recorded signals instead of reading a
// device:
//
//   USB_RECEIVER_REPLAY  file of signals, one per line: mark and space durations in
//                        microseconds separated by spaces, mark first; lines starting
//                        with # and empty lines are skipped.
//   USB_RECEIVER_LOG     file to which every call that reaches the device's port, and
//                        every poll, is appended as one line:
//                          setout XX / setdir XX    (hex byte written)
//                          poll R N                 (result and count returned)
//
// DoGetInfraCode returns one signal per call, each duration converted to the device's
// unit of 1024/12000000 s, rounded to the nearest unit and kept within 1..255; after the
// last signal it reports nothing (result 1, count 0). The port's output byte starts as
// 0xA7 and its direction byte as 0x50, so a test can see that bits 2..7 are left alone.
//
// State lives only as long as the library is loaded: every load replays from the start.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kInitialOut = 0xA7;
constexpr uint8_t kInitialDirection = 0x50;

struct Replay {
  bool loaded = false;
  std::vector<std::vector<uint8_t>> signals;
  size_t next = 0;
  uint8_t out = kInitialOut;
  uint8_t direction = kInitialDirection;
};

Replay g_replay;
CRITICAL_SECTION g_lock;

std::string Environment(const char* name) {
  char value[MAX_PATH * 2] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  if (length == 0 || length >= sizeof value) return {};
  return std::string(value, length);
}

// Microseconds to device units: us x 12000000 / 1024 / 1000000 = us x 12 / 1024.
uint8_t ToDeviceUnits(long long microseconds) {
  if (microseconds <= 0) return 1;
  const long long units = (microseconds * 12 + 512) / 1024;
  if (units < 1) return 1;
  if (units > 255) return 255;
  return static_cast<uint8_t>(units);
}

void LoadReplay() {
  if (g_replay.loaded) return;
  g_replay.loaded = true;
  const std::string path = Environment("USB_RECEIVER_REPLAY");
  if (path.empty()) return;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#' || line[0] == '\r') continue;
    std::istringstream words(line);
    std::vector<uint8_t> signal;
    long long microseconds = 0;
    while (words >> microseconds) signal.push_back(ToDeviceUnits(microseconds));
    if (!signal.empty()) g_replay.signals.push_back(std::move(signal));
  }
}

void Log(const std::string& line) {
  const std::string path = Environment("USB_RECEIVER_LOG");
  if (path.empty()) return;
  if (FILE* file = std::fopen(path.c_str(), "a")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

std::string Hex(uint8_t value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

class Locked {
 public:
  Locked() { EnterCriticalSection(&g_lock); }
  ~Locked() { LeaveCriticalSection(&g_lock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) InitializeCriticalSection(&g_lock);
  if (reason == DLL_PROCESS_DETACH) DeleteCriticalSection(&g_lock);
  return TRUE;
}

int32_t WINAPI DoGetInfraCode(uint8_t* buffer, int32_t capacity, int32_t* count) {
  Locked lock;
  LoadReplay();
  int32_t result = 1;
  *count = 0;
  if (g_replay.next < g_replay.signals.size()) {
    const std::vector<uint8_t>& signal = g_replay.signals[g_replay.next++];
    int32_t n = static_cast<int32_t>(signal.size());
    if (n > capacity) n = capacity < 0 ? 0 : capacity;
    for (int32_t i = 0; i < n; ++i) buffer[i] = signal[static_cast<size_t>(i)];
    *count = n;
    result = 0;
  }
  Log("poll " + std::to_string(result) + " " + std::to_string(*count));
  return result;
}

int32_t WINAPI DoSetDataPortDirection(uint8_t value) {
  Locked lock;
  g_replay.direction = value;
  Log("setdir " + Hex(value));
  return 0;
}

int32_t WINAPI DoGetDataPortDirection(uint8_t* value) {
  Locked lock;
  *value = g_replay.direction;
  return 0;
}

int32_t WINAPI DoSetOutDataPort(uint8_t value) {
  Locked lock;
  g_replay.out = value;
  Log("setout " + Hex(value));
  return 0;
}

int32_t WINAPI DoGetOutDataPort(uint8_t* value) {
  Locked lock;
  *value = g_replay.out;
  return 0;
}

}  // extern "C"
