// The serial-port resource lookup over device registries shaped like those of Windows
// XP, NT 4 and 98, and over registries and resource lists that lie.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "hwaccess/resource_lists.h"
#include "hwaccess/tvic_res.h"
#include "platform/sim/sim_registry.h"
#include "tests/hwaccess/device_registry_fixtures.h"

namespace sfh56 {

void PrintTo(const ResourceLists& lists, std::ostream* out) {
  const auto list = [out](const char* name, const auto& values) {
    *out << name << "{";
    for (const auto v : values) *out << " 0x" << std::hex << static_cast<uint32_t>(v);
    *out << " } ";
  };
  list("io", lists.IoBase);
  list("io-end", lists.IoEnd);
  list("irq", lists.Irq);
  list("dma", lists.DmaChannel);
  list("mem", lists.MemBase);
  list("mem-end", lists.MemEnd);
}

namespace {

using namespace fixtures;
using platform::kPlatformWin32Nt;
using platform::kPlatformWin32Windows;

constexpr int32_t kUntouched = -7;
constexpr int32_t kMissing = 0xFFFF;

struct System {
  void (*plant)(sim::SimRegistry&);
  int platform_id;
  int major;
};
const System kXp{PlantWindowsXp, kPlatformWin32Nt, 5};
const System kXpReadAsNt4{PlantWindowsXp, kPlatformWin32Nt, 4};
const System kNt4{PlantWindowsNt4, kPlatformWin32Nt, 4};
const System k98{PlantWindows98, kPlatformWin32Windows, 4};
const System k98TreeOnXp{PlantWindows98, kPlatformWin32Nt, 5};
const System kXpTreeOn98{PlantWindowsXp, kPlatformWin32Windows, 4};

struct Found {
  bool found;
  int32_t base, irq, dma;
};

Found Lookup(sim::SimRegistry& registry, const System& system, const std::string& port) {
  Found result{false, kUntouched, kUntouched, kUntouched};
  result.found = FindPortResources(registry, system.platform_id, system.major, port, result.base,
                                   result.irq, result.dma);
  return result;
}

struct LookupCase {
  const char* label;
  System system;
  const char* port;
  Found expected;
};

TEST(PortLookup, FindsEachSystemsPortsByName) {
  const LookupCase cases[] = {
      {"XP: allocated resources", kXp, "COM1", {true, 0x3F8, 4, kMissing}},
      {"XP: a port without Control", kXp, "COM2", {true, kMissing, kMissing, kMissing}},
      {"XP: the name keeps its letter case",
       kXp,
       "com1",
       {false, kUntouched, kUntouched, kUntouched}},
      {"XP: empty name", kXp, "", {false, kUntouched, kUntouched, kUntouched}},
      {"XP: no such port", kXp, "COM3", {false, kUntouched, kUntouched, kUntouched}},
      {"XP read as NT 4: BootConfig", kXpReadAsNt4, "COM2", {true, 0x2F8, 3, kMissing}},
      {"XP read as NT 4: no LogConf", kXpReadAsNt4, "COM1", {true, kMissing, kMissing, kMissing}},
      {"NT 4", kNt4, "COM1", {true, 0x3F8, 4, kMissing}},
      {"NT 4, second port", kNt4, "COM2", {true, 0x2F8, 3, kMissing}},
      {"98", k98, "COM1", {true, 0x3F8, 4, kMissing}},
      {"98: a port with a problem", k98, "COM2", {false, kUntouched, kUntouched, kUntouched}},
      {"98 tree, NT walk", k98TreeOnXp, "COM1", {false, kUntouched, kUntouched, kUntouched}},
      {"XP tree, 9x walk", kXpTreeOn98, "COM1", {false, kUntouched, kUntouched, kUntouched}},
  };
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(c.label);
    sim::SimRegistry registry;
    c.system.plant(registry);
    const Found got = Lookup(registry, c.system, c.port);
    EXPECT_EQ(got.found, c.expected.found);
    EXPECT_EQ(got.base, c.expected.base);
    EXPECT_EQ(got.irq, c.expected.irq);
    EXPECT_EQ(got.dma, c.expected.dma);
  }
}

TEST(PortLookup, NothingToWalkFindsNothing) {
  sim::SimRegistry registry;
  EXPECT_FALSE(Lookup(registry, kXp, "COM1").found) << "an empty registry";
  EXPECT_FALSE(Lookup(registry, k98, "COM1").found);
  PlantWindowsXp(registry);
  registry.SetFailOpen(true);
  EXPECT_FALSE(Lookup(registry, kXp, "COM1").found) << "no access to the registry";
}

TEST(PortLookup, ThePortNamedIsFoundWhicheverLongerNameComesFirst) {
  for (const bool com10_first : {true, false}) {
    SCOPED_TRACE(com10_first ? "COM10 enumerated first" : "COM1 enumerated first");
    sim::SimRegistry registry;
    const NtInstance com1 = XpPort("1", "COM1", 0x3F8, 4);
    const NtInstance com10 = XpPort("10", "COM10", 0x3E8, 5);
    PlantNt(registry, com10_first ? com10 : com1);
    PlantNt(registry, com10_first ? com1 : com10);
    const Found one = Lookup(registry, kXp, "COM1");
    EXPECT_TRUE(one.found);
    EXPECT_EQ(one.base, 0x3F8);
    EXPECT_EQ(one.irq, 4);
    const Found ten = Lookup(registry, kXp, "COM10");
    EXPECT_EQ(ten.base, 0x3E8);
    EXPECT_EQ(ten.irq, 5);
  }
  sim::SimRegistry only_com10;
  PlantNt(only_com10, XpPort("10", "COM10", 0x3E8, 5));
  EXPECT_FALSE(Lookup(only_com10, kXp, "COM1").found);
  EXPECT_TRUE(DescriptionNamesPort("Communications Port (COM1)", "COM1"));
  EXPECT_TRUE(DescriptionNamesPort("COM1", "COM1"));
  EXPECT_TRUE(DescriptionNamesPort("Port (COM12) and (COM1)", "COM1"));
  EXPECT_FALSE(DescriptionNamesPort("Communications Port (COM12)", "COM1"));
  EXPECT_FALSE(DescriptionNamesPort("Communications Port (COM1)", ""));
}

// --- TVicRes -------------------------------------------------------------------------------

struct QueryCase {
  const char* label;
  System system;
  uint32_t (TVicRes::*member)(const std::string&);
  const char* text;
  std::vector<std::string> keys;
  std::vector<std::string> descriptions;
  ResourceLists resources;
};

ResourceLists Lists(std::vector<uint16_t> io_base, std::vector<uint16_t> io_end,
                    std::vector<uint8_t> irq, std::vector<uint8_t> dma = {},
                    std::vector<uint32_t> mem_base = {}, std::vector<uint32_t> mem_end = {}) {
  ResourceLists lists;
  lists.IoBase = std::move(io_base);
  lists.IoEnd = std::move(io_end);
  lists.Irq = std::move(irq);
  lists.DmaChannel = std::move(dma);
  lists.MemBase = std::move(mem_base);
  lists.MemEnd = std::move(mem_end);
  return lists;
}

TEST(TVicRes, EachMemberListsItsDevicesAndAppendsTheirResources) {
  const std::string floppy_98 = "standard FLOPPY disk controller";
  const std::string bridge_xp = "Intel(R) 82443BX Pentium(R) II Processor to AGP Controller";
  const QueryCase cases[] = {
      {"XP by class",
       kXp,
       &TVicRes::FindByClass,
       "PORTS",
       {"ACPI\\PNP0501", "ACPI\\PNP0501"},
       {"Communications Port", "Communications Port"},
       Lists({0x3F8}, {0x3FF}, {4})},
      {"XP by hardware key",
       kXp,
       &TVicRes::FindByHardwareKey,
       "acpi\\pnp0700",
       {"ACPI\\PNP0700"},
       {"Standard floppy disk controller"},
       Lists({0x3F0, 0x3F7}, {0x3F5, 0x3F7}, {6}, {2})},
      {"XP by hardware key, friendly name",
       kXp,
       &TVicRes::FindByHardwareKey,
       "ACPI\\PNP0501",
       {"ACPI\\PNP0501", "ACPI\\PNP0501"},
       {"Communications Port (COM1)", "Communications Port (COM2)"},
       Lists({0x3F8}, {0x3FF}, {4})},
      {"XP by description",
       kXp,
       &TVicRes::FindByDescription,
       bridge_xp.c_str(),
       {"PCI\\VEN_8086&DEV_7191&SUBSYS_00000000&REV_03"},
       {bridge_xp},
       Lists({}, {}, {}, {}, {0xF8000000}, {0xFBFFFFFF})},
      {"98 by class",
       k98,
       &TVicRes::FindByClass,
       "Ports",
       {"BIOS\\*PNP0501\\0D"},
       {"Communications Port (COM1)"},
       Lists({0x3F8}, {0x3FF}, {4})},
      {"98 by hardware key",
       k98,
       &TVicRes::FindByHardwareKey,
       "bios\\*pnp0c01\\00",
       {"BIOS\\*PNP0C01\\00"},
       {"System board"},
       Lists({}, {}, {}, {}, {0xE0000}, {0xFFFFF})},
      {"98 by description: the query text is listed",
       k98,
       &TVicRes::FindByDescription,
       floppy_98.c_str(),
       {"BIOS\\*PNP0700\\0F"},
       {floppy_98},
       Lists({0x3F0, 0x3F7}, {0x3F5, 0x3F7}, {6}, {2})},
      {"98: a device with a problem is never listed",
       k98,
       &TVicRes::FindByHardwareKey,
       "BIOS\\*PNP0501\\0E",
       {},
       {},
       {}},
      {"98: an empty text matches nothing", k98, &TVicRes::FindByHardwareKey, "", {}, {}, {}},
      {"XP: an empty text matches nothing", kXp, &TVicRes::FindByHardwareKey, "", {}, {}, {}},
  };
  for (const QueryCase& c : cases) {
    SCOPED_TRACE(c.label);
    sim::SimRegistry registry;
    c.system.plant(registry);
    TVicRes res(registry, c.system.platform_id, c.system.major);
    EXPECT_EQ((res.*c.member)(c.text), c.keys.empty() ? 0u : kFoundDevices);
    ASSERT_EQ(res.DeviceCount(), c.keys.size());
    for (uint16_t i = 1; i <= res.DeviceCount(); ++i) {
      EXPECT_EQ(res.DeviceKey(i), c.keys[i - 1]);
      EXPECT_EQ(res.DeviceDescription(i), c.descriptions[i - 1]);
    }
    EXPECT_EQ(res.Resources(), c.resources);
    const uint16_t past = static_cast<uint16_t>(res.DeviceCount() + 1);
    EXPECT_EQ(res.DeviceKey(0), "");
    EXPECT_EQ(res.DeviceDescription(past), "");
    EXPECT_EQ(res.IoBase(0), kNoResource);
    EXPECT_EQ(res.Irq(static_cast<uint16_t>(c.resources.Irq.size() + 1)), kNoResource);
    EXPECT_EQ(res.DmaChannel(static_cast<uint16_t>(c.resources.DmaChannel.size() + 1)),
              kNoResource);
  }
}

TEST(TVicRes, ListsAreCappedAndValuesOver512BytesAreAbsent) {
  sim::SimRegistry registry;
  // 20 port ranges in one list, in two full descriptors, and a second matching device.
  std::vector<Bytes> first;
  std::vector<Bytes> second;
  for (uint16_t i = 0; i < 12; ++i) first.push_back(CmPort(0x100 + 8 * i, 8));
  for (uint16_t i = 12; i < 20; ++i) second.push_back(CmPort(0x100 + 8 * i, 8));
  second.push_back(CmInterrupt(9, 9));
  NtInstance many = XpPort("1", "COM1", 0, 0);
  many.resources = CmList({CmFull(first), CmFull(second)});
  PlantNt(registry, many);
  PlantNt(registry, XpPort("2", "COM2", 0x2F8, 3));
  TVicRes res(registry, kPlatformWin32Nt, 5);
  res.FindByClass("Ports");
  ASSERT_EQ(res.Resources().IoBase.size(), kMaxResourcesOfAKind);
  for (uint16_t i = 1; i <= kMaxResourcesOfAKind; ++i) {
    EXPECT_EQ(res.IoBase(i), 0x100 + 8 * (i - 1)) << "the first 16, in order";
  }
  EXPECT_EQ(res.Resources().IoEnd[12], 0x100 + 8 * 12 + 7) << "read from the second descriptor";
  EXPECT_EQ(res.Resources().Irq, (std::vector<uint8_t>{9, 3})) << "IRQs are their own kind";

  // A value of 512 bytes is read; one of 513 is absent, yet its device is listed.
  for (const size_t size : {size_t{512}, size_t{513}}) {
    sim::SimRegistry padded;
    NtInstance port = XpPort("1", "COM1", 0x3F8, 4);
    port.resources.resize(size, 0xEE);
    PlantNt(padded, port);
    const Found got = Lookup(padded, kXp, "COM1");
    EXPECT_TRUE(got.found) << size;
    EXPECT_EQ(got.base, size == 512 ? 0x3F8 : kMissing) << size;
  }
}

TEST(TVicRes, AtMost1023DevicesAreListedYetEveryMatchAddsItsResources) {
  sim::SimRegistry registry;
  constexpr int kDevices = 1030;
  for (int i = 0; i < kDevices; ++i) {
    NtInstance port = XpPort(std::to_string(i), "COM" + std::to_string(i + 1), 0, 0);
    port.config_key = i == kDevices - 1 ? "Control" : "";
    port.resources = CmList({CmFull({CmInterrupt(9, 9)})});
    PlantNt(registry, port);
  }
  TVicRes res(registry, kPlatformWin32Nt, 5);
  EXPECT_EQ(res.FindByClass("Ports"), kFoundDevices);
  EXPECT_EQ(res.DeviceCount(), kMaxListedDevices);
  EXPECT_EQ(res.Irq(1), 9) << "from the last device, which is not listed";
}

// --- Bad input -----------------------------------------------------------------------------

TEST(TVicRes, KeyNamesUpToTheBufferAreWalkedAndLongerOnesSkipped) {
  for (const size_t length : {size_t{1023}, size_t{1024}}) {
    sim::SimRegistry registry;
    PlantNt(registry, XpPort(std::string(length, 'A'), "COM3", 0x3E8, 5));
    const Found got = Lookup(registry, kXp, "COM3");
    EXPECT_EQ(got.found, length == 1023) << length;
    EXPECT_EQ(got.base, length == 1023 ? 0x3E8 : kUntouched) << length;
  }
}

TEST(TVicRes, LyingValuesInTheRegistryAreReadOnlyAsFarAsTheyGo) {
  sim::SimRegistry registry;
  const std::string key = std::string(kNtEnum) + "\\ACPI\\PNP0501\\1";
  // A value whose name fills the name buffer comes first; it is passed over.
  registry.PutRaw(RootKey::kLocalMachine, key, std::string(512, 'N'), platform::kRegSz,
                  Text("Ports"));
  PlantNt(registry, XpPort("1", "COM1", 0x3F8, 4));
  // Texts without their terminating zero, and a list cut inside its second partial
  // descriptor.
  const std::string friendly = "Communications Port (COM1)";
  registry.PutRaw(RootKey::kLocalMachine, key, "FriendlyName", platform::kRegSz,
                  Bytes(friendly.begin(), friendly.end()));
  registry.PutRaw(RootKey::kLocalMachine, key, "Class", platform::kRegSz,
                  Bytes{'P', 'o', 'r', 't', 's'});
  Bytes cut = CmList({CmFull({CmPort(0x3F8, 8), CmInterrupt(4, 4)})});
  cut.resize(cut.size() - 3);
  registry.PutRaw(RootKey::kLocalMachine, key + "\\Control", "AllocConfig", kRegResourceList, cut);
  const Found got = Lookup(registry, kXp, "COM1");
  EXPECT_TRUE(got.found);
  EXPECT_EQ(got.base, 0x3F8);
  EXPECT_EQ(got.irq, kMissing) << "the cut descriptor is not read";
}

struct ParseCase {
  const char* label;
  bool cm_list;  // else an "Allocation" chain
  Bytes value;
  ResourceLists expected;
};

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Header9x() {
  return Bytes{0x00, 0x04, 0, 0, 0, 0, 0, 0};
}

Bytes WithLength(Bytes record, uint32_t length) {
  record[0] = static_cast<uint8_t>(length);
  record[1] = static_cast<uint8_t>(length >> 8);
  record[2] = static_cast<uint8_t>(length >> 16);
  record[3] = static_cast<uint8_t>(length >> 24);
  return record;
}

Bytes Cut(Bytes bytes, size_t drop) {
  bytes.resize(bytes.size() - drop);
  return bytes;
}

TEST(ResourceLists, ListsThatLieAreReadOnlyWithinTheirBytes) {
  const ResourceLists none;
  const ResourceLists com1 = Lists({0x3F8}, {0x3FF}, {4});
  const ResourceLists io_only = Lists({0x3F8}, {0x3FF}, {});
  Bytes twenty_irqs = Header9x();
  for (int i = 0; i < 20; ++i)
    twenty_irqs = Concat({twenty_irqs, AllocIrq(static_cast<uint8_t>(i % 16))});
  ResourceLists sixteen_irqs;
  for (int i = 0; i < 16; ++i) sixteen_irqs.Irq.push_back(static_cast<uint8_t>(i));
  Bytes two_lists = CmList({CmFull({CmPort(0x3F8, 8)}), CmFull({CmInterrupt(4, 4)})});
  Bytes count_0x100 = two_lists;
  count_0x100[0] = 0x00;
  count_0x100[1] = 0x01;
  Bytes partials_0x101 = CmList({CmFull({CmPort(0x3F8, 8), CmInterrupt(4, 4)})});
  partials_0x101[4 + 12] = 0x01;
  partials_0x101[4 + 13] = 0x01;
  Bytes unknown_type = CmPort(0x100, 8);
  unknown_type[0] = 5;  // device-specific data
  const ParseCase cases[] = {
      {"9x: empty", false, {}, none},
      {"9x: header only", false, Header9x(), none},
      {"9x: the whole chain", false, Allocation({AllocIo(0x3F8, 0x3FF), AllocIrq(4)}), com1},
      {"9x: no end record", false, Cut(Allocation({AllocIo(0x3F8, 0x3FF), AllocIrq(4)}), 4), com1},
      {"9x: a low length byte of 0 ends the chain", false,
       Concat({Header9x(), AllocIo(0x3F8, 0x3FF), WithLength(AllocIrq(4), 0x100), AllocIrq(5)}),
       io_only},
      {"9x: a length past the end ends the chain", false,
       Concat({Header9x(), AllocIo(0x3F8, 0x3FF), WithLength(AllocIrq(4), 17)}), io_only},
      {"9x: a length that would wrap to the start", false,
       Concat({Header9x(), WithLength(AllocIrq(4), 0xFFFFFFF8), AllocIrq(5)}), none},
      {"9x: a length cut short", false, Concat({Header9x(), AllocIo(0x3F8, 0x3FF), Bytes{0x10, 0}}),
       io_only},
      {"9x: records too short for their fields are stepped over", false,
       Concat({Header9x(), Cut(WithLength(AllocIo(0x100, 0x107), 15), 32 - 15), Bytes{4, 0, 0, 0},
               Cut(WithLength(AllocIrq(3), 10), 6), AllocIrq(4), Bytes{0, 0, 0, 0}}),
       Lists({}, {}, {4})},
      {"9x: unknown types are skipped by their length", false,
       Concat({Header9x(), AllocRecord(7, Bytes(20, 0xAB)), AllocIrq(4), Bytes{0, 0, 0, 0}}),
       Lists({}, {}, {4})},
      {"9x: 16 entries of a kind", false, twenty_irqs, sixteen_irqs},
      {"NT: empty", true, {}, none},
      {"NT: shorter than its count", true, Bytes{1, 0, 0}, none},
      {"NT: count 0", true, Bytes{0, 0, 0, 0}, none},
      {"NT: only the low byte of the count counts", true, count_0x100, none},
      {"NT: a count with no descriptor", true, Bytes{1, 0, 0, 0}, none},
      {"NT: a full descriptor cut in its header", true, Cut(two_lists, two_lists.size() - 10),
       none},
      {"NT: more partial descriptors counted than given", true,
       Cut(CmList({CmFull({CmPort(0x3F8, 8), CmInterrupt(4, 4)})}), 1), io_only},
      {"NT: only the low byte of the partial count counts", true, partials_0x101, io_only},
      {"NT: two full descriptors", true, two_lists, com1},
      {"NT: unknown types are ignored", true, CmList({CmFull({unknown_type, CmInterrupt(4, 4)})}),
       Lists({}, {}, {4})},
      {"NT: lengths of 0 and ranges that wrap", true,
       CmList({CmFull({CmPort(0, 0), CmMemory(0xFFFFFFF0, 0x20), CmDma(0x105)})}),
       Lists({0}, {0xFFFF}, {}, {5}, {0xFFFFFFF0}, {0x0F})},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.label);
    ResourceLists lists;
    if (c.cm_list) {
      ParseCmResourceList(c.value, lists);
    } else {
      ParseAllocationRecords(c.value, lists);
    }
    EXPECT_EQ(lists, c.expected);
  }
}

}  // namespace
}  // namespace sfh56
