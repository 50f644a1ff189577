#include "receiver/usb_capture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace sfh56 {

namespace {

// 2^40 ticks per second (about 1.1 THz) is far above any counter; with it the largest
// product of the conversion, 255 x 2^40 x 1024, stays well inside int64.
constexpr double kMaxWholeTicksPerSecond = 1099511627776.0;

template <typename Fn>
Fn ResolveAs(platform::Module& library, const char* name) {
  return reinterpret_cast<Fn>(library.Resolve(name));
}

}  // namespace

UsbEntryPoints ResolveUsbEntryPoints(platform::Module& library) {
  UsbEntryPoints entry;
  entry.DoGetInfraCode = ResolveAs<UsbGetInfraCodeFn>(library, kDoGetInfraCode);
  entry.DoSetDataPortDirection = ResolveAs<UsbSetPortByteFn>(library, kDoSetDataPortDirection);
  entry.DoGetDataPortDirection = ResolveAs<UsbGetPortByteFn>(library, kDoGetDataPortDirection);
  entry.DoSetOutDataPort = ResolveAs<UsbSetPortByteFn>(library, kDoSetOutDataPort);
  entry.DoGetOutDataPort = ResolveAs<UsbGetPortByteFn>(library, kDoGetOutDataPort);
  return entry;
}

UsbPollOutcome ClassifyUsbPoll(int32_t result, int32_t count) {
  if (result != 0 || count == 0) return UsbPollOutcome::kNoTrain;
  if (count < 0 || count > kUsbCapacity) return UsbPollOutcome::kBadCount;
  return UsbPollOutcome::kTrain;
}

int64_t UsbWholeTicksPerSecond(double ticks_per_second) {
  if (!std::isfinite(ticks_per_second) || ticks_per_second <= 0.0) return 0;
  if (ticks_per_second > kMaxWholeTicksPerSecond) ticks_per_second = kMaxWholeTicksPerSecond;
  // nearbyint rounds in the default mode: to the nearest, halves to even.
  return static_cast<int64_t>(std::nearbyint(ticks_per_second));
}

int64_t UsbDurationTicks(uint8_t duration_units, int64_t whole_ticks_per_second) {
  return static_cast<int64_t>(duration_units) * whole_ticks_per_second * kUsbUnitTicksNumerator /
         kUsbUnitTicksDenominator;
}

void BuildUsbPulseTrain(std::span<const uint8_t> durations, double ticks_per_second,
                        PulseTrain& train) {
  // Never more records than the train holds, whatever the caller passes.
  const int n = static_cast<int>(std::min<size_t>(durations.size(), kEdgeCapacity - 1));
  const int64_t whole_ticks = UsbWholeTicksPerSecond(ticks_per_second);
  train.Edges[0].Timestamp = 0;
  for (int i = 1; i <= n; ++i) {
    train.Edges[i].Timestamp =
        train.Edges[i - 1].Timestamp + UsbDurationTicks(durations[i - 1], whole_ticks);
    train.Edges[i].Status = static_cast<uint32_t>((n - i + 1) % 2);
  }
  train.LastEdgeIndex = n;
}

void UsbCapture::UpdateOutPort(uint8_t set_bits, uint8_t clear_bits) {
  uint8_t value = 0;
  entry_.DoGetOutDataPort(&value);
  entry_.DoSetOutDataPort(static_cast<uint8_t>((value & ~clear_bits) | set_bits));
}

void UsbCapture::UpdateDirection(uint8_t set_bits) {
  uint8_t value = 0;
  entry_.DoGetDataPortDirection(&value);
  entry_.DoSetDataPortDirection(static_cast<uint8_t>(value | set_bits));
}

bool UsbCapture::PollOnce(const CaptureSeams& seams) {
  // Bit 0 on, bit 1 off: polling, nothing received.
  UpdateDirection(kUsbPortBits);
  UpdateOutPort(kUsbPortBit0, kUsbPortBit1);

  int32_t count = 0;
  const int32_t result = entry_.DoGetInfraCode(buffer_.data() + 1, kUsbCapacity, &count);
  if (ClassifyUsbPoll(result, count) != UsbPollOutcome::kTrain) return false;

  // Both bits on from a received train until the next poll.
  UpdateOutPort(kUsbPortBits, 0);
  const double ticks_per_second = seams.clock.Thresholds().TicksPerSecond;
  seams.trains.SetTicksPerSecond(ticks_per_second);
  BuildUsbPulseTrain(std::span<const uint8_t>(buffer_.data() + 1, static_cast<size_t>(count)),
                     ticks_per_second, seams.trains.Train());
  // The USB path has no sequence time-out: every train counts, however long the pause
  // before it was.
  return seams.trains.FinishTrain() == TrainAction::kEndThread;
}

void UsbCapture::Run(const CaptureSeams& seams) {
  ControlChannel& control = seams.control;
  std::unique_ptr<platform::Module> library = modules_.Load(kUsbLibraryName);
  entry_ = library ? ResolveUsbEntryPoints(*library) : UsbEntryPoints{};
  if (!entry_.Complete()) {
    message_boxes_.Show(seams.texts.TranslateText(kUsbInitFailedText), kUsbLibraryName,
                        platform::kMbOk | platform::kMbIconError | platform::kMbTopmost);
    entry_ = {};
    library.reset();
    control.Acknowledge(false);
    return;
  }

  control.Acknowledge(true);
  seams.trains.StartCapture(CapturePath::kUsb);

  // Both status bits off while the capture starts; the bits made outputs.
  UpdateOutPort(0, kUsbPortBits);
  UpdateDirection(kUsbPortBits);

  for (;;) {
    const RequestAnswer answer = AnswerRequest(control, control.Wait(kUsbPollPeriodMs));
    if (answer == RequestAnswer::kEndRun) break;
    // No request within the period (or a wait that reported none): poll once. A train
    // admitted while the host has closed the plugin ends the thread.
    if (answer == RequestAnswer::kNotARequest && PollOnce(seams)) {
      control.SetTerminated();
      break;
    }
  }

  UpdateOutPort(0, kUsbPortBits);
  entry_ = {};
  library.reset();
}

void UsbCaptureRun::Run(const CaptureSeams& seams) {
  UsbCapture(modules_, message_boxes_).Run(seams);
}

}  // namespace sfh56
