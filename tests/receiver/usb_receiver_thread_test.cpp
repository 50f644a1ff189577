// USB capture as the receiver thread object runs it: settings from the registry, the
// start and stop handshake, the time base, decoding and delivery to the host, all on the
// simulated platform with the scripted receiver library.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/identity.h"
#include "decode/decoder.h"
#include "platform/sim/sim_platform.h"
#include "receiver/comm_thread.h"
#include "receiver/usb_capture.h"
#include "tests/receiver/receiver_doubles.h"
#include "tests/support/sim_usb_receiver.h"
#include "tests/support/usb_offline_codes.h"
#include "tools/replay/durations.h"

namespace sfh56 {
namespace {

using platform::RootKey;

const std::string kKeyPath = std::string(kSettingsKeyPrefix) + kPluginName;
constexpr int kDeliveryPatienceMs = 20000;  // polled every millisecond

// Three remote-control frames of different codes, in device units: a 9 ms leader,
// a 4.5 ms space, then 16 data bits (0.56 ms marks, spaces 0.56 ms or 1.69 ms).
std::vector<uint8_t> Frame(uint16_t bits) {
  std::vector<uint8_t> units{105, 53};
  for (int i = 15; i >= 0; --i) {
    units.push_back(7);
    units.push_back((bits >> i) & 1 ? 20 : 7);
  }
  units.push_back(7);
  return units;
}

class UsbReceiverThreadTest : public ::testing::Test {
 protected:
  TCommThread& Make() {
    // The receiver object captures from the USB receiver without further set-up.
    receiver_ = std::make_unique<TCommThread>(sim_.platform(), host_);
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
  void PlantInt(const std::string& name, int32_t value) {
    std::vector<uint8_t> bytes(4);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    sim_.registry.PutRaw(RootKey::kCurrentUser, kKeyPath, name, platform::kRegBinary, bytes);
  }

  // Waits (in real time, with a generous limit) until the host has count codes.
  std::vector<std::string> WaitForCodes(size_t count) {
    test_doubles::WaitUntil([&] { return host_.Codes().size() >= count; }, kDeliveryPatienceMs);
    return host_.Codes();
  }
  // The capture releases the device right after it acknowledged the stop.
  void WaitUntilReleased() {
    test_doubles::WaitUntil([&] { return sim_.modules.LoadedNow(kUsbLibraryName) == 0; },
                            kDeliveryPatienceMs);
  }
  void WaitUntilDrained() {
    test_doubles::WaitUntil([&] { return usb_.Drained(); }, kDeliveryPatienceMs);
  }

  sim::SimPlatform sim_;
  sim::SimUsbReceiver usb_;
  test_doubles::FakeHost host_;
  std::unique_ptr<TCommThread> receiver_;
};

TEST_F(UsbReceiverThreadTest, WithoutTheLibraryEachStartFailsWithOneMessage) {
  PlantText("ComName", "USB");
  TCommThread& r = Make();
  EXPECT_FALSE(r.Start());
  EXPECT_FALSE(r.Running());
  EXPECT_FALSE(r.Start());
  const auto boxes = sim_.message_boxes.ShownBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].caption, "PlonixUSB.dll");
  EXPECT_EQ(boxes[0].text, "Unable to inicialize USB driver DLL library!");
  EXPECT_EQ(sim_.modules.LoadAttempts(kUsbLibraryName), 2);
  EXPECT_TRUE(r.Stop()) << "stop while idle";
}

TEST_F(UsbReceiverThreadTest, ComNameInAnotherSpellingIsNotTheUsbReceiver) {
  PlantText("ComName", "usb");
  sim_.modules.AddLibrary(kUsbLibraryName, usb_.Exports());
  TCommThread& r = Make();
  r.Start();
  EXPECT_EQ(sim_.modules.LoadAttempts(kUsbLibraryName), 0);
}

TEST_F(UsbReceiverThreadTest, FramesArriveAsTheDecodersCodesAndStopReleasesTheDevice) {
  PlantText("ComName", "USB");
  sim_.modules.AddLibrary(kUsbLibraryName, usb_.Exports());
  usb_.SetPort(0xFF, 0x00);
  const std::vector<std::vector<uint8_t>> frames{Frame(0x48B7), Frame(0x12ED), Frame(0xA05F)};
  for (const auto& frame : frames) {
    usb_.QueueTrain(frame);
    usb_.QueueSilence(4);
  }
  TCommThread& r = Make();
  ASSERT_TRUE(r.Start());
  EXPECT_TRUE(r.Running());
  const auto expected = test::OfflineUsbCodes(frames, r.Time().TicksPerSecond);
  ASSERT_EQ(expected.size(), 3u);
  EXPECT_EQ(WaitForCodes(3), expected);
  EXPECT_TRUE(r.Start()) << "a start while capturing is acknowledged";
  EXPECT_TRUE(r.Stop());
  EXPECT_FALSE(r.Running());
  WaitUntilReleased();
  EXPECT_EQ(sim_.modules.LoadedNow(kUsbLibraryName), 0);
  EXPECT_EQ(usb_.Out(), 0xFC) << "both status bits off after the capture";
  EXPECT_EQ(usb_.Direction(), 0x03);
  EXPECT_EQ(std::string(r.LastCode()), expected.back());
}

TEST_F(UsbReceiverThreadTest, CommandOrderThreeDecodesEveryThirdTrainAcrossLongPauses) {
  PlantText("ComName", "USB");
  PlantInt("CommandOrder", 3);
  sim_.modules.AddLibrary(kUsbLibraryName, usb_.Exports());
  std::vector<std::vector<uint8_t>> frames;
  for (uint16_t i = 1; i <= 6; ++i) frames.push_back(Frame(static_cast<uint16_t>(i * 0x1111)));
  for (const auto& frame : frames) {
    usb_.QueueTrain(frame);
    usb_.QueueSilence(200);  // 10 s of polls between presses
  }
  TCommThread& r = Make();
  ASSERT_TRUE(r.Start());
  WaitUntilDrained();
  const auto codes = WaitForCodes(2);
  EXPECT_TRUE(r.Stop());
  const auto all = test::OfflineUsbCodes(frames, r.Time().TicksPerSecond);
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(codes, (std::vector<std::string>{all[2], all[5]}));
}

TEST_F(UsbReceiverThreadTest, EachStartLoadsTheLibraryAfreshAndRestartsTheCount) {
  PlantText("ComName", "USB");
  PlantInt("CommandOrder", 2);
  sim_.modules.AddLibrary(kUsbLibraryName, usb_.Exports());
  usb_.QueueTrain(Frame(0x0F0F));
  TCommThread& r = Make();
  ASSERT_TRUE(r.Start());
  WaitUntilDrained();
  EXPECT_TRUE(r.Stop());
  // One train counted in the first run; the second run starts the count again.
  usb_.QueueTrain(Frame(0x0F0F));
  ASSERT_TRUE(r.Start());
  WaitUntilDrained();
  EXPECT_TRUE(r.Stop());
  EXPECT_TRUE(host_.Codes().empty());
  EXPECT_EQ(sim_.modules.LoadAttempts(kUsbLibraryName), 2);
  WaitUntilReleased();
  EXPECT_EQ(sim_.modules.LoadedNow(kUsbLibraryName), 0);
}

}  // namespace
}  // namespace sfh56
