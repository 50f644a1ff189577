#pragma once
// Device resources from the system's device registry, and a serial port's I/O base
// address, interrupt and DMA channel found from its name ("COM1").
//
// TVicRes runs one query at a time over the registry: the devices it matches, and the
// resources of all of them in one set of lists (16 entries of each kind at most). Windows
// 9x keeps the live devices under HKEY_DYN_DATA\Config Manager\Enum, each with a
// "HardWareKey" into HKEY_LOCAL_MACHINE\Enum and an "Allocation" record chain; Windows NT
// keeps HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum three levels deep (enumerator,
// device, instance), with the resources in the instance's "LogConf"\"BootConfig" up to
// NT 4 and its "Control"\"AllocConfig" from Windows 2000 on. Registry texts compare with
// the query's in upper case; a key that cannot be opened has no values and no subkeys; a
// value longer than 512 bytes (or with a name of 512 characters or more) counts as absent.
// Nothing is reported: a failed walk simply finds nothing.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hwaccess/resource_lists.h"
#include "platform/platform.h"

namespace sfh56 {

inline constexpr uint16_t kMaxListedDevices = 1023;
// What an index-based accessor answers for an index that lists nothing.
inline constexpr uint16_t kNoResource = 0xFFFF;
// The truth values of the three queries.
inline constexpr uint32_t kFoundDevices = 0xFFFFFFFFu;

class TVicRes {
 public:
  TVicRes(platform::Registry& registry, int platform_id, int os_major_version);
  TVicRes(const TVicRes&) = delete;
  TVicRes& operator=(const TVicRes&) = delete;

  const bool IsWin9x;
  const bool IsWin2000OrLater;

  // Each query replaces the whole result and answers kFoundDevices when it listed a
  // device, else 0.
  uint32_t FindByClass(const std::string& text);        // "Class"
  uint32_t FindByHardwareKey(const std::string& text);  // "HardWareKey" / first "HardwareID"
  uint32_t FindByDescription(const std::string& text);  // ("FriendlyName", else) "DeviceDesc"

  uint16_t DeviceCount() const { return static_cast<uint16_t>(device_keys_.size()); }
  // Indexes count from 1; an index that lists nothing gives the empty text.
  std::string DeviceKey(uint16_t index) const;
  std::string DeviceDescription(uint16_t index) const;
  // Indexes count from 1; an index that lists nothing gives kNoResource.
  uint16_t IoBase(uint16_t index) const;
  uint16_t Irq(uint16_t index) const;
  uint16_t DmaChannel(uint16_t index) const;
  const ResourceLists& Resources() const { return resources_; }

 private:
  enum class Member { kClass, kHardwareKey, kDescription };
  struct OpenedKey {
    std::unique_ptr<platform::RegistryKey> key;
    uint32_t values = 0;
    uint32_t subkeys = 0;
  };

  uint32_t Query(Member member, const std::string& text);
  void Win9xWalk(Member member, const std::string& text);
  void WinNtWalk(Member member, const std::string& text);
  void ListDevice(const std::string& key, const std::string& description);

  OpenedKey OpenKeyInfo(platform::RootKey root, const std::string& path);
  static std::optional<std::string> SubkeyName(const OpenedKey& key, uint32_t index);
  static std::optional<std::vector<uint8_t>> ReadNamedValue(const OpenedKey& key,
                                                            const std::string& name);
  static std::string ReadText(const OpenedKey& key, const std::string& name);

  platform::Registry& registry_;
  std::vector<std::string> device_keys_;
  std::vector<std::string> device_descriptions_;
  ResourceLists resources_;
};

// The I/O base address, first interrupt and first DMA channel of the serial port named
// port_name ("COM1"), through the devices of class "Ports": the first whose description
// names the port wins, in the registry's enumeration order. A missing entry reads 65535.
// False when no port is found; the outputs are then left as they were.
bool FindPortResources(platform::Registry& registry, int platform_id, int os_major_version,
                       const std::string& port_name, int32_t& base, int32_t& irq, int32_t& dma);
bool FindPortResources(platform::Platform& platform, const std::string& port_name, int32_t& base,
                       int32_t& irq, int32_t& dma);

// Whether a device description names the port: the name occurs in it, exactly with its
// letter case, and is not followed by a digit, so that "COM1" names "...(COM1)" but not
// "...(COM10)". An empty name names nothing.
bool DescriptionNamesPort(const std::string& description, const std::string& port_name);

}  // namespace sfh56
