// Serial capture as the receiver thread's capture run: the host's Start and Stop, the
// process priority class, a stop request during a burst, and recorded button presses
// delivered to the host, all through TCommThread on the simulated platform.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "common/identity.h"
#include "decode/decoder.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_serial_port.h"
#include "receiver/comm_thread.h"
#include "receiver/serial_capture.h"
#include "tests/receiver/receiver_doubles.h"
#include "tests/support/serial_offline_codes.h"
#include "tools/replay/durations.h"
#include "tools/replay/recordings.h"

namespace sfh56 {
namespace {

using platform::RootKey;
using test_doubles::WaitUntil;

constexpr int64_t kMsNs = 1000000;
constexpr int64_t kSecondNs = 1000 * kMsNs;
const std::string kKeyPath = std::string(kSettingsKeyPrefix) + kPluginName;

class SerialThreadTest : public ::testing::Test {
 protected:
  TCommThread& Make() {
    receiver_ = std::make_unique<TCommThread>(platform_, host_);
    return *receiver_;
  }

  void TearDown() override {
    if (receiver_) {
      EXPECT_TRUE(receiver_->TerminateAndWait());
    }
  }

  void PlantText(const std::string& name, const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    sim_.registry.PutRaw(RootKey::kCurrentUser, kKeyPath, name, platform::kRegSz, bytes);
  }
  void PlantByte(const std::string& name, uint8_t value) {
    sim_.registry.PutRaw(RootKey::kCurrentUser, kKeyPath, name, platform::kRegBinary, {value});
  }

  // Presses on COM1's DSR line, the first at first_ns, one second apart.
  void AddPresses(const std::vector<replay::Recording>& presses, int64_t first_ns) {
    sim::WaveformBuilder builder(first_ns);
    for (const auto& press : presses) builder.Durations(press.durations_us).Pause(1000000);
    sim::SimPortConfig config;
    config.waveform = builder.Build();
    ports_.AddPort("COM1", config);
  }

  // Waits (really, up to 10 s) until the host has received count codes.
  std::vector<std::string> WaitForCodes(size_t count) {
    WaitUntil([&] { return host_.Codes().size() >= count; }, 1000, std::chrono::milliseconds(10));
    return host_.Codes();
  }

