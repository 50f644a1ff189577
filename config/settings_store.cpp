// Moving ReceiverSettings to and from the host's plugin branch of the registry.
//
// Everything read from the registry is untrusted: the key may be edited by hand or by
// another program, so every value may have any type and any length. The loader takes a
// value only when its data fit the field's buffer, and brings the few values that other
// code uses as indexes or fixed-size texts into their safe ranges.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "common/identity.h"
#include "config/receiver_settings.h"

namespace sfh56 {
namespace {

// The longest port name kept: the serial capture copies the name into an 11-character
// buffer, so a longer name must never reach it, and a name is saved no longer than it
// can be read back.
constexpr size_t kComNameMaxChars = 10;
// The name's read buffer: ten characters and their terminating zero.
constexpr uint32_t kComNameBufferBytes = kComNameMaxChars + 1;

constexpr uint8_t kInputSignalCount = 3;  // CTS, DSR, DCD

const ReceiverSettings kDefaults{};

std::string SettingsKeyPath() {
  return std::string(kSettingsKeyPrefix) + kPluginName;
}

// Reads a value into a buffer of N bytes. Returns the number of bytes the registry
// returned, or nothing when the read failed (missing value, data longer than N, any
// other error). The registry type is deliberately not examined.
template <size_t N>
std::optional<uint32_t> ReadValue(platform::RegistryKey& key, const char* name,
                                  std::array<uint8_t, N>& buffer) {
  uint32_t type = 0;
  uint32_t size = static_cast<uint32_t>(N);
  if (key.QueryValue(name, &type, buffer.data(), &size) != platform::kErrorSuccess) {
    return std::nullopt;
  }
  if (size > N) return std::nullopt;  // a registry that misreports; never trust it
  return size;
}

// A little-endian number of the field's width. Data shorter than the field (typed by
// hand) are zero-extended: that is what the returned bytes mean as a number, and what
// the same bytes laid over the defaults 0 and 16 would give. No data at all is no
// number, and the default stands.
template <typename T>
std::optional<T> ReadNumber(platform::RegistryKey& key, const char* name) {
  std::array<uint8_t, sizeof(T)> buffer{};
  const std::optional<uint32_t> size = ReadValue(key, name, buffer);
  if (!size || *size == 0) return std::nullopt;
  uint32_t bits = 0;
  for (uint32_t i = 0; i < *size; ++i) bits |= static_cast<uint32_t>(buffer[i]) << (8 * i);
  return static_cast<T>(bits);
}

std::optional<std::string> ReadComName(platform::RegistryKey& key) {
  std::array<uint8_t, kComNameBufferBytes> buffer{};
  const std::optional<uint32_t> size = ReadValue(key, "ComName", buffer);
  if (!size) return std::nullopt;
  // The name ends at the first zero byte, or with the returned data when they hold
  // none; an unterminated 11-byte value keeps its first ten characters.
  size_t length = 0;
  while (length < *size && length < kComNameMaxChars && buffer[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(buffer.data()), length);
}

void WriteBytes(platform::RegistryKey& key, const char* name, uint32_t type, const uint8_t* data,
                uint32_t size) {
  // Results are not examined: a settings key that cannot be written (no right to write
  // under the machine root, say) leaves the confirmed values in memory only.
  (void)key.SetValue(name, type, data, size);
}

template <typename T>
void WriteNumber(platform::RegistryKey& key, const char* name, T value) {
  std::array<uint8_t, sizeof(T)> bytes{};
  const auto bits = static_cast<uint32_t>(value);
  for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
  WriteBytes(key, name, platform::kRegBinary, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

}  // namespace

void LoadSettings(ReceiverSettings& settings, platform::Registry& registry, platform::RootKey root,
                  bool ring0_possible) {
  settings.ComName = kDefaults.ComName;
  settings.InputSignal = kDefaults.InputSignal;
  settings.CommandOrder = kDefaults.CommandOrder;
  settings.BitMask = kDefaults.BitMask;
  settings.PriorityLevel = kDefaults.PriorityLevel;
  // Settings stored before the stable decoding existed keep the classic codes.
  settings.StableCodes = kDefaults.StableCodes;

  const std::unique_ptr<platform::RegistryKey> key = registry.OpenForRead(root, SettingsKeyPath());
  if (!key) {
    // No key: the ring-0 switch keeps its value, but it may never claim ring-0 capture
    // that is not possible now.
    settings.AllowRing0 = settings.AllowRing0 && ring0_possible;
    return;
  }

  if (auto name = ReadComName(*key)) settings.ComName = std::move(*name);
  // The capture indexes three-entry tables with the input pin: anything else falls
  // back to the default pin.
  if (auto pin = ReadNumber<uint8_t>(*key, "InputSignal"); pin && *pin < kInputSignalCount) {
    settings.InputSignal = *pin;
  }
  // These three are kept as stored; the dialog brings them into its ranges, and their
  // users cope with any value.
  if (auto order = ReadNumber<int32_t>(*key, "CommandOrder")) settings.CommandOrder = *order;
  if (auto mask = ReadNumber<int32_t>(*key, "BitMask")) settings.BitMask = *mask;
  if (auto level = ReadNumber<uint8_t>(*key, "PriorityLevel")) settings.PriorityLevel = *level;
  if (auto stable = ReadNumber<uint8_t>(*key, "StableCodes")) settings.StableCodes = *stable != 0;

  settings.AllowRing0 = ring0_possible;
  if (ring0_possible) {
    if (auto allow = ReadNumber<uint8_t>(*key, "AllowRing0")) settings.AllowRing0 = *allow != 0;
  }
}

void SaveSettings(const ReceiverSettings& settings, platform::Registry& registry,
                  platform::RootKey root) {
  const std::unique_ptr<platform::RegistryKey> key = registry.Create(root, SettingsKeyPath());
  if (!key) return;

  // The name as a zero-terminated text: up to its first zero character and at most ten
  // characters, so that what is saved is what the next load reads back.
  std::string name = settings.ComName.substr(0, settings.ComName.find('\0'));
  if (name.size() > kComNameMaxChars) name.resize(kComNameMaxChars);
  WriteBytes(*key, "ComName", platform::kRegSz, reinterpret_cast<const uint8_t*>(name.c_str()),
             static_cast<uint32_t>(name.size() + 1));
  WriteNumber<uint8_t>(*key, "InputSignal", settings.InputSignal);
  WriteNumber<int32_t>(*key, "CommandOrder", settings.CommandOrder);
  WriteNumber<int32_t>(*key, "BitMask", settings.BitMask);
  WriteNumber<uint8_t>(*key, "PriorityLevel", settings.PriorityLevel);
  WriteNumber<uint8_t>(*key, "AllowRing0", settings.AllowRing0 ? 1 : 0);
  WriteNumber<uint8_t>(*key, "StableCodes", settings.StableCodes ? 1 : 0);
}

}  // namespace sfh56
