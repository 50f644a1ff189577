// The plugin with the real receiver thread object on the simulated platform: the entry
// points' start, stop, power-resume and close requests go through the thread's handshake.

#include <gtest/gtest.h>

#include "host/comm_thread_receiver.h"
#include "host/plugin.h"
#include "platform/sim/sim_platform.h"
#include "tests/host/host_fakes.h"

namespace sfh56 {
namespace {

class PluginReceiverTest : public ::testing::Test {
 protected:
  sim::SimPlatform sim_;
  test::FakeHostIpc host_ipc_;
  test::FakeFiles files_;
  platform::Platform platform_{sim_.counters, sim_.scheduler,     sim_.serial_ports,
                               sim_.registry, sim_.message_boxes, host_ipc_,
                               files_,        sim_.modules};
  Plugin plugin_{platform_, CommThreadReceiverFactory()};
};

TEST_F(PluginReceiverTest, NewerHostCycleDrivesTheReceiverThread) {
  plugin_.OnLoad();
  EXPECT_EQ(plugin_.GirRequestedApi(1), 1);
  EXPECT_EQ(plugin_.GirDevicenum(), 207);
  std::array<uintptr_t, kFunctionTableSlots> table{};
  ASSERT_EQ(plugin_.GirOpen(3, 2, 0, table.data()), 1);
  EXPECT_TRUE(plugin_.ReceiverAlive());

  // The capture run of this build has no device and reports itself running.
  EXPECT_EQ(plugin_.GirStart(), 1);
  EXPECT_EQ(plugin_.GirStart(), 1) << "a start while capturing changes nothing";
  EXPECT_EQ(plugin_.GirInfo(2, 7, 0), 1) << "power resume: stop and start again";
  EXPECT_EQ(plugin_.GirStop(), 1);
  EXPECT_EQ(plugin_.GirInfo(2, 6, 0), 1) << "stopped: nothing to reopen";
  EXPECT_EQ(plugin_.GirStop(), 1) << "stop while idle";
  EXPECT_EQ(plugin_.GirStart(), 1);

  EXPECT_EQ(plugin_.GirClose(), 1);
  EXPECT_FALSE(plugin_.ReceiverAlive());
  EXPECT_EQ(plugin_.GirClose(), 1);
  EXPECT_EQ(plugin_.GirStart(), 0);
}

TEST_F(PluginReceiverTest, OlderHostClosesAPluginItNeverStarted) {
  plugin_.OnLoad();
  plugin_.InitDevice(0x10, nullptr);
  EXPECT_EQ(plugin_.StopDevice(), -1) << "the first request resumes the thread";
  plugin_.CleanUpDevice();
  EXPECT_FALSE(plugin_.PluginOpen());
  EXPECT_FALSE(plugin_.ReceiverAlive());

  plugin_.InitDevice(0x10, nullptr);
  plugin_.OnUnload();  // unload with the plugin still open closes it first
  EXPECT_FALSE(plugin_.ReceiverAlive());
  EXPECT_EQ(host_ipc_.close_calls, 1);
}

}  // namespace
}  // namespace sfh56
