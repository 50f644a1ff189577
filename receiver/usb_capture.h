#pragma once
// Capture from the maker's USB infrared receiver.
//
// The receiver is reached through its own library, "PlonixUSB.dll", which measures the
// durations of a pulse train itself and hands them over as bytes in units of
// 1024/12000000 s. The capture polls the library every 50 ms on the receiver thread,
// turns each reported train into edge records of the active time base, applies the
// sequence rule without a time-out (the count runs on across pauses) and drives the two
// lowest bits of the device's general-purpose output port as a status display.

#include <array>
#include <cstdint>
#include <span>

#include "common/pulse_train.h"
#include "platform/modules.h"
#include "platform/ui.h"
#include "receiver/capture_run.h"
#include "receiver/capture_seams.h"

// The library's entry points are plain Windows API functions: stdcall on 32-bit Windows.
#if defined(_WIN32)
#define SFH_USB_API __stdcall
#else
#define SFH_USB_API
#endif

namespace sfh56 {

inline constexpr char kUsbLibraryName[] = "PlonixUSB.dll";
inline constexpr char kUsbInitFailedText[] = "Unable to inicialize USB driver DLL library!";
inline constexpr uint32_t kUsbPollPeriodMs = 50;

// The library writes durations into bytes 1..255 of a 256-byte buffer; byte 0 is unused.
inline constexpr int kUsbBufferBytes = 256;
inline constexpr int32_t kUsbCapacity = kUsbBufferBytes - 1;

// One duration byte is 1024/12000000 s (about 85.33 us).
inline constexpr int64_t kUsbUnitTicksNumerator = 1024;
inline constexpr int64_t kUsbUnitTicksDenominator = 12000000;

// Output and direction bits 0 and 1 of the device's general-purpose port.
inline constexpr uint8_t kUsbPortBit0 = 0x01;
inline constexpr uint8_t kUsbPortBit1 = 0x02;
inline constexpr uint8_t kUsbPortBits = kUsbPortBit0 | kUsbPortBit1;

// The five entry points, by the names the library exports.
inline constexpr char kDoGetInfraCode[] = "DoGetInfraCode";
inline constexpr char kDoSetDataPortDirection[] = "DoSetDataPortDirection";
inline constexpr char kDoGetDataPortDirection[] = "DoGetDataPortDirection";
inline constexpr char kDoSetOutDataPort[] = "DoSetOutDataPort";
inline constexpr char kDoGetOutDataPort[] = "DoGetOutDataPort";

using UsbGetInfraCodeFn = int32_t(SFH_USB_API*)(uint8_t* buffer, int32_t capacity, int32_t* count);
using UsbGetPortByteFn = int32_t(SFH_USB_API*)(uint8_t* value);
using UsbSetPortByteFn = int32_t(SFH_USB_API*)(uint8_t value);

struct UsbEntryPoints {
  UsbGetInfraCodeFn DoGetInfraCode = nullptr;
  UsbSetPortByteFn DoSetDataPortDirection = nullptr;
  UsbGetPortByteFn DoGetDataPortDirection = nullptr;
  UsbSetPortByteFn DoSetOutDataPort = nullptr;
  UsbGetPortByteFn DoGetOutDataPort = nullptr;

  bool Complete() const {
    return DoGetInfraCode != nullptr && DoSetDataPortDirection != nullptr &&
           DoGetDataPortDirection != nullptr && DoSetOutDataPort != nullptr &&
           DoGetOutDataPort != nullptr;
  }
};

// Resolves all five entry points by name; entry points the library lacks stay null.
UsbEntryPoints ResolveUsbEntryPoints(platform::Module& library);

// What one DoGetInfraCode call reported.
enum class UsbPollOutcome {
  kNoTrain,   // non-zero result, or a count of 0: nothing received
  kTrain,     // result 0 and a count of 1..capacity
  kBadCount,  // result 0 and a count outside 0..capacity: the train is dropped
};
UsbPollOutcome ClassifyUsbPoll(int32_t result, int32_t count);

// The time base's frequency as the whole number of ticks the conversion multiplies by:
// rounded to the nearest integer (halves to even). A frequency that is not a finite
// positive number gives 0, and an absurdly high one is limited so that no product of
// the conversion can overflow.
int64_t UsbWholeTicksPerSecond(double ticks_per_second);

// Ticks of one interval of duration_units device units.
int64_t UsbDurationTicks(uint8_t duration_units, int64_t whole_ticks_per_second);

// Turns durations (1..kUsbCapacity bytes, the first interval first) into the train's
// records 0..N: record 0 at time 0, each further record one duration later, the last
// at the idle level (Status 1) and the levels alternating backwards from it. Record 0's
// Status is left as it is. Sets LastEdgeIndex to N; does not touch TicksPerSecond.
void BuildUsbPulseTrain(std::span<const uint8_t> durations, double ticks_per_second,
                        PulseTrain& train);

// One USB capture run: the library loaded for it, its entry points and the duration
// buffer the library fills.
class UsbCapture {
 public:
  UsbCapture(platform::Modules& modules, platform::MessageBoxes& message_boxes)
      : modules_(modules), message_boxes_(message_boxes) {}

  // Loads the library, acknowledges the start (or its failure), polls until a stop or
  // terminate request, and unloads the library, as the capture run contract
  // (receiver/capture_run.h) describes. Runs on the receiver thread.
  void Run(const CaptureSeams& seams);

 private:
  // Read-modify-write of the device's output byte and direction byte.
  void UpdateOutPort(uint8_t set_bits, uint8_t clear_bits);
  void UpdateDirection(uint8_t set_bits);
  // True when the thread must end (a train admitted after the host closed the plugin).
  bool PollOnce(const CaptureSeams& seams);

  platform::Modules& modules_;
  platform::MessageBoxes& message_boxes_;
  UsbEntryPoints entry_;
  std::array<uint8_t, kUsbBufferBytes> buffer_{};
};

// USB capture as the receiver thread object's capture run for CaptureSource::kUsb.
class UsbCaptureRun : public CaptureRun {
 public:
  UsbCaptureRun(platform::Modules& modules, platform::MessageBoxes& message_boxes)
      : modules_(modules), message_boxes_(message_boxes) {}
  void Run(const CaptureSeams& seams) override;

 private:
  platform::Modules& modules_;
  platform::MessageBoxes& message_boxes_;
};

}  // namespace sfh56
