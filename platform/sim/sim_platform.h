#pragma once
// The whole simulated platform: one virtual clock and the simulated implementation of
// every platform interface, with platform() as the aggregate the plugin takes.
// Interfaces whose simulation is not part of this build yet answer like a machine
// without the resource: serial ports that never open, no host objects, no files, no
// libraries.

#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_counters.h"
#include "platform/sim/sim_message_boxes.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_scheduler.h"

namespace sfh56::sim {

class NoSerialPorts : public platform::SerialPorts {
 public:
  std::unique_ptr<platform::SerialPort> Open(const std::string& name) override;
};

class NoHostIpc : public platform::HostIpc {
 public:
  bool OpenMapping(const std::string& name) override;
  bool OpenSemaphore(const std::string& name) override;
  char* MapView() override;
  size_t ViewSize() override;
  void CloseHandles() override;
  bool WaitSemaphore(uint32_t timeout_ms) override;
  intptr_t SendMessage(platform::WindowHandle window, uint32_t message, uintptr_t wparam,
                       intptr_t lparam) override;
  void SendCopyData(platform::WindowHandle window, uintptr_t wparam, uintptr_t dw_data,
                    const void* data, uint32_t size) override;
  uint32_t RegisterWindowMessage(const std::string& name) override;
};

class NoFiles : public platform::Files {
 public:
  std::string MainExecutablePath() override;
  std::unique_ptr<platform::AppendFile> OpenForAppend(const std::string& path) override;
  std::unique_ptr<platform::AppendFile> Create(const std::string& path) override;
  std::unique_ptr<platform::VersionBlock> LoadVersionBlock(const std::string& path) override;
};

class NoModules : public platform::Modules {
 public:
  std::unique_ptr<platform::Module> Load(const std::string& name) override;
};

class SimPlatform {
 public:
  SimPlatform();
  SimPlatform(const SimPlatform&) = delete;
  SimPlatform& operator=(const SimPlatform&) = delete;

  platform::Platform& platform() { return platform_; }

  SimClock clock;
  SimScheduler scheduler{clock};
  SimCounters counters{clock};
  SimMessageBoxes message_boxes;
  SimRegistry registry;
  NoSerialPorts serial_ports;
  NoHostIpc host_ipc;
  NoFiles files;
  NoModules modules;

 private:
  platform::Platform platform_;
};

}  // namespace sfh56::sim
