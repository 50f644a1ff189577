#pragma once
// The two binary resource lists the system's device registry holds, read into one set of
// resource lists. Both readers take the value's bytes exactly as the registry gave them
// and never read past them: a length, count or record that reaches past the end ends the
// reading there, and whatever was read before it stays.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sfh56 {

// Entries kept of each kind; later ones are dropped.
inline constexpr size_t kMaxResourcesOfAKind = 16;

// Resources in the order found, appended across every device a query matches.
struct ResourceLists {
  std::vector<uint8_t> Irq;
  std::vector<uint8_t> DmaChannel;
  std::vector<uint16_t> IoBase;  // IoBase[i] .. IoEnd[i] is one range
  std::vector<uint16_t> IoEnd;
  std::vector<uint32_t> MemBase;  // MemBase[i] .. MemEnd[i] is one range
  std::vector<uint32_t> MemEnd;

  void AddIrq(uint8_t irq);
  void AddDmaChannel(uint8_t channel);
  void AddIo(uint16_t first, uint16_t last);
  void AddMemory(uint32_t first, uint32_t last);
  void Clear();
  bool operator==(const ResourceLists&) const = default;
};

// Windows 9x: a device's "Allocation" value. Eight header bytes, then a chain of records,
// each starting where the previous one ends:
//   +0  32-bit length of the record, counted from its start; a record whose low length
//       byte is 0 ends the chain
//   +4  32-bit type: 1 memory, 2 I/O, 3 DMA, 4 interrupt; other types are skipped
//   memory: +12 first address, +16 last address (32-bit each)
//   I/O:    +12 first port, +14 last port (16-bit each)
//   DMA:    +9 channel (8-bit)
//   IRQ:    +10 interrupt number (low byte of a 16-bit field)
// A record too short for its type's fields is skipped by its length.
void ParseAllocationRecords(std::span<const uint8_t> value, ResourceLists& lists);

// Windows NT: a "BootConfig" or "AllocConfig" value, a CM_RESOURCE_LIST of the 32-bit
// system. +0 the number of full descriptors (its low byte counts); each full descriptor is
// a 16-byte header (interface type, bus number, version, revision, then at +12 the number
// of partial descriptors, low byte counting) followed by its 16-byte partial descriptors;
// the next full descriptor starts right after the last of them. A partial descriptor:
//   +0 type: 1 port, 2 interrupt, 3 memory, 4 DMA; other types are ignored
//   port:      +4 first port (low 16 bits), +12 length (low 16 bits)
//   interrupt: +8 interrupt number (low byte of the vector)
//   memory:    +4 first address (low 32 bits), +12 length
//   DMA:       +4 channel (low byte)
void ParseCmResourceList(std::span<const uint8_t> value, ResourceLists& lists);

}  // namespace sfh56
