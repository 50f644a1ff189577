#pragma once
// The user's settings of the receiver, and their home in the registry.

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace sfh56 {

// The port name that selects the maker's USB receiver (exact, case-sensitive).
inline constexpr char kUsbComName[] = "USB";

struct ReceiverSettings {
  std::string ComName = "COM1";  // a serial port's name, or exactly "USB"
  uint8_t InputSignal = 1;       // 0 CTS, 1 DSR, 2 DCD
  int32_t CommandOrder = 0;      // 0: every train; N: the N-th train of each sequence
  int32_t BitMask = 16;          // trailing bits kept in a code; 0: all
  uint8_t PriorityLevel = 7;     // 0..8
  bool AllowRing0 = false;       // ring-0 capture; only while it is possible
  bool StableCodes = false;      // the stable decoding instead of the classic one
  bool ServiceMode = false;      // service log; never stored
};

// The capture sources, and the one rule that picks one from the settings: exactly "USB"
// is the USB receiver, any other name (also "usb") a serial port.
enum class CaptureSource { kSerial, kUsb };
inline constexpr int kCaptureSourceCount = 2;
inline CaptureSource CaptureSourceFor(const ReceiverSettings& settings) {
  return settings.ComName == kUsbComName ? CaptureSource::kUsb : CaptureSource::kSerial;
}

inline constexpr char kSettingsKeyPrefix[] = "Software\\Girder3\\HardPlugins\\";

// Replaces the stored fields with the registry's values under root, with defaults for
// whatever is missing or unusable. ring0_possible tells whether AllowRing0 may be true.
void LoadSettings(ReceiverSettings& settings, platform::Registry& registry, platform::RootKey root,
                  bool ring0_possible);

// Stores the seven stored fields (ServiceMode is never stored).
void SaveSettings(const ReceiverSettings& settings, platform::Registry& registry,
                  platform::RootKey root);

}  // namespace sfh56
