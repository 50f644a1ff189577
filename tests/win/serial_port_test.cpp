#include <gtest/gtest.h>

#include <memory>

#include "platform/win32/win32_serial_port.h"

namespace sfh56::win32 {
namespace {

TEST(Win32SerialPorts, NamesThatCannotBeAPortFailToOpen) {
  Win32SerialPorts ports;
  EXPECT_EQ(ports.Open(""), nullptr);
  // Longer than the 10 characters the port-name buffer holds: never copied.
  EXPECT_EQ(ports.Open("COM12345678"), nullptr);
  EXPECT_EQ(ports.Open(std::string(4096, 'C')), nullptr);
  // A name with no device behind it.
  EXPECT_EQ(ports.Open("COM97"), nullptr);
  EXPECT_EQ(ports.Open("NOPORT"), nullptr);
}

// A capture run ends by letting go of its port while a wait for a modem-line change is
// still pending: that must end the wait, not hang the receiver thread (and with it the
// host's close) on a line that never changes.
struct PendingWaitRun {
  bool opened = false;
  bool pending = false;
};

DWORD WINAPI OpenWaitAndClose(LPVOID parameter) {
  auto* run = static_cast<PendingWaitRun*>(parameter);
  Win32SerialPorts ports;
  std::unique_ptr<platform::SerialPort> port = ports.Open("COM1");
  run->opened = port != nullptr;
  if (!port) return 0;
  port->SetEventMask(EV_CTS | EV_DSR | EV_RLSD);
  port->CreateEventWait();
  port->StartEventWait();
  run->pending = !port->EventWaitCompleted();
  port.reset();
  return 0;
}

TEST(Win32SerialPorts, LettingGoOfAPortEndsItsPendingWait) {
  PendingWaitRun run;
  HANDLE thread = CreateThread(nullptr, 0, OpenWaitAndClose, &run, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  const DWORD waited = WaitForSingleObject(thread, 30000);
  CloseHandle(thread);
  if (!run.opened || !run.pending) {
    GTEST_SKIP() << "no COM1 here whose modem-line wait stays pending";
  }
  EXPECT_EQ(waited, WAIT_OBJECT_0) << "the port's destruction hangs in its pending wait";
}

}  // namespace
}  // namespace sfh56::win32
