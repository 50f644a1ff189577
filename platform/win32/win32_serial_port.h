#pragma once
// Serial ports through the Win32 communications functions, opened for their
// modem-status lines only.

#include <memory>
#include <string>

#include "platform/serial_port.h"

namespace sfh56::win32 {

class Win32SerialPorts : public platform::SerialPorts {
 public:
  // Null for an empty name, a name longer than kMaxPortNameChars, or when CreateFileA
  // fails.
  std::unique_ptr<platform::SerialPort> Open(const std::string& name) override;
};

}  // namespace sfh56::win32
