#include "tools/plugin-host/host_emulator.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace sfh56::tools {
namespace {

// Entry points of both generations, stdcall with 32-bit arguments in the product.
using TextFn = char*(WINAPI*)(char* buffer, int max);
using IntFn = int(WINAPI*)();
using VoidFn = void(WINAPI*)();
using RequestedApiFn = int(WINAPI*)(int host_api);
using OpenFn = int(WINAPI*)(int major, int minor, int third, void* functions);
using SupportFn = int(WINAPI*)(void* record);
using InitFn = void(WINAPI*)(HWND window, void* translate);

// The plugin's callbacks carry no context: they find the one live host here.
std::atomic<PluginHost*> g_active_host{nullptr};

constexpr char kWindowClassName[] = "SfhPluginHostWindow";
// Identity buffers: 255 characters and the zero. The older set reads max modulo 256.
constexpr int kTextMax = 255;

std::string BoundedText(const char* text, size_t limit) {
  if (text == nullptr) return {};
  return std::string(text, strnlen(text, limit));
}

void WriteTranslation(const char* text, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return;
  std::string translated = kTranslationPrefix + BoundedText(text, 65536);
  size_t count = std::min(translated.size(), static_cast<size_t>(size) - 1);
  std::memcpy(buffer, translated.data(), count);
  buffer[count] = '\0';
}

// Translation function of the newer table (slot 12) and the older record (word 10).
int WINAPI TranslateInto(const char* text, char* buffer, int size) {
  PluginHost* host = g_active_host.load();
  if (host == nullptr) return 0;
  host->sink().OnTranslate(BoundedText(text, 65536));
  WriteTranslation(text, buffer, size);
  return 1;
}

// The older host's translation function given to init_device: returns the text to show,
// valid until the calling thread's next translation.
const char* WINAPI TranslateReturning(const char* text) {
  thread_local std::string translated;
  PluginHost* host = g_active_host.load();
  if (host == nullptr) return text;
  std::string original = BoundedText(text, 65536);
  host->sink().OnTranslate(original);
  translated = kTranslationPrefix + original;
  return translated.c_str();
}

// The newer host's event function (slot 25); may run on the plugin's receiver thread.
int WINAPI ReceiveEvent(const char* code, const char* text, int /*reserved*/, int device) {
  PluginHost* host = g_active_host.load();
  if (host == nullptr) return 0;
  HostEvent event;
  event.code = BoundedText(code, 65536);
  event.text = BoundedText(text, 65536);
  event.device = device;
  event.path = EventPath::kEventFunction;
  host->sink().OnEvent(event);
  return 0;
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  PluginHost* host = g_active_host.load();
  if (host != nullptr && window == host->window()) {
    if (message == WM_COPYDATA) {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
      HostEvent event;
      event.device = static_cast<intptr_t>(wparam);
      event.path = EventPath::kCopyData;
      if (data != nullptr && data->lpData != nullptr) {
        event.code = BoundedText(static_cast<const char*>(data->lpData), data->cbData);
      }
      host->DeliverFromWindow(event);
      return TRUE;
    }
    static const UINT registered = RegisterWindowMessageA(kRegisteredMessageName);
    if (message == kSharedCodeMessage) {
      host->DeliverSharedCode(wparam, EventPath::kSharedMemory);
      return 0;
    }
    if (registered != 0 && message == registered) {
      host->DeliverSharedCode(wparam, EventPath::kSharedMemoryRegistered);
      return 0;
    }
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

std::string LastErrorText(const char* what) {
  return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

}  // namespace

struct PluginHost::Entries {
  // Newer generation.
  TextFn gir_name = nullptr;
  TextFn gir_description = nullptr;
  TextFn gir_version = nullptr;
  RequestedApiFn gir_requested_api = nullptr;
  IntFn gir_devicenum = nullptr;
  OpenFn gir_open = nullptr;
  IntFn gir_start = nullptr;
  IntFn gir_stop = nullptr;
  IntFn gir_close = nullptr;
  VoidFn gir_config = nullptr;
  // Older generation.
  SupportFn h_support_functions = nullptr;
  InitFn init_device = nullptr;
  TextFn support_device = nullptr;
  TextFn identify_device = nullptr;
  TextFn version_device = nullptr;
  IntFn start_device = nullptr;
  IntFn stop_device = nullptr;
  VoidFn clean_up_device = nullptr;
  IntFn config_device = nullptr;
  IntFn get_device_num = nullptr;
};

PluginHost::PluginHost(const HostSetup& setup, HostEventSink& sink)
    : setup_(setup), sink_(sink), entries_(std::make_unique<Entries>()) {
  PluginHost* expected = nullptr;
  // A second live host would steal the first one's callbacks; the first one keeps them.
  g_active_host.compare_exchange_strong(expected, this);
  if (setup_.translate) {
    function_table_[kTranslateSlot] = reinterpret_cast<uintptr_t>(&TranslateInto);
    support_record_[kSupportTranslateWord] = reinterpret_cast<uintptr_t>(&TranslateInto);
  }
  function_table_[kEventSlot] = reinterpret_cast<uintptr_t>(&ReceiveEvent);
  support_record_[0] = sizeof(support_record_);
}

PluginHost::~PluginHost() {
  Unload();
  PluginHost* expected = this;
  g_active_host.compare_exchange_strong(expected, nullptr);
}

bool PluginHost::CreateSharedObjects(std::string* error) {
  mapping_.Reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                    kSharedViewBytes, kSharedMappingName));
  if (!mapping_) {
    *error = LastErrorText("cannot create the shared memory");
    return false;
  }
  view_ = static_cast<char*>(MapViewOfFile(mapping_.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (view_ == nullptr) {
    *error = LastErrorText("cannot map the shared memory");
    return false;
  }
  // Count 1: the plugin's first delivery may write at once; the host releases the
  // semaphore each time it has read a code.
  semaphore_.Reset(CreateSemaphoreA(nullptr, 1, 1, kSharedSemaphoreName));
  if (!semaphore_) {
    *error = LastErrorText("cannot create the semaphore");
    return false;
  }
  return true;
}

bool PluginHost::CreateHostWindow(std::string* error) {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = HostWindowProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = kWindowClassName;
  if (RegisterClassA(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    *error = LastErrorText("cannot register the host window class");
    return false;
  }
  window_ = CreateWindowExA(0, kWindowClassName, "plugin-host", 0, 0, 0, 0, 0, HWND_MESSAGE,
                            nullptr, GetModuleHandleA(nullptr), nullptr);
  if (window_ == nullptr) {
    *error = LastErrorText("cannot create the host window");
    return false;
  }
  registered_message_ = RegisterWindowMessageA(kRegisteredMessageName);
  return true;
}

bool PluginHost::Load(const std::string& path, std::string* error) {
  if (g_active_host.load() != this) {
    *error = "another host emulator is active in this process";
    return false;
  }
  if (module_ != nullptr) {
    *error = "a plugin is already loaded";
    return false;
  }
  const bool older = setup_.generation == HostGeneration::kOlder;
  // The plugin looks for the shared memory while it loads, so it must exist first.
  if (older && setup_.shared_memory && !CreateSharedObjects(error)) return false;
  if (older && !CreateHostWindow(error)) return false;

  module_ = LoadLibraryA(path.c_str());
  if (module_ == nullptr) {
    *error = LastErrorText(("cannot load " + path).c_str());
    return false;
  }
  std::string missing;
  auto resolve = [&](auto& entry, const char* name) {
    entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(
        reinterpret_cast<void*>(GetProcAddress(module_, name)));
    if (entry == nullptr) missing += (missing.empty() ? "" : ", ") + std::string(name);
  };
  Entries& e = *entries_;
  if (older) {
    resolve(e.h_support_functions, "h_support_functions");
    resolve(e.init_device, "init_device");
    resolve(e.support_device, "support_device");
    resolve(e.identify_device, "identify_device");
    resolve(e.version_device, "version_device");
    resolve(e.start_device, "start_device");
    resolve(e.stop_device, "stop_device");
    resolve(e.clean_up_device, "clean_up_device");
    resolve(e.config_device, "config_device");
    resolve(e.get_device_num, "get_device_num");
  } else {
    resolve(e.gir_name, "gir_name");
    resolve(e.gir_description, "gir_description");
    resolve(e.gir_version, "gir_version");
    resolve(e.gir_requested_api, "gir_requested_api");
    resolve(e.gir_devicenum, "gir_devicenum");
    resolve(e.gir_open, "gir_open");
    resolve(e.gir_start, "gir_start");
    resolve(e.gir_stop, "gir_stop");
    resolve(e.gir_close, "gir_close");
    resolve(e.gir_config, "gir_config");
  }
  if (!missing.empty()) {
    *error = path + " lacks the entry points " + missing;
    FreeLibrary(module_);
    module_ = nullptr;
    return false;
  }
  return true;
}

namespace {
std::string CallText(TextFn fn) {
  // Room for max characters and the zero the plugin writes after them, and a guard.
  char buffer[kTextMax + 2] = {};
  fn(buffer, kTextMax);
  buffer[kTextMax + 1] = '\0';
  return buffer;
}
}  // namespace

std::string PluginHost::Name() {
  return CallText(entries_->gir_name ? entries_->gir_name : entries_->support_device);
}

std::string PluginHost::Description() {
  return CallText(entries_->gir_description ? entries_->gir_description
                                            : entries_->identify_device);
}

std::string PluginHost::Version() {
  return CallText(entries_->gir_version ? entries_->gir_version : entries_->version_device);
}

int PluginHost::CallSupportFunctions() {
  if (entries_->h_support_functions == nullptr) return 0;
  return entries_->h_support_functions(support_record_);
}

std::optional<int> PluginHost::Open() {
  open_ = true;
  if (setup_.generation == HostGeneration::kOlder) {
    void* translate = setup_.translate ? reinterpret_cast<void*>(&TranslateReturning) : nullptr;
    entries_->init_device(window_, translate);
    return std::nullopt;
  }
  requested_api_result_ = entries_->gir_requested_api(1);
  devicenum_result_ = entries_->gir_devicenum();
  return entries_->gir_open(3, 2, 0, function_table_);
}

int PluginHost::DeviceNumber() {
  return entries_->get_device_num ? entries_->get_device_num() : devicenum_result_;
}

std::optional<int> PluginHost::Configure() {
  if (entries_->config_device != nullptr) return entries_->config_device();
  entries_->gir_config();
  return std::nullopt;
}

int PluginHost::Start() {
  return entries_->start_device ? entries_->start_device() : entries_->gir_start();
}

int PluginHost::Stop() {
  // Codes the plugin sent before the request are handled first, so that its receiver
  // is not left blocked in a message to this thread while it is asked to stop.
  PumpPending();
  return entries_->stop_device ? entries_->stop_device() : entries_->gir_stop();
}

std::optional<int> PluginHost::Close() {
  PumpPending();
  open_ = false;
  if (entries_->clean_up_device != nullptr) {
    entries_->clean_up_device();
    return std::nullopt;
  }
  return entries_->gir_close();
}

void PluginHost::Unload() {
  if (module_ != nullptr) {
    if (open_) Close();
    PumpPending();
    FreeLibrary(module_);
    module_ = nullptr;
  }
  *entries_ = Entries{};
  if (window_ != nullptr) {
    DestroyWindow(window_);
    window_ = nullptr;
  }
  if (view_ != nullptr) {
    UnmapViewOfFile(view_);
    view_ = nullptr;
  }
  semaphore_.Reset();
  mapping_.Reset();
}

void PluginHost::DeliverSharedCode(WPARAM device, EventPath path) {
  HostEvent event;
  event.device = static_cast<intptr_t>(device);
  event.path = path;
  if (view_ != nullptr) event.code = BoundedText(view_, kSharedViewBytes);
  sink_.OnEvent(event);
  // The plugin waits for the semaphore before each write; reading is done, let it write.
  if (semaphore_) ReleaseSemaphore(semaphore_.Get(), 1, nullptr);
}

void PluginHost::PumpPending() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

int PluginHost::PumpUntil(const HANDLE* handles, DWORD count, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD wait = INFINITE;
    if (timeout_ms != INFINITE) {
      DWORD elapsed = GetTickCount() - start;  // unsigned: right across the wrap
      if (elapsed >= timeout_ms) return -1;
      wait = timeout_ms - elapsed;
    }
    DWORD result = MsgWaitForMultipleObjects(count, handles, FALSE, wait, QS_ALLINPUT);
    if (result < WAIT_OBJECT_0 + count) return static_cast<int>(result - WAIT_OBJECT_0);
    if (result == WAIT_OBJECT_0 + count) {
      PumpPending();
      continue;
    }
    if (result == WAIT_TIMEOUT) return -1;
    // A failed wait (bad handle): stop listening rather than spin.
    return -1;
  }
}

}  // namespace sfh56::tools
