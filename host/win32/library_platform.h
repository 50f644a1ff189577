#pragma once
// The Win32 platform the loaded library runs on, and how it creates its receiver object.

#include <memory>

#include "host/receiver_control.h"
#include "platform/platform.h"

namespace sfh56::dll {

class LibraryPlatform {
 public:
  virtual ~LibraryPlatform() = default;
  virtual platform::Platform& Get() = 0;
  virtual sfh56::ReceiverFactory ReceiverFactory() = 0;
};

std::unique_ptr<LibraryPlatform> CreateLibraryPlatform();

}  // namespace sfh56::dll
