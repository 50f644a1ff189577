#pragma once
// The registry as the settings use it. Status codes are the Win32 error codes.

#include <cstdint>
#include <memory>
#include <string>

namespace sfh56::platform {

enum class RootKey : uint32_t {
  kCurrentUser = 0x80000001u,
  kLocalMachine = 0x80000002u,
};

inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorInvalidParameter = 87;
inline constexpr long kErrorMoreData = 234;

inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;

class RegistryKey {
 public:
  virtual ~RegistryKey() = default;  // closes the key
  // RegQueryValueExA: on entry size is the buffer's size, on return the data's size.
  // A value longer than the buffer fails with kErrorMoreData. The type is reported, and
  // the data are never interpreted.
  virtual long QueryValue(const std::string& name, uint32_t* type, uint8_t* data,
                          uint32_t* size) = 0;
  virtual long SetValue(const std::string& name, uint32_t type, const uint8_t* data,
                        uint32_t size) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  // RegOpenKeyExA with KEY_READ; null when it fails.
  virtual std::unique_ptr<RegistryKey> OpenForRead(RootKey root, const std::string& path) = 0;
  // RegCreateKeyExA, non-volatile, no class, KEY_ALL_ACCESS; null when it fails.
  virtual std::unique_ptr<RegistryKey> Create(RootKey root, const std::string& path) = 0;
};

}  // namespace sfh56::platform