  sim::SimPlatform sim_;
  sim::SimSerialPorts ports_{sim_.clock};
  sim::SimRing0 ring0_{sim_.clock, sim_.counters, ports_};
  platform::Platform platform_{sim_.counters, sim_.scheduler,     ports_,
                               sim_.registry, sim_.message_boxes, sim_.host_ipc,
                               sim_.files,    sim_.modules,       ring0_};
  test_doubles::FakeHost host_;
  std::unique_ptr<TCommThread> receiver_;
};

TEST_F(SerialThreadTest, ButtonPressesReachTheHostWithTheOfflineCodes) {
  const auto presses = test::LoadSerialRemotes();
  AddPresses(presses, 2 * kSecondNs);
  TCommThread& receiver = Make();
  ASSERT_TRUE(receiver.Start());
  const auto expected = test::OfflineSerialCodes(presses);
  EXPECT_EQ(WaitForCodes(expected.size()), expected);
  EXPECT_TRUE(receiver.Stop());
  EXPECT_FALSE(receiver.Running());
  EXPECT_TRUE(receiver.TerminateAndWait());
  EXPECT_EQ(ports_.OpenPorts(), 0);
  EXPECT_TRUE(sim_.message_boxes.ShownBoxes().empty());
}

TEST_F(SerialThreadTest, ServiceModeLogsEveryDecodedTrainBesideTheHostProgram) {
  const auto presses = test::LoadSerialRemotes();
  const std::vector<replay::Recording> press{presses[0]};
  AddPresses(press, 2 * kSecondNs);
  sim_.files.SetMainExecutablePath("C:\\Host\\host.exe");
  TCommThread& receiver = Make();
  receiver.Settings().ServiceMode = true;
  ASSERT_TRUE(receiver.Start());
  const auto expected = test::OfflineSerialCodes(press);
  EXPECT_EQ(WaitForCodes(expected.size()), expected);
  EXPECT_TRUE(receiver.Stop());
  EXPECT_TRUE(receiver.TerminateAndWait());

  const std::optional<std::string> log = sim_.files.FileContents("C:\\Host\\log.txt");
  ASSERT_TRUE(log.has_value());
  // One record per delivered code of a full decode (repeat frames are not logged), each
  // ending with its code line.
  size_t records = 0;
  for (size_t at = log->find(";----"); at != std::string::npos; at = log->find(";----", at + 1)) {
    ++records;
  }
  EXPECT_GE(records, 1u);
  EXPECT_NE(log->find("Code= " + expected.front() + ";  ShiftCoded="), std::string::npos);
}

TEST_F(SerialThreadTest, PortThatDoesNotOpenRestoresTheRealtimeClassAndKeepsServing) {
  for (const std::string name : {"COM7", "LPT1", "COM1234567"}) {
    SCOPED_TRACE(name);
    sim::SimPlatform& sim = sim_;
    PlantText("ComName", name);
    PlantByte("PriorityLevel", 8);
    TCommThread& receiver = Make();
    EXPECT_FALSE(receiver.Start());
    const auto boxes = sim.message_boxes.ShownBoxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, "Unable to open COM port");
    EXPECT_EQ(boxes.back().caption, name);
    // The idle wait answers the stop after the class was restored.
    EXPECT_TRUE(receiver.Stop());
    EXPECT_EQ(sim.scheduler.ProcessPriorityClassHistory().back(), 0x20u);
    EXPECT_TRUE(receiver.TerminateAndWait());
    receiver_.reset();
  }
  EXPECT_EQ(sim_.scheduler.ProcessPriorityClassHistory(),
            (std::vector<uint32_t>{0x100, 0x20, 0x100, 0x20, 0x100, 0x20}));
}

TEST_F(SerialThreadTest, StopDuringAFrameIsServedAfterItsCodeWasDelivered) {
  const auto all = test::LoadSerialRemotes();
  const std::vector<replay::Recording> press{all[2]};  // three frames of 5F68
  AddPresses(press, 2 * kSecondNs);
  // Hold the receiver thread in the middle of the first frame (armed before the start:
  // the receiver thread runs ahead on the virtual clock).
  sim_.clock.PauseAt(2 * kSecondNs + 30 * kMsNs);
  TCommThread& receiver = Make();
  ASSERT_TRUE(receiver.Start());
  sim_.clock.WaitUntilPaused();
  const size_t host_waits_before = sim_.scheduler.HostWaitTimeouts().size();
  bool stopped = false;
  size_t codes_when_stopped = 0;
  std::thread host_thread([&] {
    stopped = receiver.Stop();
    codes_when_stopped = host_.Codes().size();
  });
  // The stop request is signalled while the frame is still being captured.
  while (sim_.scheduler.HostWaitTimeouts().size() == host_waits_before) {
    std::this_thread::yield();
  }
  sim_.clock.Resume();
  host_thread.join();
  // The frame's code is delivered before the stop is served. Its delivery begins while the
  // host waits, which ends the wait unless the acknowledgement came first: Stop then
  // reports capture still running, and the stop is served right after the delivery.
  if (stopped) {
    EXPECT_EQ(codes_when_stopped, 1u);
  }
  WaitUntil([&] { return !receiver.Running(); });
  EXPECT_FALSE(receiver.Running());
  EXPECT_EQ(host_.Codes(), std::vector<std::string>{"5F68"});
}

TEST_F(SerialThreadTest, NeverSettlingLineStillLetsTheHostStopAndClose) {
  sim::SimPortConfig config;
  config.waveform = sim::WaveformBuilder(kSecondNs).ToggleUntil(150, 60 * kSecondNs).Build();
  ports_.AddPort("COM1", config);
  PlantByte("PriorityLevel", 8);
  TCommThread& receiver = Make();
  // Trains end and are delivered all the time; a delivery that begins while the host
  // waits ends its wait (it might need the host's thread), and the stop is served right
  // after it: Stop then reports capture still running, and it stops a moment later.
  const auto stops = [&] {
    if (receiver.Stop()) return true;
    WaitUntil([&] { return !receiver.Running(); });
    return !receiver.Running();
  };
  ASSERT_TRUE(receiver.Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(stops());
  EXPECT_TRUE(receiver.Start());
  EXPECT_TRUE(stops());
}

}  // namespace
}  // namespace sfh56
