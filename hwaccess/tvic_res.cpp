#include "hwaccess/tvic_res.h"

#include <algorithm>
#include <cstring>

namespace sfh56 {
namespace {

using platform::RootKey;

constexpr char kWin9xEnumPath[] = "Config Manager\\Enum";
constexpr char kNtEnumPath[] = "SYSTEM\\CurrentControlSet\\Enum";
constexpr uint32_t kKeyNameCapacity = 1024;   // bytes, terminating zero included
constexpr uint32_t kValueNameCapacity = 512;  // characters, terminating zero included
constexpr uint32_t kValueDataCapacity = 512;  // bytes

// The comparison form of a registry or query text. Letters of the ASCII range are
// upper-cased; the device texts the lookup compares are written in it.
std::string Upper(const std::string& text) {
  std::string upper = text;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  });
  return upper;
}

// A registry text matches the query when both read the same in upper case; an empty
// registry text matches nothing.
bool Matches(const std::string& registry_text, const std::string& query) {
  return !registry_text.empty() && Upper(registry_text) == Upper(query);
}

// A text value is read up to its first zero byte, and never past its data.
std::string TextOf(const std::vector<uint8_t>& data) {
  const auto zero = std::find(data.begin(), data.end(), uint8_t{0});
  return std::string(data.begin(), zero);
}

// The first four bytes as a little-endian number; missing bytes read as zero.
uint32_t NumberOf(const std::vector<uint8_t>& data) {
  uint32_t number = 0;
  for (size_t i = 0; i < std::min<size_t>(data.size(), 4); ++i) {
    number |= static_cast<uint32_t>(data[i]) << (8 * i);
  }
  return number;
}

// Entry `index` of a list counted from 1, or `missing` outside it.
template <typename T, typename R>
R Entry(const std::vector<T>& items, uint16_t index, R missing) {
  return index >= 1 && index <= items.size() ? static_cast<R>(items[index - 1]) : missing;
}

}  // namespace

TVicRes::TVicRes(platform::Registry& registry, int platform_id, int os_major_version)
    : IsWin9x(platform_id == platform::kPlatformWin32Windows),
      IsWin2000OrLater(!IsWin9x && os_major_version > 4),
      registry_(registry) {}

uint32_t TVicRes::FindByClass(const std::string& text) {
  return Query(Member::kClass, text);
}

uint32_t TVicRes::FindByHardwareKey(const std::string& text) {
  return Query(Member::kHardwareKey, text);
}

uint32_t TVicRes::FindByDescription(const std::string& text) {
  return Query(Member::kDescription, text);
}

std::string TVicRes::DeviceKey(uint16_t index) const {
  return Entry(device_keys_, index, std::string());
}

std::string TVicRes::DeviceDescription(uint16_t index) const {
  return Entry(device_descriptions_, index, std::string());
}

uint16_t TVicRes::IoBase(uint16_t index) const {
  return Entry(resources_.IoBase, index, kNoResource);
}

uint16_t TVicRes::Irq(uint16_t index) const {
  return Entry(resources_.Irq, index, kNoResource);
}

uint16_t TVicRes::DmaChannel(uint16_t index) const {
  return Entry(resources_.DmaChannel, index, kNoResource);
}

uint32_t TVicRes::Query(Member member, const std::string& text) {
  device_keys_.clear();
  device_descriptions_.clear();
  resources_.Clear();
  if (IsWin9x) {
    Win9xWalk(member, text);
  } else {
    WinNtWalk(member, text);
  }
  return DeviceCount() > 0 ? kFoundDevices : 0;
}

void TVicRes::ListDevice(const std::string& key, const std::string& description) {
  if (device_keys_.size() >= kMaxListedDevices) return;
  device_keys_.push_back(key);
  device_descriptions_.push_back(description);
}

void TVicRes::Win9xWalk(Member member, const std::string& text) {
  const OpenedKey devices = OpenKeyInfo(RootKey::kDynData, kWin9xEnumPath);
  for (uint32_t index = 0; index < devices.subkeys; ++index) {
    const std::optional<std::string> name = SubkeyName(devices, index);
    if (!name) continue;
    uint32_t problem = 0;
    std::string hardware_key;
    std::vector<uint8_t> allocation;
    {
      const OpenedKey device =
          OpenKeyInfo(RootKey::kDynData, std::string(kWin9xEnumPath) + "\\" + *name);
      problem = NumberOf(ReadNamedValue(device, "Problem").value_or(std::vector<uint8_t>{}));
      hardware_key = ReadText(device, "HardWareKey");
      allocation = ReadNamedValue(device, "Allocation").value_or(std::vector<uint8_t>{});
    }
    // Looking a device up by its key needs nothing from the Enum branch to decide.
    if (member == Member::kHardwareKey) {
      if (problem != 0 || !Matches(hardware_key, text)) continue;
    } else if (hardware_key.empty()) {
      continue;
    }
    std::string class_name;
    std::string description;
    {
      const OpenedKey enum_key = OpenKeyInfo(RootKey::kLocalMachine, "Enum\\" + hardware_key);
      class_name = ReadText(enum_key, "Class");
      description = ReadText(enum_key, "DeviceDesc");
    }
    if (problem != 0) continue;
    if (member == Member::kClass && !Matches(class_name, text)) continue;
    if (member == Member::kDescription && !Matches(description, text)) continue;
    ListDevice(hardware_key, member == Member::kDescription ? text : description);
    ParseAllocationRecords(allocation, resources_);
  }
}

