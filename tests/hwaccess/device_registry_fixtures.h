#pragma once
// Device registries shaped like those of Windows XP, NT 4 and Windows 98, planted in the
// simulated registry, with their binary resource lists written field by field from the
// documented layouts: CM_RESOURCE_LIST for NT ("AllocConfig", "BootConfig") and the
// configuration manager's record chain for Windows 98 ("Allocation").

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "platform/sim/sim_registry.h"

namespace sfh56::fixtures {

using Bytes = std::vector<uint8_t>;
using platform::RootKey;

inline constexpr char kNtEnum[] = "SYSTEM\\CurrentControlSet\\Enum";
inline constexpr char kWin9xEnum[] = "Config Manager\\Enum";
inline constexpr uint32_t kRegResourceList = 8;  // REG_RESOURCE_LIST
inline constexpr uint32_t kRegMultiSz = 7;

// Little-endian field writers.
inline void Put8(Bytes& b, uint8_t v) {
  b.push_back(v);
}
inline void Put16(Bytes& b, uint16_t v) {
  Put8(b, static_cast<uint8_t>(v));
  Put8(b, static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
  Put16(b, static_cast<uint16_t>(v));
  Put16(b, static_cast<uint16_t>(v >> 16));
}
inline void Put64(Bytes& b, uint64_t v) {
  Put32(b, static_cast<uint32_t>(v));
  Put32(b, static_cast<uint32_t>(v >> 32));
}

// --- CM_RESOURCE_LIST (32-bit layout) ---------------------------------------------------

// CM_PARTIAL_RESOURCE_DESCRIPTOR, 16 bytes: Type, ShareDisposition, Flags, then the union.
inline Bytes CmPort(uint64_t start, uint32_t length) {
  Bytes b;
  Put8(b, 1);        // CmResourceTypePort
  Put8(b, 1);        // CmResourceShareDeviceExclusive
  Put16(b, 0x0011);  // CM_RESOURCE_PORT_IO | CM_RESOURCE_PORT_16_BIT_DECODE
  Put64(b, start);   // u.Port.Start
  Put32(b, length);  // u.Port.Length
  return b;
}
inline Bytes CmInterrupt(uint32_t level, uint32_t vector) {
  Bytes b;
  Put8(b, 2);            // CmResourceTypeInterrupt
  Put8(b, 1);            // CmResourceShareDeviceExclusive
  Put16(b, 0x0001);      // CM_RESOURCE_INTERRUPT_LATCHED
  Put32(b, level);       // u.Interrupt.Level
  Put32(b, vector);      // u.Interrupt.Vector
  Put32(b, 0xFFFFFFFF);  // u.Interrupt.Affinity
  return b;
}
inline Bytes CmMemory(uint64_t start, uint32_t length) {
  Bytes b;
  Put8(b, 3);        // CmResourceTypeMemory
  Put8(b, 1);        // CmResourceShareDeviceExclusive
  Put16(b, 0x0000);  // CM_RESOURCE_MEMORY_READ_WRITE
  Put64(b, start);   // u.Memory.Start
  Put32(b, length);  // u.Memory.Length
  return b;
}
inline Bytes CmDma(uint32_t channel) {
  Bytes b;
  Put8(b, 4);         // CmResourceTypeDma
  Put8(b, 1);         // CmResourceShareDeviceExclusive
  Put16(b, 0x0000);   // CM_RESOURCE_DMA_8
  Put32(b, channel);  // u.Dma.Channel
  Put32(b, 0);        // u.Dma.Port
  Put32(b, 0);        // u.Dma.Reserved1
  return b;
}
// CM_FULL_RESOURCE_DESCRIPTOR: InterfaceType, BusNumber, then CM_PARTIAL_RESOURCE_LIST
// (Version, Revision, Count, descriptors).
inline Bytes CmFull(const std::vector<Bytes>& partials, uint32_t interface_type = 1 /* Isa */) {
  Bytes b;
  Put32(b, interface_type);
  Put32(b, 0);  // BusNumber
  Put16(b, 1);  // Version
  Put16(b, 1);  // Revision
  Put32(b, static_cast<uint32_t>(partials.size()));
  for (const Bytes& p : partials) b.insert(b.end(), p.begin(), p.end());
  return b;
}
// CM_RESOURCE_LIST: Count, then the full descriptors back to back.
inline Bytes CmList(const std::vector<Bytes>& fulls) {
  Bytes b;
  Put32(b, static_cast<uint32_t>(fulls.size()));
  for (const Bytes& f : fulls) b.insert(b.end(), f.begin(), f.end());
  return b;
}

// --- Windows 9x "Allocation" -------------------------------------------------------------

// A record: its length (header included), its type, then the type's descriptor.
inline Bytes AllocRecord(uint32_t type, const Bytes& descriptor) {
  Bytes b;
  Put32(b, static_cast<uint32_t>(8 + descriptor.size()));
  Put32(b, type);
  b.insert(b.end(), descriptor.begin(), descriptor.end());
  return b;
}
// IO_DES with one IO_RANGE.
inline Bytes AllocIo(uint16_t base, uint16_t end) {
  Bytes d;
  Put16(d, 1);                                      // IOD_Count
  Put16(d, 12);                                     // IOD_Type: size of one IO_RANGE
  Put16(d, base);                                   // IOD_Alloc_Base
  Put16(d, end);                                    // IOD_Alloc_End
  Put16(d, 0);                                      // IOD_DesFlags
  Put8(d, 0);                                       // IOD_Alloc_Alias
  Put8(d, 0);                                       // IOD_Alloc_Decode
  Put16(d, 0xFFF8);                                 // IOR_Align
  Put16(d, static_cast<uint16_t>(end - base + 1));  // IOR_nPorts
  Put16(d, base);                                   // IOR_Min
  Put16(d, end);                                    // IOR_Max
  Put16(d, 0);                                      // IOR_RangeFlags
  Put8(d, 0);                                       // IOR_Alias
  Put8(d, 0);                                       // IOR_Decode
  return AllocRecord(2, d);
}
// IRQ_DES.
inline Bytes AllocIrq(uint8_t irq) {
  Bytes d;
  Put16(d, 0);                                        // IRQD_Flags
  Put16(d, irq);                                      // IRQD_Alloc_Num
  Put16(d, static_cast<uint16_t>(1u << (irq & 15)));  // IRQD_Req_Mask
  Put16(d, 0);                                        // IRQD_Reserved
  return AllocRecord(4, d);
}
// DMA_DES.
inline Bytes AllocDma(uint8_t channel) {
  Bytes d;
  Put8(d, 0);                                          // DD_Flags
  Put8(d, channel);                                    // DD_Alloc_Chan
  Put8(d, static_cast<uint8_t>(1u << (channel & 7)));  // DD_Req_Mask
  Put8(d, 0);                                          // DD_Reserved
  return AllocRecord(3, d);
}
// MEM_DES without ranges.
inline Bytes AllocMemory(uint32_t base, uint32_t end) {
  Bytes d;
  Put16(d, 0);     // MD_Count
  Put16(d, 0);     // MD_Type
  Put32(d, base);  // MD_Alloc_Base
  Put32(d, end);   // MD_Alloc_End
  Put16(d, 0);     // MD_Flags
  Put16(d, 0);     // MD_Reserved
  return AllocRecord(1, d);
}
// The whole value: the header, the records, and the zero length that ends the chain.
inline Bytes Allocation(const std::vector<Bytes>& records) {
  Bytes b;
  Put32(b, 0x00000400);  // configuration manager version 4.00
  Put32(b, 0);           // flags
  for (const Bytes& r : records) b.insert(b.end(), r.begin(), r.end());
  Put32(b, 0);
  return b;
}

// --- Planting ----------------------------------------------------------------------------

inline Bytes Text(const std::string& text) {
  Bytes b(text.begin(), text.end());
  b.push_back(0);
  return b;
}
inline Bytes MultiText(const std::vector<std::string>& texts) {
  Bytes b;
  for (const std::string& t : texts) {
    b.insert(b.end(), t.begin(), t.end());
    b.push_back(0);
  }
  b.push_back(0);
  return b;
}
inline Bytes Dword(uint32_t value) {
  Bytes b;
  Put32(b, value);
  return b;
}

struct NtInstance {
  std::string path;  // below Enum: "ACPI\\PNP0501\\1"
  std::string class_name;
  std::vector<std::string> hardware_ids;
  std::string device_desc;
  std::string friendly_name;  // not written when empty
  std::string config_key;     // "Control", "LogConf" or none
  std::string config_value;   // "AllocConfig" or "BootConfig"
  Bytes resources;
};

inline void PlantNt(sim::SimRegistry& registry, const NtInstance& d) {
  const std::string key = std::string(kNtEnum) + "\\" + d.path;
  registry.PutRaw(RootKey::kLocalMachine, key, "Capabilities", platform::kRegDword, Dword(0x84));
  if (!d.hardware_ids.empty()) {
    registry.PutRaw(RootKey::kLocalMachine, key, "HardwareID", kRegMultiSz,
                    MultiText(d.hardware_ids));
  }
  registry.PutRaw(RootKey::kLocalMachine, key, "DeviceDesc", platform::kRegSz, Text(d.device_desc));
  if (!d.class_name.empty()) {
    registry.PutRaw(RootKey::kLocalMachine, key, "Class", platform::kRegSz, Text(d.class_name));
  }
  if (!d.friendly_name.empty()) {
    registry.PutRaw(RootKey::kLocalMachine, key, "FriendlyName", platform::kRegSz,
                    Text(d.friendly_name));
  }
  registry.PutRaw(RootKey::kLocalMachine, key, "ConfigFlags", platform::kRegDword, Dword(0));
  if (!d.config_key.empty()) {
    registry.PutRaw(RootKey::kLocalMachine, key + "\\" + d.config_key, d.config_value,
                    kRegResourceList, d.resources);
  }
}

// A serial port of Windows 2000 and later, allocated I/O and interrupt in "Control".
inline NtInstance XpPort(const std::string& instance, const std::string& com, uint16_t base,
                         uint8_t irq) {
  return {"ACPI\\PNP0501\\" + instance,
          "Ports",
          {"ACPI\\PNP0501", "*PNP0501"},
          "Communications Port",
          "Communications Port (" + com + ")",
          "Control",
          "AllocConfig",
          CmList({CmFull({CmPort(base, 8), CmInterrupt(irq, irq)})})};
}

// Windows XP: two ACPI serial ports (the second disabled: its boot configuration is
// recorded, but it has no "Control"), a keyboard, a floppy controller with a DMA channel,
// a PCI bridge with a memory window, and a legacy driver without resources.
inline void PlantWindowsXp(sim::SimRegistry& r) {
  PlantNt(r, {"ACPI\\PNP0303\\4&1d401fb5&0",
              "Keyboard",
              {"ACPI\\PNP0303", "*PNP0303"},
              "Standard 101/102-Key or Microsoft Natural PS/2 Keyboard",
              "",
              "Control",
              "AllocConfig",
              CmList({CmFull({CmPort(0x60, 1), CmPort(0x64, 1), CmInterrupt(1, 1)})})});
  PlantNt(r, XpPort("1", "COM1", 0x3F8, 4));
  NtInstance com2 = XpPort("2", "COM2", 0x2F8, 3);
  com2.config_key = "LogConf";
  com2.config_value = "BootConfig";
  PlantNt(r, com2);
  PlantNt(r, {"ACPI\\PNP0700\\4&1d401fb5&0",
              "fdc",
              {"ACPI\\PNP0700", "*PNP0700"},
              "Standard floppy disk controller",
              "",
              "Control",
              "AllocConfig",
              CmList({CmFull({CmPort(0x3F0, 6), CmPort(0x3F7, 1), CmInterrupt(6, 6), CmDma(2)})})});
  PlantNt(r, {"PCI\\VEN_8086&DEV_7191&SUBSYS_00000000&REV_03\\3&61aaa01&0&08",
              "System",
              {"PCI\\VEN_8086&DEV_7191&SUBSYS_00000000&REV_03", "PCI\\VEN_8086&DEV_7191"},
              "Intel(R) 82443BX Pentium(R) II Processor to AGP Controller",
              "",
              "Control",
              "AllocConfig",
              CmList({CmFull({CmMemory(0xF8000000, 0x04000000)}, 5 /* PCIBus */)})});
  PlantNt(r, {"Root\\LEGACY_BEEP\\0000", "LegacyDriver", {}, "Beep", "", "Control", "", {}});
}

// Windows NT 4: the ports were detected at boot and their resources recorded in
// "LogConf"\"BootConfig"; there is no "Control" with resources yet.
inline void PlantWindowsNt4(sim::SimRegistry& r) {
  PlantNt(r, {"Root\\LEGACY_SERIAL\\0000", "LegacyDriver", {}, "Serial", "", "", "", {}});
  for (const auto& [instance, com, base, irq] :
       std::vector<std::tuple<std::string, std::string, uint16_t, uint8_t>>{
           {"PnPBIOS_13", "COM1", 0x3F8, 4}, {"PnPBIOS_14", "COM2", 0x2F8, 3}}) {
    PlantNt(r, {"Root\\*PNP0501\\" + instance,
                "Ports",
                {"*PNP0501"},
                "Communications Port",
                "Communications Port (" + com + ")",
                "LogConf",
                "BootConfig",
                CmList({CmFull({CmPort(base, 8), CmInterrupt(irq, irq)})})});
  }
}

struct Win9xDevice {
  std::string devnode;  // subkey of Config Manager\Enum
  uint32_t problem = 0;
  std::string hardware_key;  // below HKEY_LOCAL_MACHINE\Enum
  Bytes allocation;
  std::string class_name;
  std::string device_desc;
};

inline void PlantWin9x(sim::SimRegistry& r, const Win9xDevice& d) {
  const std::string live = std::string(kWin9xEnum) + "\\" + d.devnode;
  r.PutRaw(RootKey::kDynData, live, "HardWareKey", platform::kRegSz, Text(d.hardware_key));
  r.PutRaw(RootKey::kDynData, live, "Problem", platform::kRegBinary, Dword(d.problem));
  r.PutRaw(RootKey::kDynData, live, "Status", platform::kRegBinary, Dword(0x0180600A));
  r.PutRaw(RootKey::kDynData, live, "Allocation", platform::kRegBinary, d.allocation);
  if (d.hardware_key.empty()) return;
  const std::string hardware = "Enum\\" + d.hardware_key;
  r.PutRaw(RootKey::kLocalMachine, hardware, "Class", platform::kRegSz, Text(d.class_name));
  r.PutRaw(RootKey::kLocalMachine, hardware, "DeviceDesc", platform::kRegSz, Text(d.device_desc));
  r.PutRaw(RootKey::kLocalMachine, hardware, "Mfg", platform::kRegSz,
           Text("(Standard system devices)"));
}

// Windows 98: the root of the device tree (no hardware key), a keyboard, COM1, COM2 with
// a problem (disabled), a floppy controller with a DMA channel, and the system board's
// memory.
inline void PlantWindows98(sim::SimRegistry& r) {
  PlantWin9x(r, {"C29A0000", 0, "", Allocation({}), "", ""});
  PlantWin9x(r, {"C29A3B30", 0, "BIOS\\*PNP0303\\0A",
                 Allocation({AllocIo(0x60, 0x60), AllocIo(0x64, 0x64), AllocIrq(1)}), "Keyboard",
                 "Standard 101/102-Key or Microsoft Natural Keyboard"});
  PlantWin9x(r,
             {"C29A4480", 0, "BIOS\\*PNP0501\\0D", Allocation({AllocIo(0x3F8, 0x3FF), AllocIrq(4)}),
              "Ports", "Communications Port (COM1)"});
  PlantWin9x(
      r, {"C29A4C40", 22, "BIOS\\*PNP0501\\0E", Allocation({AllocIo(0x2F8, 0x2FF), AllocIrq(3)}),
          "Ports", "Communications Port (COM2)"});
  PlantWin9x(r,
             {"C29A5600", 0, "BIOS\\*PNP0700\\0F",
              Allocation({AllocIo(0x3F0, 0x3F5), AllocIo(0x3F7, 0x3F7), AllocIrq(6), AllocDma(2)}),
              "fdc", "Standard Floppy Disk Controller"});
  PlantWin9x(r, {"C29A5E00", 0, "BIOS\\*PNP0C01\\00", Allocation({AllocMemory(0xE0000, 0xFFFFF)}),
                 "System", "System board"});
}

}  // namespace sfh56::fixtures
