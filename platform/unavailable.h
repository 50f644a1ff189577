#pragma once
// A host without the older generation's named objects and window: the simulated
// platform's default, for tests that do not play the host's side themselves.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/host_ipc.h"

namespace sfh56::platform {

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

}  // namespace sfh56::platform