void TVicRes::WinNtWalk(Member member, const std::string& text) {
  const OpenedKey enumerators = OpenKeyInfo(RootKey::kLocalMachine, kNtEnumPath);
  for (uint32_t e = 0; e < enumerators.subkeys; ++e) {
    const std::optional<std::string> enumerator = SubkeyName(enumerators, e);
    if (!enumerator) continue;
    const std::string enumerator_path = std::string(kNtEnumPath) + "\\" + *enumerator;
    const OpenedKey devices = OpenKeyInfo(RootKey::kLocalMachine, enumerator_path);
    for (uint32_t d = 0; d < devices.subkeys; ++d) {
      const std::optional<std::string> device = SubkeyName(devices, d);
      if (!device) continue;
      const std::string device_path = enumerator_path + "\\" + *device;
      const OpenedKey instances = OpenKeyInfo(RootKey::kLocalMachine, device_path);
      for (uint32_t i = 0; i < instances.subkeys; ++i) {
        const std::optional<std::string> instance_name = SubkeyName(instances, i);
        if (!instance_name) continue;
        const std::string instance_path = device_path + "\\" + *instance_name;
        const OpenedKey instance = OpenKeyInfo(RootKey::kLocalMachine, instance_path);
        const std::string class_name = ReadText(instance, "Class");
        const std::string hardware_id = ReadText(instance, "HardwareID");  // the first text
        std::string description;
        if (member == Member::kClass) {
          description = ReadText(instance, "DeviceDesc");
        } else if (auto friendly = ReadNamedValue(instance, "FriendlyName")) {
          description = TextOf(*friendly);
        } else {
          description = ReadText(instance, "DeviceDesc");
        }
        const std::string& compared = member == Member::kClass         ? class_name
                                      : member == Member::kHardwareKey ? hardware_id
                                                                       : description;
        if (!Matches(compared, text)) continue;
        const OpenedKey config = OpenKeyInfo(
            RootKey::kLocalMachine, instance_path + (IsWin2000OrLater ? "\\Control" : "\\LogConf"));
        ListDevice(hardware_id, member == Member::kDescription ? text : description);
        const std::optional<std::vector<uint8_t>> list =
            ReadNamedValue(config, IsWin2000OrLater ? "AllocConfig" : "BootConfig");
        if (list && !list->empty() && (*list)[0] != 0) ParseCmResourceList(*list, resources_);
      }
    }
  }
}

TVicRes::OpenedKey TVicRes::OpenKeyInfo(RootKey root, const std::string& path) {
  OpenedKey opened;
  opened.key = registry_.OpenForRead(root, path);
  platform::RegistryKey::Counts counts;
  if (opened.key && opened.key->QueryCounts(&counts)) {
    opened.values = counts.values;
    opened.subkeys = counts.subkeys;
  }
  return opened;
}

std::optional<std::string> TVicRes::SubkeyName(const OpenedKey& key, uint32_t index) {
  std::string name;
  if (!key.key || key.key->EnumKey(index, kKeyNameCapacity, &name) != platform::kErrorSuccess) {
    return std::nullopt;  // gone, or a name longer than the buffer: not walked
  }
  return name;
}

std::optional<std::vector<uint8_t>> TVicRes::ReadNamedValue(const OpenedKey& key,
                                                            const std::string& name) {
  if (!key.key) return std::nullopt;
  std::vector<uint8_t> data(kValueDataCapacity);
  for (uint32_t index = 0; index < key.values; ++index) {
    std::string value_name;
    uint32_t type = 0;
    uint32_t size = kValueDataCapacity;
    const long status =
        key.key->EnumValue(index, kValueNameCapacity, &value_name, &type, data.data(), &size);
    if (status == platform::kErrorNoMoreItems) break;
    if (status != platform::kErrorSuccess || value_name != name) continue;
    data.resize(std::min(size, kValueDataCapacity));
    return data;
  }
  return std::nullopt;
}

std::string TVicRes::ReadText(const OpenedKey& key, const std::string& name) {
  return TextOf(ReadNamedValue(key, name).value_or(std::vector<uint8_t>{}));
}

bool DescriptionNamesPort(const std::string& description, const std::string& port_name) {
  if (port_name.empty()) return false;
  for (size_t at = description.find(port_name); at != std::string::npos;
       at = description.find(port_name, at + 1)) {
    const size_t after = at + port_name.size();
    if (after == description.size() || description[after] < '0' || description[after] > '9') {
      return true;
    }
  }
  return false;
}

bool FindPortResources(platform::Registry& registry, int platform_id, int os_major_version,
                       const std::string& port_name, int32_t& base, int32_t& irq, int32_t& dma) {
  constexpr char kPortsClass[] = "Ports";
  TVicRes resources(registry, platform_id, os_major_version);
  resources.FindByClass(kPortsClass);
  const uint16_t ports = resources.DeviceCount();
  for (uint16_t i = 1; i <= ports; ++i) {
    resources.FindByHardwareKey(resources.DeviceKey(i));
    for (uint16_t j = 1; j <= resources.DeviceCount(); ++j) {
      const std::string description = resources.DeviceDescription(j);
      if (!DescriptionNamesPort(description, port_name)) continue;
      resources.FindByDescription(description);
      base = resources.IoBase(1);
      irq = resources.Irq(1);
      dma = resources.DmaChannel(1);
      return true;
    }
    // Back to the class list, so that the next index names the next port again.
    resources.FindByClass(kPortsClass);
  }
  return false;
}

bool FindPortResources(platform::Platform& platform, const std::string& port_name, int32_t& base,
                       int32_t& irq, int32_t& dma) {
  return FindPortResources(platform.registry, platform.platform_id, platform.os_major_version,
                           port_name, base, irq, dma);
}

}  // namespace sfh56
