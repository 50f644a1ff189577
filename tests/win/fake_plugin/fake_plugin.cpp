// A stand-in plugin for testing the host emulator: exports both generations' entry
// points and, once started, hands three fixed codes to the host from a background
// thread over whichever path the host offers, as the real receiver does.

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#define FAKE_EXPORT extern "C" __declspec(dllexport)

namespace {

constexpr char kName[] = "Fake test plugin";
constexpr char kDescription[] = "Plugin that delivers three fixed codes";
constexpr char kVersion[] = "0.1";
constexpr const char* kCodes[] = {"1A2B", "48B7", "C0DE"};
constexpr DWORD kSemaphoreWaitMs = 5000;
constexpr int kTableSlots = 28;
constexpr int kRecordWords = 11;

using EventFn = int(WINAPI*)(const char* code, const char* text, int reserved, int device);
using TranslateIntoFn = int(WINAPI*)(const char* text, char* buffer, int size);
using TranslateReturningFn = const char*(WINAPI*)(const char* text);

int g_level = 0;
int g_device = 7;
UINT g_message = 0x0806;
HWND g_window = nullptr;
TranslateReturningFn g_translate = nullptr;
uintptr_t g_record[kRecordWords] = {};
uintptr_t g_table[kTableSlots] = {};
HANDLE g_mapping = nullptr;
HANDLE g_semaphore = nullptr;
char* g_view = nullptr;
bool g_open = false;
HANDLE g_thread = nullptr;
HANDLE g_stop = nullptr;
char g_translation[1000];
bool g_host_knows_level_2 = false;

// The older host supports the second API level from FileVersion 3.1 on.
bool HostKnowsLevel2() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  DWORD size = GetFileVersionInfoSizeA(path, nullptr);
  if (size == 0) return false;
  std::vector<char> block(size);
  if (!GetFileVersionInfoA(path, 0, size, block.data())) return false;
  char* version = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), "StringFileInfo\\040904E4\\FileVersion",
                      reinterpret_cast<void**>(&version), &length) ||
      length == 0) {
    return false;
  }
  return std::atof(version) >= 3.1;
}

const char* Translate(const char* text) {
  if (g_level == 3) {
    auto fn = reinterpret_cast<TranslateIntoFn>(g_table[12]);
    if (fn != nullptr && fn(text, g_translation, sizeof(g_translation)) == 1) return g_translation;
    return text;
  }
  auto fn = reinterpret_cast<TranslateIntoFn>(g_record[10]);
  if (fn != nullptr && (fn(text, g_translation, sizeof(g_translation)) & 0xFF) != 0) {
    return g_translation;
  }
  if (g_translate != nullptr) return g_translate(text);
  return text;
}

void Deliver(const char* code) {
  if (g_level == 3) {
    auto fn = reinterpret_cast<EventFn>(g_table[25]);
    if (fn != nullptr) fn(code, "", 0, g_device);
  } else if (g_level == 0) {
    COPYDATASTRUCT data = {0, static_cast<DWORD>(std::strlen(code) + 1), const_cast<char*>(code)};
    SendMessageA(g_window, WM_COPYDATA, g_device, reinterpret_cast<LPARAM>(&data));
  } else if (g_view != nullptr) {
    HANDLE waits[] = {g_stop, g_semaphore};
    if (WaitForMultipleObjects(2, waits, FALSE, kSemaphoreWaitMs) != WAIT_OBJECT_0 + 1) return;
    std::strcpy(g_view, code);
    SendMessageA(g_window, g_message, g_device, 0);
  }
}

DWORD WINAPI Receiver(LPVOID) {
  for (const char* code : kCodes) {
    if (WaitForSingleObject(g_stop, 0) == WAIT_OBJECT_0) return 0;
    Deliver(code);
  }
  WaitForSingleObject(g_stop, INFINITE);
  return 0;
}

bool Start() {
  if (!g_open) return false;
  if (g_thread != nullptr) return true;
  Translate("fake start");
  ResetEvent(g_stop);
  g_thread = CreateThread(nullptr, 0, Receiver, nullptr, 0, nullptr);
  return g_thread != nullptr;
}

