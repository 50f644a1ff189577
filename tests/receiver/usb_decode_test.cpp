// Recorded remote-control signals through the USB path: the scripted receiver reports
// each signal in its own unit, the capture builds the train, and the code must be the
// one the decoder gives for the same durations recorded directly.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "decode/decoder.h"
#include "platform/sim/sim_message_boxes.h"
#include "receiver/usb_capture.h"
#include "tests/support/capture_doubles.h"
#include "tests/support/sim_usb_receiver.h"
#include "tests/support/usb_offline_codes.h"
#include "tools/replay/durations.h"

namespace sfh56 {
namespace {

// Decodes every admitted train as the receiver thread does and keeps the codes.
class DecodingThread : public test::CaptureDouble {
 public:
  DecodingThread(const sim::SimUsbReceiver& receiver, double rate) : receiver_(receiver) {
    ticks_per_second = rate;
  }

  std::vector<std::string> codes;

  Wake AfterScript() override { return receiver_.Drained() ? Wake::kStop : Wake::kTimeout; }
  void SetTerminated() override { ADD_FAILURE() << "the capture ended the thread"; }
  // "<none>" stands for an admitted train that gave no code.
  void TrainAdmitted(const PulseTrain& /*admitted*/) override { codes.push_back("<none>"); }
  void Deliver(std::string_view code, const DecodedTrain& /*decoded*/) override {
    codes.back() = std::string(code);
  }

 private:
  const sim::SimUsbReceiver& receiver_;
};

// The replay file of the Windows tests: microseconds, mark first, one signal a line.
std::vector<std::vector<double>> ReadRecordedSignals() {
  std::vector<std::vector<double>> signals;
  std::ifstream file(SFH_USB_REPLAY_FILE);
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::vector<double> signal;
    double microseconds = 0;
    while (words >> microseconds) signal.push_back(microseconds);
    signals.push_back(std::move(signal));
  }
  return signals;
}

// The device's unit, 1024/12000000 s: to the nearest unit, within 1..255.
uint8_t ToDeviceUnits(double microseconds) {
  const double units = std::nearbyint(microseconds * 12.0 / 1024.0);
  return static_cast<uint8_t>(std::clamp(units, 1.0, 255.0));
}

TEST(UsbDecode, RecordedSignalsGiveTheDecodersCodes) {
  const auto recorded = ReadRecordedSignals();
  ASSERT_GE(recorded.size(), 3u);
  std::vector<std::vector<uint8_t>> signals;
  for (const auto& signal : recorded) {
    std::vector<uint8_t> units;
    for (double microseconds : signal) units.push_back(ToDeviceUnits(microseconds));
    signals.push_back(units);
  }
  // 12 MHz makes one device unit exactly 1024 ticks, so the two trains are equal.
  constexpr double kTicksPerSecond = 12000000.0;
  const std::vector<std::string> expected =
      test::OfflineUsbCodes(signals, kTicksPerSecond, "<none>");

  sim::SimUsbReceiver receiver;
  sim::SimModules modules;
  modules.AddLibrary(kUsbLibraryName, receiver.Exports());
  for (const auto& units : signals) {
    receiver.QueueTrain(units);
    receiver.QueueSilence(3);
  }
  sim::SimMessageBoxes boxes;
  UsbCapture capture(modules, boxes);
  DecodingThread thread(receiver, kTicksPerSecond);
  capture.Run(thread.Seams());

  EXPECT_EQ(thread.codes, expected);
  // The recordings are real button presses: each gives a code.
  for (const std::string& code : thread.codes) EXPECT_NE(code, "<none>");
}

TEST(UsbDecode, ZeroDurationsFromTheDeviceDecodeWithoutFault) {
  sim::SimUsbReceiver receiver;
  sim::SimModules modules;
  modules.AddLibrary(kUsbLibraryName, receiver.Exports());
  receiver.QueueTrain(std::vector<uint8_t>(67, 0));
  std::vector<uint8_t> mixed(67, 7);
  for (size_t i = 0; i < mixed.size(); i += 3) mixed[i] = 0;
  receiver.QueueTrain(mixed);
  sim::SimMessageBoxes boxes;
  UsbCapture capture(modules, boxes);
  DecodingThread thread(receiver, 10000000.0);
  capture.Run(thread.Seams());
  EXPECT_EQ(thread.codes.size(), 2u);
}

}  // namespace
}  // namespace sfh56
