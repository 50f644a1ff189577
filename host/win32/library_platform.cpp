// The library's platform while the receiver's Win32 implementations are not part of this
// build: the host-facing parts are real, the receiver object is not created.

#include "host/win32/library_platform.h"

#include "platform/win32/win32_files.h"
#include "platform/win32/win32_host_ipc.h"
#include "platform/win32/win32_message_boxes.h"

namespace sfh56::dll {
namespace {

class NoCounters : public platform::Counters {
 public:
  int64_t ReadPerformanceCounter() override { return 0; }
  int64_t PerformanceFrequency() override { return 0; }
  bool HasTimeStampCounter() override { return false; }
  int64_t ReadTimeStampCounter() override { return 0; }
};
class NoScheduler : public platform::Scheduler {
 public:
  std::unique_ptr<platform::Event> CreateEvent(bool, bool) override { return nullptr; }
  platform::WaitResult WaitAny(std::span<platform::Waitable* const>, uint32_t) override {
    return platform::WaitResult::Failed();
  }
  void SleepMs(uint32_t) override {}
  std::unique_ptr<platform::Thread> CreateSuspendedThread(std::function<void()>) override {
    return nullptr;
  }
  int GetCurrentThreadPriority() override { return 0; }
  void SetCurrentThreadPriority(int) override {}
  uint32_t GetProcessPriorityClass() override { return 0; }
  void SetProcessPriorityClass(uint32_t) override {}
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
};

class InterimPlatform : public LibraryPlatform {
 public:
  platform::Platform& Get() override { return platform_; }
  sfh56::ReceiverFactory ReceiverFactory() override {
    return [](platform::Platform&, HostServices&) { return std::unique_ptr<ReceiverControl>(); };
  }

 private:
  NoCounters counters_;
  NoScheduler scheduler_;
  NoSerialPorts serial_ports_;
  NoRegistry registry_;
  win32::Win32MessageBoxes message_boxes_;
  win32::Win32HostIpc host_ipc_;
  win32::Win32Files files_;
  NoModules modules_;
  platform::Platform platform_{counters_,      scheduler_, serial_ports_, registry_,
                               message_boxes_, host_ipc_,  files_,        modules_};
};

}  // namespace

std::unique_ptr<LibraryPlatform> CreateLibraryPlatform() {
  return std::make_unique<InterimPlatform>();
}

}  // namespace sfh56::dll
