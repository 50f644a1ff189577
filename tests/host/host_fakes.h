#pragma once
// Test doubles for the host side: a recording HostIpc, a Files with a scripted version
// resource, a scheduler that records priority changes, and a scripted receiver object.

#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/receiver_control.h"
#include "platform/platform.h"
#include "platform/sim/sim_message_boxes.h"

namespace sfh56::test {

class FakeHostIpc : public platform::HostIpc {
 public:
  struct Message {
    platform::WindowHandle window;
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
    std::string view_text;  // the view's text when the message was sent
  };
  struct CopyData {
    platform::WindowHandle window;
    uintptr_t wparam;
    uintptr_t dw_data;
    std::vector<char> bytes;
  };

  bool mapping_exists = true;
  bool semaphore_exists = true;
  bool view_maps = true;
  int semaphore_count = 1;  // the host's releases the plugin can take
  uint32_t registered_message = 0xC123;
  std::vector<char> view = std::vector<char>(256, '#');

  std::vector<std::string> opened;
  std::vector<uint32_t> semaphore_waits;
  std::vector<Message> messages;
  std::vector<CopyData> copies;
  std::vector<std::string> registered_names;
  int close_calls = 0;

  bool OpenMapping(const std::string& name) override {
    opened.push_back(name);
    return mapping_exists;
  }
  bool OpenSemaphore(const std::string& name) override {
    opened.push_back(name);
    return semaphore_exists;
  }
  char* MapView() override { return view_maps ? view.data() : nullptr; }
  size_t ViewSize() override { return view_maps ? view.size() : 0; }
  void CloseHandles() override { ++close_calls; }
  bool WaitSemaphore(uint32_t timeout_ms) override {
    semaphore_waits.push_back(timeout_ms);
    if (semaphore_count == 0) return false;
    --semaphore_count;
    return true;
  }
  intptr_t SendMessage(platform::WindowHandle window, uint32_t message, uintptr_t wparam,
                       intptr_t lparam) override {
    messages.push_back({window, message, wparam, lparam, std::string(view.data())});
    return 0;
  }
  void SendCopyData(platform::WindowHandle window, uintptr_t wparam, uintptr_t dw_data,
                    const void* data, uint32_t size) override {
    const char* bytes = static_cast<const char*>(data);
    copies.push_back({window, wparam, dw_data, std::vector<char>(bytes, bytes + size)});
  }
  uint32_t RegisterWindowMessage(const std::string& name) override {
    registered_names.push_back(name);
    return registered_message;
  }
};

class FakeVersionBlock : public platform::VersionBlock {
 public:
  explicit FakeVersionBlock(std::map<std::string, std::string> strings)
      : strings_(std::move(strings)) {}
  std::optional<std::string> QueryString(const std::string& sub_block) override {
    auto it = strings_.find(sub_block);
    if (it == strings_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::string, std::string> strings_;
};

class FakeFiles : public platform::Files {
 public:
  std::string main_executable = "C:\\Host\\host.exe";
  // Version strings of the main executable by sub-block path; no resource when unset.
  std::optional<std::map<std::string, std::string>> version_strings;
  std::vector<std::string> version_paths;

  void SetFileVersion(const std::string& file_version) {
    version_strings =
        std::map<std::string, std::string>{{"StringFileInfo\\040904E4\\FileVersion", file_version}};
  }

  std::string MainExecutablePath() override { return main_executable; }
  std::unique_ptr<platform::AppendFile> OpenForAppend(const std::string&) override {
    return nullptr;
  }
  std::unique_ptr<platform::AppendFile> Create(const std::string&) override { return nullptr; }
  std::unique_ptr<platform::VersionBlock> LoadVersionBlock(const std::string& path) override {
    version_paths.push_back(path);
    if (!version_strings) return nullptr;
    return std::make_unique<FakeVersionBlock>(*version_strings);
  }
  std::string TempFolder() override { return {}; }
  std::string WindowsFolder() override { return {}; }
  bool Copy(const std::string&, const std::string&, bool) override { return false; }
  bool Delete(const std::string&) override { return false; }
};

// Records the calling thread's priority changes and sleeps.
class RecordingScheduler : public platform::Scheduler {
 public:
  int priority = platform::priority::kTimeCritical;
  std::vector<std::string> calls;

  std::unique_ptr<platform::Event> CreateEvent(bool, bool) override { return nullptr; }
  platform::WaitResult WaitAny(std::span<platform::Waitable* const>, uint32_t) override {
    return platform::WaitResult::Failed();
  }
  void SleepMs(uint32_t ms) override { calls.push_back("sleep " + std::to_string(ms)); }
  std::unique_ptr<platform::Thread> CreateSuspendedThread(std::function<void()>) override {
    return nullptr;
  }
  int GetCurrentThreadPriority() override { return priority; }
  void SetCurrentThreadPriority(int p) override {
    priority = p;
    calls.push_back("priority " + std::to_string(p));
  }
  uint32_t GetProcessPriorityClass() override { return 0x20; }
  void SetProcessPriorityClass(uint32_t) override {}
};

class NoCounters : public platform::Counters {
 public:
  int64_t ReadPerformanceCounter() override { return 0; }
  int64_t PerformanceFrequency() override { return 10'000'000; }
  bool HasTimeStampCounter() override { return false; }
  int64_t ReadTimeStampCounter() override { return 0; }
};
class NoSerialPorts : public platform::SerialPorts {
 public:
  std::unique_ptr<platform::SerialPort> Open(const std::string&) override { return nullptr; }
};
class NoRegistry : public platform::Registry {
 public:
  std::unique_ptr<platform::RegistryKey> OpenForRead(platform::RootKey,
                                                     const std::string&) override {
    return nullptr;
  }
  std::unique_ptr<platform::RegistryKey> Create(platform::RootKey, const std::string&) override {
    return nullptr;
  }
};
class NoModules : public platform::Modules {
 public:
  std::unique_ptr<platform::Module> Load(const std::string&) override { return nullptr; }
  std::optional<std::vector<uint8_t>> OwnResource(const std::string&) override {
    return std::nullopt;
  }
};

// A receiver object whose answers the test decides; it logs every request. Its
// configuration cycle is the real one, over settings that stay in memory.
struct ReceiverScript {
  bool running = false;
  bool capture_opens = true;  // Start makes it run
  bool thread_ends = true;    // TerminateAndWait succeeds; a retired receiver has ended
  bool delivering = false;
  std::vector<std::string> log;
  int created = 0;
  int destroyed = 0;
};

class ScriptedReceiver : public ReceiverControl, public ConfigurableReceiver {
 public:
  explicit ScriptedReceiver(ReceiverScript& script) : script_(script) { ++script_.created; }
  ~ScriptedReceiver() override { ++script_.destroyed; }
  bool Start() override {
    script_.log.push_back("start");
    script_.running = script_.capture_opens;
    return script_.running;
  }
  bool Stop() override {
    script_.log.push_back("stop");
    script_.running = false;
    return true;
  }
  bool TerminateAndWait() override {
    script_.log.push_back("terminate");
    return script_.thread_ends;
  }
  bool Running() const override { return script_.running; }
  bool Ended() const override { return script_.thread_ends; }
  ConfigurationOutcome RunConfiguration(ConfigBox& box) override {
    return sfh56::RunConfiguration(*this, box);
  }

  bool Delivering() const override { return script_.delivering; }
  bool StartPending() const override { return false; }
  void LoadSettings() override { script_.log.push_back("load"); }
  void SaveSettings() override { script_.log.push_back("save"); }
  ReceiverSettings& Settings() override { return settings_; }
  bool Ring0Possible() const override { return false; }
  std::string TranslateText(const std::string& text) override { return text; }
  void SleepMs(uint32_t) override {}

 private:
  ReceiverScript& script_;
  ReceiverSettings settings_;
};

// No way to ring 0: the scripted receivers never capture.
class NoRing0 : public platform::Ring0Access {
 public:
  platform::PrivilegedMachine* SimulatedMachine() override { return nullptr; }
  bool CallGuarded(GuardedCall, void*, int32_t&) override { return false; }
  bool RunAsInterruptHandler(platform::Ring0Routine, void*, int32_t&) override { return false; }
};

// Everything a Plugin needs, in memory.
struct FakePlatform {
  NoCounters counters;
  RecordingScheduler scheduler;
  NoSerialPorts serial_ports;
  NoRegistry registry;
  sim::SimMessageBoxes message_boxes;
  FakeHostIpc host_ipc;
  FakeFiles files;
  NoModules modules;
  NoRing0 ring0;
  platform::Platform platform{counters, scheduler, serial_ports, registry, message_boxes,
                              host_ipc, files,     modules,      ring0};
};

inline ReceiverFactory ScriptedFactory(ReceiverScript& script) {
  return [&script](platform::Platform&, HostServices&) -> std::unique_ptr<ReceiverControl> {
    return std::make_unique<ScriptedReceiver>(script);
  };
}

}  // namespace sfh56::test
