#pragma once
// The registry as the settings and the device-resource lookup use it. Status codes are the
// Win32 error codes.

#include <cstdint>
#include <memory>
#include <string>

namespace sfh56::platform {

enum class RootKey : uint32_t {
  kCurrentUser = 0x80000001u,
  kLocalMachine = 0x80000002u,
  kDynData = 0x80000006u,  // Windows 9x only: the configuration manager's live device tree
};

inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorInvalidParameter = 87;
inline constexpr long kErrorMoreData = 234;
inline constexpr long kErrorNoMoreItems = 259;

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

  // RegQueryInfoKeyA: the numbers of values and of subkeys; false when the query fails.
  struct Counts {
    uint32_t values = 0;
    uint32_t subkeys = 0;
  };
  virtual bool QueryCounts(Counts* counts) = 0;
  // RegEnumKeyA into a name buffer of name_capacity bytes: a name that does not fit with
  // its terminating zero fails with kErrorMoreData; an index past the last subkey fails
  // with kErrorNoMoreItems.
  virtual long EnumKey(uint32_t index, uint32_t name_capacity, std::string* name) = 0;
  // RegEnumValueA with a name buffer of name_capacity characters (terminating zero
  // included) and a data buffer of *size bytes. A name or data that does not fit fails
  // with kErrorMoreData; on success *size is the data's size. The type is reported, and
  // the data are never interpreted.
  virtual long EnumValue(uint32_t index, uint32_t name_capacity, std::string* name, uint32_t* type,
                         uint8_t* data, uint32_t* size) = 0;
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
