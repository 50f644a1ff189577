// The receiver thread object on the Win32 platform with ComName "USB": it loads the
// stand-in receiver library with LoadLibraryA, polls it on a real thread with real
// events, and hands the host the codes the decoder gives for the replayed signals.

// The platform headers come before <windows.h>, whose macros rename CreateEvent and
// ReadTimeStampCounter.
#include "platform/win32/win32_platform.h"
#include "receiver/comm_thread.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "decode/decoder.h"
#include "tools/replay/durations.h"
#include "tests/support/usb_offline_codes.h"
#include "tests/win/usb_test_support.h"

namespace sfh56 {
namespace {

constexpr DWORD kDeliveryPatienceMs = 20000;

class RecordingHost : public HostServices {
 public:
  bool PluginOpen() const override { return true; }
  void DeliverCode(const std::string& code) override {
    std::lock_guard<std::mutex> lock(mutex_);
    codes_.push_back(code);
  }
  std::string TranslateText(const std::string& text) override { return text; }
  platform::RootKey SettingsRootKey() const override { return platform::RootKey::kCurrentUser; }

  std::vector<std::string> Codes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return codes_;
  }
  std::vector<std::string> WaitForCodes(size_t count) const {
    const DWORD start = GetTickCount();
    while (Codes().size() < count && GetTickCount() - start < kDeliveryPatienceMs) Sleep(5);
    return Codes();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> codes_;
};

TEST(Win32UsbReceiverThread, ReplayedSignalsReachTheHostAsTheDecodersCodes) {
  const std::string replay = wintest::ProgramFolder() + "usb_replay.txt";
  const std::string log = wintest::TemporaryFileName("usb");
  wintest::ConfigureStandInLibrary(replay, log);
  const auto signals = wintest::ReadReplayInDeviceUnits(replay);
  wintest::ComNameOverride usb("USB");

  win32::Win32Platform win32_platform;
  RecordingHost host;
  {
    TCommThread receiver(win32_platform.platform(), host);
    const auto expected = test::OfflineUsbCodes(signals, receiver.Time().TicksPerSecond);
    ASSERT_EQ(expected.size(), signals.size());
    ASSERT_TRUE(receiver.Start());
    EXPECT_EQ(host.WaitForCodes(expected.size()), expected);
    EXPECT_TRUE(receiver.Stop());
    EXPECT_TRUE(receiver.TerminateAndWait());
  }

  const auto calls = wintest::ReadLines(log);
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls.front(), "setout A4");
  EXPECT_EQ(calls.back(), "setout A4") << "both status bits off after the capture";
  DeleteFileA(log.c_str());
}

}  // namespace
}  // namespace sfh56
