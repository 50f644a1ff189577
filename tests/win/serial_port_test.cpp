#include <gtest/gtest.h>

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

}  // namespace
}  // namespace sfh56::win32
