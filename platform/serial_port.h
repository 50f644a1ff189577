#pragma once
// A serial port opened for its modem-status lines only. The methods mirror the Win32
// communications calls one to one, so that the capture decides every call, flag and
// order itself and the Win32 implementation stays a thin translation.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/sync.h"

namespace sfh56::platform {

// The fields of the device control block that the capture reads or writes.
struct DeviceControlBlock {
  uint32_t baud_rate = 0;
  uint32_t flags = 0;  // the whole bit-field word (fBinary ... fAbortOnError)
  uint8_t byte_size = 0;
  uint8_t parity = 0;
  uint8_t stop_bits = 0;
};

// Comm event masks and modem-status bits, Win32 values.
inline constexpr uint32_t kEvCts = 0x0008;
inline constexpr uint32_t kEvDsr = 0x0010;
inline constexpr uint32_t kEvRlsd = 0x0020;
inline constexpr uint32_t kMsCtsOn = 0x0010;
inline constexpr uint32_t kMsDsrOn = 0x0020;
inline constexpr uint32_t kMsRlsdOn = 0x0080;

enum class EscapeFunction { kSetRts, kSetDtr };

class SerialPort {
 public:
  // Closes the port (and the comm-event wait's event, when one was created).
  virtual ~SerialPort() = default;
  virtual bool SetupQueues(uint32_t in_bytes, uint32_t out_bytes) = 0;
  virtual bool GetState(DeviceControlBlock& dcb) = 0;
  virtual bool SetState(const DeviceControlBlock& dcb) = 0;
  virtual bool Escape(EscapeFunction function) = 0;
  virtual bool SetEventMask(uint32_t mask) = 0;
  // Creates the event of the overlapped comm-event wait: manual-reset, initially set.
  virtual void CreateEventWait() = 0;
  // The event created above; it also serves as a handle of the receiver's main wait.
  virtual Waitable& EventWaitObject() = 0;
  // Issues an overlapped WaitCommEvent; the result is not examined by the capture.
  virtual void StartEventWait() = 0;
  // GetOverlappedResult without waiting: has the pending comm-event wait completed?
  virtual bool EventWaitCompleted() = 0;
  virtual bool GetModemStatus(uint32_t& status) = 0;
};

class SerialPorts {
 public:
  virtual ~SerialPorts() = default;
  // CreateFileA(name, read|write, no sharing, OPEN_EXISTING, overlapped|write-through).
  // Null when the port cannot be opened.
  virtual std::unique_ptr<SerialPort> Open(const std::string& name) = 0;
};

}  // namespace sfh56::platform
