#pragma once
// A stand-in for both generations of the home-automation host: loads a plugin DLL the way
// that host does, offers the host's services (event and translation functions, window,
// named shared memory and semaphore) and reports what the plugin hands over to a sink.
// Used by the plugin-host tool and by the Windows test programs.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/win32/handle_owner.h"
#include "tools/plugin-host/plugin_host_args.h"

namespace sfh56::tools {

// Names shared with the plugin; the older host creates them before loading it.
inline constexpr char kSharedMappingName[] = "GirderFileMap6111976";
inline constexpr char kSharedSemaphoreName[] = "GirderSemaphore6111976";
inline constexpr char kRegisteredMessageName[] = "9FC3EB47-4ED7-41f2-BDE7-955D1BB05D8E";
inline constexpr UINT kSharedCodeMessage = 0x0806;
inline constexpr DWORD kSharedViewBytes = 4096;

// The newer host's function table: 28 pointer-sized slots (112 bytes in the 32-bit
// product), of which the plugin uses two.
inline constexpr int kFunctionTableSlots = 28;
inline constexpr int kTranslateSlot = 12;
inline constexpr int kEventSlot = 25;
// The older host's support record: 11 pointer-sized words (44 bytes in the 32-bit
// product); word 0 holds the record's size, word 10 the translation function.
inline constexpr int kSupportRecordWords = 11;
inline constexpr int kSupportTranslateWord = 10;

inline constexpr char kTranslationPrefix[] = "[tr] ";

struct HostSetup {
  HostGeneration generation = HostGeneration::kNewer;
  bool shared_memory = false;  // older host: level 1
  bool translate = false;
};

// How a code arrived: the newer host's event function, WM_COPYDATA, or the shared memory
// announced by the fixed message 2054 or by the registered message.
enum class EventPath { kEventFunction, kCopyData, kSharedMemory, kSharedMemoryRegistered };

struct HostEvent {
  std::string code;
  std::string text;  // the event function's second argument; empty on the other paths
  intptr_t device = 0;
  EventPath path = EventPath::kEventFunction;
};

// Receives what the plugin hands to the host. Called on the host's main thread (window
// messages) or on the plugin's own threads (event and translation functions): an
// implementation must be thread-safe.
class HostEventSink {
 public:
  virtual ~HostEventSink() = default;
  virtual void OnEvent(const HostEvent& event) = 0;
  virtual void OnTranslate(const std::string& text) = 0;
};

// One emulated host with at most one plugin. Only one instance may exist at a time: the
// plugin's callbacks carry no context, so they reach the instance through a global.
class PluginHost {
 public:
  PluginHost(const HostSetup& setup, HostEventSink& sink);
  ~PluginHost();
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  // Creates the host's objects, loads the DLL and resolves the entry points of the chosen
  // generation. On failure returns false with a message in *error.
  bool Load(const std::string& path, std::string* error);

  std::string Name();
  std::string Description();
  std::string Version();

  // Older host: h_support_functions with a full record; the plugin's result (1 or 2).
  int CallSupportFunctions();
  // Newer host: gir_requested_api(1), gir_devicenum(), gir_open(3, 2, 0, table).
  // Older host: init_device(window, translate). Returns gir_open's result (older: none).
  std::optional<int> Open();
  // Newer host's results of the calls made by Open; for --verbose.
  int requested_api_result() const { return requested_api_result_; }
  int devicenum_result() const { return devicenum_result_; }
  // Older host: get_device_num().
  int DeviceNumber();
  std::optional<int> Configure();  // gir_config (no result) or config_device
  int Start();
  int Stop();
  std::optional<int> Close();  // gir_close, or clean_up_device (no result)
  // Closes an open plugin, unloads it and releases the host's objects.
  void Unload();

  // Handles the host window's messages until one of `handles` is signalled (its index)
  // or timeout_ms passes (-1). INFINITE waits without a time limit.
  int PumpUntil(const HANDLE* handles, DWORD count, DWORD timeout_ms);
  // Handles the messages that are already waiting, including those sent by other threads.
  void PumpPending();

  HWND window() const { return window_; }

  // Entry points of the host's services; public for the callback trampolines.
  void DeliverFromWindow(const HostEvent& event) { sink_.OnEvent(event); }
  void DeliverSharedCode(WPARAM device, EventPath path);
  HostEventSink& sink() { return sink_; }

 private:
  struct Entries;

  bool CreateSharedObjects(std::string* error);
  bool CreateHostWindow(std::string* error);

  HostSetup setup_;
  HostEventSink& sink_;
  HMODULE module_ = nullptr;
  win32::HandleOwner mapping_;
  win32::HandleOwner semaphore_;
  char* view_ = nullptr;
  HWND window_ = nullptr;
  UINT registered_message_ = 0;
  bool open_ = false;
  int requested_api_result_ = 0;
  int devicenum_result_ = 0;
  std::unique_ptr<Entries> entries_;
  uintptr_t function_table_[kFunctionTableSlots] = {};
  uintptr_t support_record_[kSupportRecordWords] = {};
};

}  // namespace sfh56::tools
