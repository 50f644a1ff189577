// The plugin with the real receiver thread object on the simulated platform: the entry
// points' start, stop, power-resume and close requests go through the thread's handshake.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/identity.h"
#include "host/comm_thread_receiver.h"
#include "host/plugin.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_serial_port.h"
#include "tests/config/scripted_config_box.h"
#include "tests/host/host_fakes.h"
#include "tests/receiver/receiver_doubles.h"

namespace sfh56 {
namespace {

class PluginReceiverTest : public ::testing::Test {
 protected:
  // A receiver on the default port that idles at its set level and sees no remote.
  PluginReceiverTest() { sim_.serial_ports.AddPort("COM1", sim::SimPortConfig{}); }

  sim::SimPlatform sim_;
  test::FakeHostIpc host_ipc_;
  test::FakeFiles files_;
  platform::Platform platform_{sim_.counters, sim_.scheduler,     sim_.serial_ports,
                               sim_.registry, sim_.message_boxes, host_ipc_,
                               files_,        sim_.modules,       sim_.ring0};
  Plugin plugin_{platform_, CommThreadReceiverFactory()};
};

TEST_F(PluginReceiverTest, NewerHostCycleDrivesTheReceiverThread) {
  plugin_.OnLoad();
  EXPECT_EQ(plugin_.GirRequestedApi(1), 1);
  EXPECT_EQ(plugin_.GirDevicenum(), 207);
  std::array<uintptr_t, kFunctionTableSlots> table{};
  ASSERT_EQ(plugin_.GirOpen(3, 2, 0, table.data()), 1);
  EXPECT_TRUE(plugin_.ReceiverAlive());

  // The port opens and the receiver check passes at once.
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

// The configuration cycle on the real receiver thread: the capture is down while the
// dialog shows, the confirmed values are stored under the newer host's root and in
// memory, the capture runs again; the service switch lasts only as long as the object.
TEST_F(PluginReceiverTest, ConfigureStopsTheCaptureForTheDialogAndRestartsItWithTheNewValues) {
  CommThreadReceiver* created = nullptr;
  Plugin plugin(platform_, [&](platform::Platform& p, HostServices& h) {
    auto receiver = std::make_unique<CommThreadReceiver>(p, h);
    created = receiver.get();
    return std::unique_ptr<ReceiverControl>(std::move(receiver));
  });
  plugin.OnLoad();
  std::array<uintptr_t, kFunctionTableSlots> table{};
  ASSERT_EQ(plugin.GirOpen(3, 2, 0, table.data()), 1);
  ASSERT_EQ(plugin.GirStart(), 1);
  bool running_while_shown = true;
  plugin.SetConfigBox(
      std::make_unique<testing::ScriptedConfigBox>(kModalResultOk, [&](ConfigBoxValues& v) {
        running_while_shown = created->Running();
        v.bit_mask = 8;
        v.service = true;
      }));
  plugin.GirConfig();
  EXPECT_FALSE(running_while_shown);
  EXPECT_TRUE(created->Running());
  EXPECT_EQ(created->Thread().Settings().BitMask, 8);
  EXPECT_TRUE(created->Thread().Settings().ServiceMode);
  const std::string key = std::string(kSettingsKeyPrefix) + kPluginName;
  EXPECT_EQ(sim_.registry.ReadRaw(platform::RootKey::kLocalMachine, key, "BitMask")->data,
            (std::vector<uint8_t>{8, 0, 0, 0}));
  EXPECT_EQ(sim_.registry.Values(platform::RootKey::kLocalMachine, key).size(), 7u);

  // A close from inside the dialog: the cycle ends without a capture to restart.
  plugin.SetConfigBox(std::make_unique<testing::ScriptedConfigBox>(
      kModalResultCancel, [&](ConfigBoxValues&) { EXPECT_EQ(plugin.GirClose(), 1); }));
  plugin.GirConfig();
  EXPECT_FALSE(plugin.ReceiverAlive());

  // The next opening starts with the service switch off and the stored bit mask; a
  // capture that never ran is not started by the cycle.
  ASSERT_EQ(plugin.GirOpen(3, 2, 0, table.data()), 1);
  auto next = std::make_unique<testing::ScriptedConfigBox>(kModalResultCancel);
  const testing::ScriptedConfigBox& shown = *next;
  plugin.SetConfigBox(std::move(next));
  plugin.GirConfig();
  EXPECT_FALSE(shown.shown_values.service);
  EXPECT_EQ(shown.shown_values.bit_mask, 8);
  EXPECT_FALSE(created->Running());
  EXPECT_EQ(plugin.GirClose(), 1);
}

// A host whose event handler is stuck until the test lets it go.
struct StuckHost {
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool released = false;
  int deliveries = 0;
};
StuckHost* g_stuck = nullptr;

int32_t SFH_HOST_CALL StuckEvent(const char*, const char*, int32_t, int32_t) {
  std::unique_lock lock(g_stuck->mutex);
  g_stuck->entered = true;
  ++g_stuck->deliveries;
  g_stuck->changed.notify_all();
  g_stuck->changed.wait(lock, [] { return g_stuck->released; });
  return 0;
}

// Starts capturing, hands one code to the host, then serves requests.
class DeliverOnceCapture : public CaptureRun {
 public:
  explicit DeliverOnceCapture(TCommThread& receiver) : receiver_(receiver) {}
  void Run(const CaptureSeams& seams) override {
    seams.control.Acknowledge(true);
    receiver_.Deliver("48B7");
    NoDeviceCaptureRun().Run(seams);
  }

 private:
  TCommThread& receiver_;
};

// A plugin opened by a newer host whose event function is StuckEvent, with receivers that
// hand a code to the host at the start of every capture run.
class DeliveringPluginTest : public PluginReceiverTest {
 protected:
  DeliveringPluginTest() {
    g_stuck = &stuck;
    plugin.OnLoad();
    std::array<uintptr_t, kFunctionTableSlots> table{};
    table[kTableEventSlot] = reinterpret_cast<uintptr_t>(&StuckEvent);
    EXPECT_EQ(plugin.GirOpen(3, 2, 0, table.data()), 1);
  }
  ~DeliveringPluginTest() override {
    Release();
    owned_plugin_.reset();  // its receivers end before the host's function goes
    g_stuck = nullptr;
  }
  // Starts capture; returns once the host's event function holds the first delivery.
  void StartAndHoldADelivery() {
    EXPECT_EQ(plugin.GirStart(), 1);
    std::unique_lock lock(stuck.mutex);
    stuck.changed.wait(lock, [&] { return stuck.entered; });
  }
  void Release() {
    {
      std::lock_guard lock(stuck.mutex);
      stuck.released = true;
    }
    stuck.changed.notify_all();
  }
  int Deliveries() {
    std::lock_guard lock(stuck.mutex);
    return stuck.deliveries;
  }

  StuckHost stuck;
  CommThreadReceiver* created = nullptr;
  std::unique_ptr<Plugin> owned_plugin_ =
      std::make_unique<Plugin>(platform_, [this](platform::Platform& p, HostServices& h) {
        auto receiver = std::make_unique<CommThreadReceiver>(p, h);
        receiver->Thread().SetSerialCapture(
            std::make_unique<DeliverOnceCapture>(receiver->Thread()));
        created = receiver.get();
        return std::unique_ptr<ReceiverControl>(std::move(receiver));
      });
  Plugin& plugin = *owned_plugin_;
};

TEST_F(DeliveringPluginTest, PowerResumeDuringADeliveryKeepsTheCaptureRunning) {
  StartAndHoldADelivery();
  EXPECT_EQ(plugin.GirInfo(2, 7, 0), 1) << "returns at once: stop and start are left pending";
  Release();
  // The later request, the start, cancels the stop: one acknowledgement answers both and
  // the capture run goes on (a new run would deliver again).
  test_doubles::WaitUntil(
      [&] { return !created->Thread().StartPending() && !created->Thread().Delivering(); });
  EXPECT_TRUE(created->Thread().Running());
  EXPECT_EQ(Deliveries(), 1) << "the capture was not closed and reopened";
}

TEST_F(DeliveringPluginTest, CloseDuringADeliveryReturns0AndFreesTheReceiverOnceItEnds) {
  StartAndHoldADelivery();

  // The host calls close from its own thread while its event handler holds the receiver.
  EXPECT_EQ(plugin.GirStop(), 0) << "no wait: the running state as it is";
  EXPECT_EQ(plugin.GirClose(), 0);
  EXPECT_FALSE(plugin.PluginOpen());
  EXPECT_TRUE(plugin.ReceiverAlive());
  EXPECT_EQ(plugin.GirClose(), 1) << "a second close does nothing";

  Release();
  // Its delivery returned, so its thread ends on the standing terminate request; the next
  // receiver call finds it ended and frees it.
  ASSERT_NE(created, nullptr);
  while (!created->Ended()) std::this_thread::yield();
  EXPECT_EQ(plugin.GirStart(), 0);
  EXPECT_FALSE(plugin.ReceiverAlive());
}

// A configure call while the receiver thread is inside the host's event function shows
// nothing and returns at once; the capture goes on.
TEST_F(DeliveringPluginTest, ConfigureDuringADeliveryReturnsAtOnceWithoutADialog) {
  auto box = std::make_unique<testing::ScriptedConfigBox>(kModalResultOk);
  const testing::ScriptedConfigBox& shown = *box;
  plugin.SetConfigBox(std::move(box));
  StartAndHoldADelivery();

  plugin.GirConfig();
  EXPECT_EQ(plugin.ConfigDevice(), -1);
  EXPECT_EQ(shown.shows, 0);

  Release();
  while (created->Thread().Delivering()) std::this_thread::yield();
  EXPECT_EQ(plugin.GirStart(), 1) << "the receiver answers again once its delivery is over";
  EXPECT_EQ(plugin.GirClose(), 1);
}

}  // namespace

}  // namespace sfh56
