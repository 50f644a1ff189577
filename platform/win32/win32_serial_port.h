#pragma once
// Serial ports through the Win32 communications functions, opened for their
// modem-status lines only.

#include <memory>
#include <string>

#include "platform/serial_port.h"
#include "platform/win32/win32_scheduler.h"

namespace sfh56::win32 {

// The comm-event wait's event of an open port, as an object of the receiver's waits.
class Win32CommEvent : public platform::Waitable, public HandleWaitable {
 public:
  // The event's HANDLE (null before it is created).
  HANDLE WaitHandle() const override { return handle_.Get(); }
  // Takes the event's handle, closing the one held before.
  void Reset(HANDLE handle) { handle_.Reset(handle); }

 private:
  HandleOwner handle_;
};

class Win32SerialPorts : public platform::SerialPorts {
 public:
  // Null for an empty name, a name longer than kMaxPortNameChars, or when CreateFileA
  // fails.
  std::unique_ptr<platform::SerialPort> Open(const std::string& name) override;
};

}  // namespace sfh56::win32
