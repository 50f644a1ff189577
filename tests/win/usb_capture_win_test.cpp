// USB capture on the Win32 platform: the stand-in receiver library is loaded with
// LoadLibraryA under the real library's name, called through its stdcall entry points,
// and replays recorded signals.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/win32_modules.h"
#include "receiver/usb_capture.h"
#include "tests/support/capture_doubles.h"
#include "tests/win/usb_test_support.h"

namespace sfh56 {
namespace {

class RecordingBoxes : public platform::MessageBoxes {
 public:
  std::vector<std::string> texts;
  int Show(const std::string& text, const std::string&, uint32_t) override {
    texts.push_back(text);
    return platform::kIdOk;
  }
};

// Lets the capture poll a fixed number of times, then asks it to stop.
class PollingThread : public test::CaptureDouble {
 public:
  explicit PollingThread(int polls) : polls_left_(polls) { ticks_per_second = 10000000.0; }

  std::vector<PulseTrain>& trains = decoded;

  Wake AfterScript() override { return polls_left_-- > 0 ? Wake::kTimeout : Wake::kStop; }
  void SetTerminated() override { ADD_FAILURE() << "the capture ended the thread"; }

 private:
  int polls_left_;
};

TEST(Win32Modules, MissingLibraryAndMissingEntryPointAreNull) {
  win32::Win32Modules modules;
  EXPECT_EQ(modules.Load("NoSuchLibraryOfTheTests.dll"), nullptr);
  auto kernel = modules.Load("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_NE(kernel->Resolve("GetTickCount"), nullptr);
  EXPECT_EQ(kernel->Resolve("NoSuchEntryPoint"), nullptr);
}

TEST(Win32UsbCapture, StandInLibraryExportsTheFiveEntryPointsUndecorated) {
  win32::Win32Modules modules;
  auto library = modules.Load(kUsbLibraryName);
  ASSERT_NE(library, nullptr);
  EXPECT_TRUE(ResolveUsbEntryPoints(*library).Complete());
}

TEST(Win32UsbCapture, ReplayedSignalsBecomeTrainsAndPortBitsFollowEachStage) {
  const std::string replay = wintest::ProgramFolder() + "usb_replay.txt";
  const std::string log = wintest::TemporaryFileName("usb");
  wintest::ConfigureStandInLibrary(replay, log);
  const auto signals = wintest::ReadReplayInDeviceUnits(replay);
  ASSERT_GE(signals.size(), 3u);

  win32::Win32Modules modules;
  RecordingBoxes boxes;
  UsbCapture capture(modules, boxes);
  // One poll more than there are signals: the last one finds nothing.
  PollingThread thread(static_cast<int>(signals.size()) + 1);
  capture.Run(thread.Seams());

  EXPECT_TRUE(boxes.texts.empty());
  EXPECT_EQ(thread.acks, (std::vector<bool>{true, false}));
  ASSERT_EQ(thread.trains.size(), signals.size());
  const int64_t whole_ticks = UsbWholeTicksPerSecond(10000000.0);
  for (size_t s = 0; s < signals.size(); ++s) {
    const PulseTrain& train = thread.trains[s];
    ASSERT_EQ(train.LastEdgeIndex, static_cast<int32_t>(signals[s].size())) << s;
    for (size_t i = 1; i <= signals[s].size(); ++i) {
      EXPECT_EQ(train.Edges[i].Timestamp - train.Edges[i - 1].Timestamp,
                UsbDurationTicks(signals[s][i - 1], whole_ticks))
          << "signal " << s << " interval " << i;
    }
    EXPECT_EQ(train.Edges[train.LastEdgeIndex].Status, 1u);
  }

  // The library's port starts as out A7, direction 50.
  std::vector<std::string> expected{"setout A4", "setdir 53"};
  for (const auto& signal : signals) {
    expected.insert(expected.end(), {"setdir 53", "setout A5",
                                     "poll 0 " + std::to_string(signal.size()), "setout A7"});
  }
  expected.insert(expected.end(), {"setdir 53", "setout A5", "poll 1 0", "setout A4"});
  EXPECT_EQ(wintest::ReadLines(log), expected);
  DeleteFileA(log.c_str());
}

}  // namespace
}  // namespace sfh56