// Waits for the receiver while answering messages sent to this thread, so that a receiver
// blocked in SendMessageA to a host window on this thread can finish.
void Stop() {
  if (g_thread == nullptr) return;
  SetEvent(g_stop);
  while (MsgWaitForMultipleObjects(1, &g_thread, FALSE, INFINITE, QS_SENDMESSAGE) ==
         WAIT_OBJECT_0 + 1) {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  CloseHandle(g_thread);
  g_thread = nullptr;
}

char* CopyText(const char* text, char* buffer, unsigned max) {
  size_t count = std::min<size_t>(std::strlen(text), max);
  std::memcpy(buffer, text, count);
  buffer[count] = '\0';
  return buffer;
}

// Configuration asks the user through a message box, with the translated text.
void Configure() {
  MessageBoxA(nullptr, Translate("fake configure"), kName, MB_OKCANCEL | MB_TOPMOST);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_host_knows_level_2 = HostKnowsLevel2();
    g_mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "GirderFileMap6111976");
    if (g_mapping == nullptr) return TRUE;
    g_semaphore = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, "GirderSemaphore6111976");
    if (g_semaphore == nullptr) return TRUE;
    g_view = static_cast<char*>(MapViewOfFile(g_mapping, FILE_MAP_WRITE, 0, 0, 0));
    g_level = 1;
  } else if (reason == DLL_PROCESS_DETACH) {
    if (g_thread != nullptr) {
      SetEvent(g_stop);
      WaitForSingleObject(g_thread, 5000);
      CloseHandle(g_thread);
    }
    if (g_view != nullptr) UnmapViewOfFile(g_view);
    if (g_semaphore != nullptr) CloseHandle(g_semaphore);
    if (g_mapping != nullptr) CloseHandle(g_mapping);
    CloseHandle(g_stop);
  }
  return TRUE;
}

// Newer generation.
FAKE_EXPORT char* WINAPI gir_name(char* buffer, int max) {
  return CopyText(kName, buffer, max);
}
FAKE_EXPORT char* WINAPI gir_description(char* buffer, int max) {
  return CopyText(kDescription, buffer, max);
}
FAKE_EXPORT char* WINAPI gir_version(char* buffer, int max) {
  return CopyText(kVersion, buffer, max);
}
FAKE_EXPORT int WINAPI gir_devicenum() {
  g_device = 207;
  return 207;
}
FAKE_EXPORT int WINAPI gir_requested_api(int host_api) {
  return host_api >= 1 ? 1 : 0;
}
FAKE_EXPORT int WINAPI gir_open(int major, int minor, int, void* functions) {
  if ((major >= 3 && minor >= 2) || major >= 4) {
    g_level = 3;
    g_device = 207;
  }
  if (functions != nullptr) std::memcpy(g_table, functions, sizeof(g_table));
  g_open = true;
  return functions != nullptr ? 1 : 0;
}
FAKE_EXPORT int WINAPI gir_close() {
  Stop();
  g_open = false;
  return 1;
}
FAKE_EXPORT void WINAPI gir_config() {
  Configure();
}
FAKE_EXPORT int WINAPI gir_start() {
  return Start() ? 1 : 0;
}
FAKE_EXPORT int WINAPI gir_stop() {
  Stop();
  return 1;
}
FAKE_EXPORT int WINAPI gir_compare(const char* a, const char* b) {
  return std::strcmp(a, b) == 0 ? 1 : 0;
}
FAKE_EXPORT int WINAPI gir_info(int, int, int) {
  return 1;
}

// Older generation. With a host of version 3.1 or later the first support call raises the
// level to 2, and a later one switches to the registered message.
FAKE_EXPORT int WINAPI h_support_functions(void* record) {
  if (record != nullptr) {
    uint32_t count = 0;
    std::memcpy(&count, record, sizeof(count));
    std::memcpy(g_record, record, std::min<size_t>(count, sizeof(g_record)));
    if (g_level == 2) g_message = RegisterWindowMessageA("9FC3EB47-4ED7-41f2-BDE7-955D1BB05D8E");
  }
  if (!g_host_knows_level_2) return 1;
  g_level = 2;
  return 2;
}
FAKE_EXPORT void WINAPI init_device(HWND window, void* translate) {
  g_window = window;
  g_translate = reinterpret_cast<TranslateReturningFn>(translate);
  g_open = true;
}
FAKE_EXPORT void WINAPI clean_up_device() {
  gir_close();
}
FAKE_EXPORT int WINAPI start_device() {
  return Start() ? -1 : 0;
}
FAKE_EXPORT int WINAPI stop_device() {
  Stop();
  return -1;
}
FAKE_EXPORT int WINAPI flush_device() {
  return -1;
}
FAKE_EXPORT int WINAPI config_device() {
  Configure();
  return -1;
}
FAKE_EXPORT int WINAPI compare_str(const char* a, const char* b) {
  return std::strcmp(a, b) == 0 ? -1 : 0;
}
FAKE_EXPORT char* WINAPI identify_device(char* buffer, int max) {
  return CopyText(kDescription, buffer, max & 0xFF);
}
FAKE_EXPORT char* WINAPI support_device(char* buffer, int max) {
  return CopyText(kName, buffer, max & 0xFF);
}
FAKE_EXPORT char* WINAPI version_device(char* buffer, int max) {
  return CopyText(kVersion, buffer, max & 0xFF);
}
FAKE_EXPORT int WINAPI get_device_num() {
  return g_device;
}
