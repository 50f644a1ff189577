#pragma once
// Stand-ins for platform interfaces whose implementation a platform does not provide
// (yet): they answer like a machine without the resource. Serial ports never open,
// the host's named objects are absent, files and libraries cannot be opened.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/host_ipc.h"
#include "platform/modules.h"
#include "platform/serial_port.h"

namespace sfh56::platform {

class UnavailableSerialPorts : public SerialPorts {
 public:
  std::unique_ptr<SerialPort> Open(const std::string& name) override;
};

class UnavailableHostIpc : public HostIpc {
 public:
  bool OpenMapping(const std::string& name) override;
  bool OpenSemaphore(const std::string& name) override;
  char* MapView() override;
  size_t ViewSize() override;
  void CloseHandles() override;
  bool WaitSemaphore(uint32_t timeout_ms) override;
  intptr_t SendMessage(WindowHandle window, uint32_t message, uintptr_t wparam,
                       intptr_t lparam) override;
  void SendCopyData(WindowHandle window, uintptr_t wparam, uintptr_t dw_data, const void* data,
                    uint32_t size) override;
  uint32_t RegisterWindowMessage(const std::string& name) override;
};

class UnavailableFiles : public Files {
 public:
  std::string MainExecutablePath() override;
  std::unique_ptr<AppendFile> OpenForAppend(const std::string& path) override;
  std::unique_ptr<AppendFile> Create(const std::string& path) override;
  std::unique_ptr<VersionBlock> LoadVersionBlock(const std::string& path) override;
};

class UnavailableModules : public Modules {
 public:
  std::unique_ptr<Module> Load(const std::string& name) override;
};

}  // namespace sfh56::platform
