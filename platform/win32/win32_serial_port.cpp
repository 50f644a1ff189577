#include "platform/win32/win32_serial_port.h"

#include <windows.h>

#include <cstring>
#include <utility>

#include "platform/win32/handle_owner.h"

namespace sfh56::win32 {

namespace {

// The port name travels in a buffer of 11 characters including the terminating zero.
constexpr size_t kPortNameBufferChars = 11;

}  // namespace

class Win32SerialPort : public platform::SerialPort {
 public:
  explicit Win32SerialPort(HandleOwner port) : port_(std::move(port)) {}
  // A pending comm-event wait writes into overlapped_ when it ends: end it and let it
  // finish before the members go. A new event mask is what ends a pending wait at once
  // (Wine's serial waits do not end on CancelIo, and the thread would hang here on a line
  // that never changes); CancelIo covers anything else the thread left pending.
  ~Win32SerialPort() override {
    SetCommMask(port_.Get(), 0);
    CancelIo(port_.Get());
    DWORD transferred = 0;
    GetOverlappedResult(port_.Get(), &overlapped_, &transferred, TRUE);
  }

  bool SetupQueues(uint32_t in_bytes, uint32_t out_bytes) override {
    return SetupComm(port_.Get(), in_bytes, out_bytes) != FALSE;
  }

  bool GetState(platform::DeviceControlBlock& dcb) override {
    DCB native{};
    native.DCBlength = sizeof(native);
    if (!GetCommState(port_.Get(), &native)) return false;
    dcb.baud_rate = native.BaudRate;
    dcb.flags = FlagWord(native);
    dcb.byte_size = native.ByteSize;
    dcb.parity = native.Parity;
    dcb.stop_bits = native.StopBits;
    native_dcb_ = native;
    return true;
  }

  bool SetState(const platform::DeviceControlBlock& dcb) override {
    // Every field not carried by the seam stays as the port reported it.
    DCB native = native_dcb_;
    native.DCBlength = sizeof(native);
    native.BaudRate = dcb.baud_rate;
    SetFlagWord(native, dcb.flags);
    native.ByteSize = dcb.byte_size;
    native.Parity = dcb.parity;
    native.StopBits = dcb.stop_bits;
    return SetCommState(port_.Get(), &native) != FALSE;
  }

  bool Escape(platform::EscapeFunction function) override {
    const DWORD code = function == platform::EscapeFunction::kSetRts ? SETRTS : SETDTR;
    return EscapeCommFunction(port_.Get(), code) != FALSE;
  }

  bool SetEventMask(uint32_t mask) override { return SetCommMask(port_.Get(), mask) != FALSE; }

  void CreateEventWait() override {
    event_.Reset(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_.WaitHandle();
  }

  platform::Waitable& EventWaitObject() override { return event_; }

  void StartEventWait() override {
    // A second wait while one is pending fails; Wine then also writes the failure into
    // the OVERLAPPED and sets the event, which would end the pending wait early. So a
    // new wait is issued only once the previous one has completed.
    if (wait_pending_) {
      DWORD transferred = 0;
      if (!GetOverlappedResult(port_.Get(), &overlapped_, &transferred, FALSE) &&
          GetLastError() == ERROR_IO_INCOMPLETE) {
        return;
      }
    }
    // Windows resets the event when an overlapped operation starts; Wine leaves it as it
    // was. Resetting it here gives both the same behaviour.
    ResetEvent(overlapped_.hEvent);
    wait_pending_ = !WaitCommEvent(port_.Get(), &event_mask_, &overlapped_) &&
                    GetLastError() == ERROR_IO_PENDING;
  }

  bool EventWaitCompleted() override {
    DWORD transferred = 0;
    return GetOverlappedResult(port_.Get(), &overlapped_, &transferred, FALSE) != FALSE;
  }

  bool GetModemStatus(uint32_t& status) override {
    DWORD native = 0;
    if (!GetCommModemStatus(port_.Get(), &native)) return false;
    status = native;
    return true;
  }

 private:
  // The DCB's bit fields share one 32-bit word after BaudRate.
  static uint32_t FlagWord(const DCB& dcb) {
    uint32_t word = 0;
    std::memcpy(&word, reinterpret_cast<const char*>(&dcb) + kFlagOffset, sizeof(word));
    return word;
  }
  static void SetFlagWord(DCB& dcb, uint32_t word) {
    std::memcpy(reinterpret_cast<char*>(&dcb) + kFlagOffset, &word, sizeof(word));
  }
  static constexpr size_t kFlagOffset = offsetof(DCB, BaudRate) + sizeof(DWORD);
  static_assert(offsetof(DCB, wReserved) == kFlagOffset + sizeof(DWORD));

  HandleOwner port_;
  Win32CommEvent event_;
  OVERLAPPED overlapped_{};
  DWORD event_mask_ = 0;
  bool wait_pending_ = false;
  DCB native_dcb_{};
};

std::unique_ptr<platform::SerialPort> Win32SerialPorts::Open(const std::string& name) {
  if (name.empty() || name.size() >= kPortNameBufferChars) return nullptr;
  char buffer[kPortNameBufferChars] = {};
  std::memcpy(buffer, name.data(), name.size());
  HandleOwner port(CreateFileA(buffer, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!port) return nullptr;
  return std::make_unique<Win32SerialPort>(std::move(port));
}

}  // namespace sfh56::win32
